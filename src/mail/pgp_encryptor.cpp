#include "mail/pgp_encryptor.hpp"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/files.hpp"
#include "platform/temp_file.hpp"

namespace veltrano {

namespace {

Encryption Without(std::string problem) {
  return Encryption{std::nullopt, std::move(problem)};
}

}  // namespace

PgpEncryptor::PgpEncryptor(const platform::Environment& env, platform::ChildLimits limits,
                           std::string programDirectory)
    : tempDirectories_(platform::TempDirectoryCandidates(env)),
      limits_(limits),
      programDirectory_(std::move(programDirectory)) {}

Result<Encryption> PgpEncryptor::Encrypt(std::string_view keyId,
                                         const std::vector<std::string_view>& texts) {
  std::string error;
  // Declared first, so it goes last, with whatever pgp left in it.
  std::unique_ptr<platform::TempDirectory> directory =
      platform::TempDirectory::Create(platform::ChooseTempDirectory(tempDirectories_), &error);
  if (!directory) return Without("no temporary directory: " + error);
  std::unique_ptr<platform::TempPath> plain =
      platform::CreateTempTextFile(directory->path(), texts, &error);
  if (!plain) return Without("no temporary file: " + error);
  platform::TempPath armoured(plain->path() + ".asc");

  std::string where;
  platform::ChildOutcome outcome = RunPgp(plain->path(), keyId, where);
  if (outcome.ending == platform::ChildOutcome::Ending::kNotStarted) {
    return Fail(FailureKind::kPgpNotStarted, {}, outcome.Describe(limits_) + where);
  }
  // pgp wipes the plain file itself when it succeeds; whatever it left goes
  // now, before the armour is read.
  plain->Remove();
  std::optional<std::string> armour = platform::ReadTextFile(armoured.path(), &error);
  armoured.Remove();
  const std::string how = "pgp.exe " + outcome.Describe(limits_) + " for key " + std::string(keyId);
  if (outcome.ending == platform::ChildOutcome::Ending::kTimedOut) return Without(how);
  if (!armour) return Without(how + ", no armoured file: " + error);
  // An empty file is no encryption; sending it would pass a failure off as mail.
  if (armour->empty()) return Without(how + ", empty armoured file");
  return Encryption{std::move(armour), {}};
}

// The program directory's pgp.exe when it has one; only one that is not
// there at all falls back to PATH (one that is there but can't be run is
// the administrator's to fix, and the log names it). `where` tells the log
// where pgp.exe was looked for.
platform::ChildOutcome PgpEncryptor::RunPgp(const std::string& file, std::string_view keyId,
                                            std::string& where) const {
  std::vector<std::string> argv{std::string(kPgpProgram), "-eaw", file, std::string(keyId)};
  if (std::optional<std::string> installed = PgpLookup(programDirectory_, {}).installed) {
    argv[0] = *installed;
    platform::ChildOutcome outcome = platform::RunQuietly(argv, limits_);
    const bool absent = outcome.ending == platform::ChildOutcome::Ending::kNotStarted &&
                        (outcome.code == ENOENT || outcome.code == ENOTDIR);
    if (!absent) {
      where = " (" + argv[0] + ")";
      return outcome;
    }
    argv[0] = kPgpProgram;
    where = " (looked for in " + programDirectory_ + ", then on PATH)";
  }
  return platform::RunQuietly(argv, limits_);
}

PgpPlaces PgpLookup(std::string_view programDirectory, std::string_view searchPath) {
  PgpPlaces places;
  const std::string name(kPgpProgram);
  if (!programDirectory.empty()) places.installed = std::string(programDirectory) + "/" + name;
  for (std::size_t at = 0; !searchPath.empty() && at <= searchPath.size();) {
    const std::size_t end = std::min(searchPath.find(':', at), searchPath.size());
    const std::string_view directory = searchPath.substr(at, end - at);
    places.onPath.push_back((directory.empty() ? "." : std::string(directory)) + "/" + name);
    at = end + 1;
  }
  return places;
}

}  // namespace veltrano
