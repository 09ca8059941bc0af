#include "mail/pgp_encryptor.hpp"

#include "platform/files.hpp"
#include "platform/process.hpp"
#include "platform/temp_file.hpp"
#include "response/response.hpp"

namespace veltrano {

namespace {

constexpr const char* kPgpProgram = "pgp.exe";

// Removes a file when the scope ends, however it ends (a fatal page, an
// exhausted heap), so no plain text or armour is left in the temporary
// directory.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(std::string path) : path_(std::move(path)) {}
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;
  ~RemoveOnExit() { Now(); }
  void Now() {
    if (!path_.empty()) platform::RemoveFile(path_);
    path_.clear();
  }

 private:
  std::string path_;
};

}  // namespace

PgpEncryptor::PgpEncryptor(const platform::Environment& env) {
  std::optional<std::string> temp = env.Get("TEMP");
  if (!temp) temp = env.Get("temp");
  tempDirectories_ = {env.Get("TMP"), temp, env.Get("TMPDIR")};
}

std::optional<std::string> PgpEncryptor::Encrypt(std::string_view keyId, std::string_view body) {
  if (!WriteTempFile(body)) return std::nullopt;
  const std::string plainName = tempFileName_;
  RemoveOnExit plain(plainName);
  RemoveOnExit armored(plainName + ".asc");

  std::optional<int> status =
      platform::RunQuietly({kPgpProgram, "-eaw", plainName, std::string(keyId)});
  if (!status) ReportFatal(std::nullopt, "pgp didn't run");

  // pgp wipes the plain file itself when it succeeds; whatever it left goes
  // now, while the armour still holds the number (platform/temp_file.hpp):
  // a plain file under it is our leftover, not another request's new file.
  // The armour goes last, so the armour read here is ours.
  plain.Now();
  tempFileName_ = plainName + ".asc";
  std::optional<std::string> armour = ReadArmoredFile();
  armored.Now();
  // An empty file is no encryption; sending it would pass a failure off as mail.
  if (armour && armour->empty()) return std::nullopt;
  return armour;
}

bool PgpEncryptor::WriteTempFile(std::string_view body) {
  std::optional<std::string> name =
      platform::CreateTempTextFile(platform::ChooseTempDirectory(tempDirectories_), body);
  if (!name) return false;
  tempFileName_ = std::move(*name);
  return true;
}

std::optional<std::string> PgpEncryptor::ReadArmoredFile() const {
  return platform::ReadTextFile(tempFileName_);
}

}  // namespace veltrano
