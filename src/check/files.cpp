#include "check/files.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "check/closest.hpp"
#include "check/rules.hpp"
#include "mail/deliver_mail.hpp"
#include "mail/pgp_encryptor.hpp"
#include "platform/access_probe.hpp"
#include "platform/files.hpp"
#include "platform/state_file.hpp"
#include "platform/temp_file.hpp"
#include "response/answers.hpp"
#include "response/catalogue.hpp"
#include "response/pages.hpp"
#include "text/text.hpp"

namespace veltrano::check {

namespace {

using platform::AccessKind;

// A directory holding more names than this is not searched for a typo's
// original (a spool, a cache).
constexpr std::size_t kMaxDirectoryEntries = 10000;
// gpg answers about a local key at once; one that hangs (a keyring on a
// dead network file system, a lock another gpg holds) gets this long.
const platform::ChildLimits kGpgLimits{std::chrono::seconds(30), std::chrono::seconds(5)};

// A file or program the template uses, and what the user may do with it.
struct FileUse {
  platform::AccessProbe probe;
  std::string what;  // e.g. "the error page (ERRMSGFILE)"
  platform::AccessOutcome outcome;
  std::optional<std::string> text;  // kRead: what was read
};

std::string FirstLine(std::string_view text) {
  for (std::string_view line : SplitLines(text)) {
    std::string shown(line);
    Trim(shown);
    if (!shown.empty()) return shown;
  }
  return "no message";
}

// True when `path` lies below `directory`, links resolved as far as they
// exist.
bool Inside(const std::string& path, const std::string& directory) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::weakly_canonical(path, error);
  if (error) return false;
  const fs::path base = fs::weakly_canonical(directory, error);
  if (error) return false;
  const fs::path relative = file.lexically_relative(base);
  return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// The name in the directory of `path` that the missing file's name is most
// likely a typo of: " (did you mean NAME?)", or nothing.
std::string DidYouMean(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  const std::string directory = slash == 0 ? "/" : path.substr(0, slash);
  std::optional<std::vector<std::string>> names =
      platform::ListDirectory(directory, kMaxDirectoryEntries);
  if (!names) return {};
  const std::vector<std::string_view> candidates(names->begin(), names->end());
  std::optional<std::string> meant = Closest(std::string_view(path).substr(slash + 1), candidates);
  return meant ? " (did you mean " + Shown(*meant) + "?)" : "";
}

void ReportDenied(const Settings& s, const FileUse& use, Findings& out) {
  const platform::AccessOutcome& o = use.outcome;
  if (o.allowed) return;
  std::string verb = "read ";
  if (use.probe.kind == AccessKind::kWrite) verb = o.exists ? "write " : "create ";
  if (use.probe.kind == AccessKind::kCreateIn) verb = "create files in ";
  const bool missing = use.probe.kind == AccessKind::kRead && !o.exists;
  out.Error(s.user.name + " cannot " + verb + use.what + " " + Shown(use.probe.path) + ": " +
            o.reason + (missing ? DidYouMean(use.probe.path) : ""));
}

class FileCheck {
 public:
  FileCheck(const TemplateReport& report, const PathAliases& aliases, const Settings& settings,
            Findings& out)
      : report_(report), t_(report.parsed), aliases_(aliases), s_(settings), out_(out) {}

  void Run() {
    std::optional<std::size_t> errorPage, successPage, failurePage, addressFile;
    // A missing section is reported already; a present one names a file.
    if (report_.errorPageNamed) {
      errorPage = Read(t_.errorPageFile, "the error page (ERRMSGFILE)", kMaxPageFileSize);
    }
    // With SUCCEEDURL the success page is never shown (a rule warns).
    if (t_.successPageFile && !t_.successUrl) {
      successPage =
          Read(*t_.successPageFile, "the success page (SUCCEEDMSGFILE)", kMaxPageFileSize);
    }
    if (t_.failurePageFile) {
      failurePage = Read(*t_.failurePageFile, "the failure page (FATALMSGFILE)", kMaxPageFileSize);
    }
    if (t_.mail && t_.addressFile) {
      addressFile = Read(*t_.addressFile, "the address file (ADRFILE)", kMaxAddressFileSize);
    }
    if (t_.dataFile) {
      if (std::optional<std::string> data = Resolve(t_.dataFile->name)) {
        Use(AccessKind::kWrite, *data, "the data file (DFILE)");
        // A data file that is not there yet is made by the first
        // submission; one beside it with a name a typo away is likely the
        // one meant.
        const platform::AccessOutcome& outcome = uses_.back().outcome;
        if (outcome.allowed && !outcome.exists) {
          if (std::string meant = DidYouMean(*data); !meant.empty()) {
            out_.Warning("the data file (DFILE) " + Shown(*data) + " does not exist yet" + meant);
          }
        }
        if (Inside(*data, s_.site)) {
          out_.Warning("the data file (DFILE) " + Shown(*data) +
                       " lies inside the site directory " + Shown(s_.site) +
                       ": a visitor can name it as a template");
        }
      }
    }
    if (t_.abuse.rateLimit) {
      // The state is replaced by renaming a new file over it, under a lock
      // file beside it: its directory and the lock file must be the user's
      // to write, whether or not the state exists yet.
      // Each probe only when the one before passed, so that one cause
      // gives one line.
      const std::string& state = t_.abuse.rateLimit->path;
      Use(AccessKind::kWrite, state, "the rate-limit state file (RATELIMIT)",
          /*followLinks=*/false);
      if (uses_.back().outcome.allowed && uses_.back().outcome.exists) {
        Use(AccessKind::kCreateIn, std::filesystem::path(state).parent_path().string(),
            "the directory of the rate-limit state file (RATELIMIT)");
      }
      if (uses_.back().outcome.allowed) {
        Use(AccessKind::kWrite, platform::StateFile::LockPath(state),
            "the lock file of the rate-limit state file (RATELIMIT)", /*followLinks=*/false);
      }
    }
    const std::size_t firstProgram = PgpUses();
    for (std::size_t i = 0; i < firstProgram; ++i) ReportDenied(s_, uses_[i], out_);
    if (firstProgram < uses_.size()) ReportPgpProgram(firstProgram);

    if (errorPage) CheckPage(uses_[*errorPage], kErrorPage);
    if (successPage) CheckPage(uses_[*successPage], kSuccessPage);
    if (failurePage) CheckPage(uses_[*failurePage], kFailurePage);
    if (addressFile) CheckAddressFile(uses_[*addressFile]);
    CheckKeys();
  }

 private:
  std::string Absolute(const std::string& path) const {
    if (path.starts_with('/')) return path;
    return s_.site + "/" + path;
  }

  // The path of a file the template names (through the aliases), or none
  // with the failure reported.
  std::optional<std::string> Resolve(const std::string& name) {
    Result<std::string> path = aliases_.Resolve(name, t_.path);
    if (!path) {
      out_.Error(LogText(path.failure()));
      return std::nullopt;
    }
    return Absolute(*path);
  }

  // A file the template names, read now up to `limit` as the CGI reads it:
  // where it stands among the uses.
  std::optional<std::size_t> Read(const std::string& name, std::string what, std::size_t limit) {
    std::optional<std::string> path = Resolve(name);
    if (!path) return std::nullopt;
    FileUse& use = uses_.emplace_back(FileUse{{AccessKind::kRead, *path}, std::move(what), {}, {}});
    std::string error;
    use.text = platform::ReadTextFile(*path, &error, limit);
    use.outcome = {use.text.has_value(), platform::PathExists(*path), error};
    return uses_.size() - 1;
  }

  void Use(AccessKind kind, std::string path, std::string what, bool followLinks = true) {
    platform::AccessProbe probe{kind, std::move(path), followLinks};
    platform::AccessOutcome outcome = platform::ProbeAccess({probe}).front();
    uses_.push_back({std::move(probe), std::move(what), std::move(outcome), {}});
  }

  std::vector<std::string> KeyFields() const {
    std::vector<std::string> keys;
    if (!t_.mail) return keys;
    for (const FieldDefinition& field : t_.fields) {
      if (field.sendTo && field.pgpKeyId) keys.push_back(*field.pgpKeyId);
    }
    return keys;
  }

  // With encryption: the temporary directory, then every place pgp.exe may
  // be, in the order it is looked for. Returns where the program places
  // start among the uses.
  std::size_t PgpUses() {
    if (KeyFields().empty()) return uses_.size();
    Use(AccessKind::kCreateIn,
        platform::ChooseTempDirectory(platform::TempDirectoryCandidates(*s_.env)),
        "the temporary directory for PGP");
    const std::size_t first = uses_.size();
    const PgpPlaces places = PgpLookup(s_.pgpDirectory, kWebServerPath);
    if (places.installed) Use(AccessKind::kExecute, *places.installed, "");
    for (const std::string& path : places.onPath) Use(AccessKind::kExecute, path, "");
    return first;
  }

  // The install's pgp.exe is used whenever anything is there; only when
  // nothing is does the web server's PATH count (mail/pgp_encryptor.hpp).
  void ReportPgpProgram(std::size_t first) {
    std::size_t i = first;
    if (!s_.pgpDirectory.empty()) {
      const platform::AccessOutcome& installed = uses_[i].outcome;
      if (installed.allowed) return;
      if (installed.exists) {
        out_.Error(s_.user.name + " cannot run " + Shown(uses_[i].probe.path) + ": " +
                   installed.reason);
        return;
      }
      ++i;
    }
    for (; i < uses_.size(); ++i) {
      if (uses_[i].outcome.allowed) return;
    }
    std::string where = s_.pgpDirectory.empty() ? "" : "in " + Shown(s_.pgpDirectory) + ", then ";
    out_.Error("pgp.exe not found for the PGP keys of the template: looked for " + where +
               "on the web server's PATH " + std::string(kWebServerPath));
  }

  enum PageKind { kErrorPage, kSuccessPage, kFailurePage };

  void CheckPage(const FileUse& use, PageKind kind) {
    if (!use.text) return;
    const std::string named = use.what + " " + Shown(use.probe.path);
    if (!HeaderBlockEnd(*use.text)) {
      out_.Error(named +
                 " has no header block: it must begin with CGI header lines such as "
                 "Content-type: text/html and an empty line");
    }
    std::string text = *use.text;
    if (kind == kErrorPage) {
      std::optional<std::size_t> marker = FindNoCase(text, kErrorMarker);
      if (!marker) {
        out_.Error(named + " holds no $err$: a submission with failed fields gets an empty answer");
      } else {
        text.erase(*marker, kErrorMarker.size());
      }
    }
    const std::string_view failureNames[] = {kFailureMessageName, kFailureTitleName};
    CheckPlaceholders(text, named, report_, out_,
                      kind == kFailurePage ? failureNames : std::span<const std::string_view>());
  }

  void CheckAddressFile(const FileUse& use) {
    if (!use.text) return;
    for (const ListedAddress& listed : AddressFileEntries(*use.text)) {
      if (CheckEnvelopeAddress(listed.address)) continue;
      out_.Error("the address file (ADRFILE) " + Shown(use.probe.path) + ", line " +
                 std::to_string(listed.line) + ": " + Shown(listed.address) +
                 " is not a usable mail address");
    }
  }

  // Each key once, encrypted for by gpg as pgp.exe runs it: as the user,
  // with the user's home, never looking on the network.
  void CheckKeys() {
    std::vector<std::string> done;
    const std::optional<std::string> gnupgHome = s_.env->Get("GNUPGHOME");
    const std::string keyring = gnupgHome ? *gnupgHome : s_.user.home + "/.gnupg";
    platform::ChildSetup gpgSetup;
    gpgSetup.environment = {"PATH=" + std::string(kWebServerPath), "HOME=" + s_.user.home,
                            "LANG=C"};
    if (gnupgHome) gpgSetup.environment.push_back("GNUPGHOME=" + *gnupgHome);
    for (const std::string& key : KeyFields()) {
      if (std::find(done.begin(), done.end(), key) != done.end()) continue;
      done.push_back(key);
      platform::ChildReport gpg = platform::RunProgramAs(
          gpgSetup,
          {"gpg", "--batch", "--no-tty", "--quiet", "--trust-model", "always",
           "--no-auto-key-locate", "--no-auto-key-retrieve", "--armor", "--encrypt", "--recipient",
           key, "--output", "/dev/null"},
          kGpgLimits);
      if (gpg.outcome.Succeeded()) continue;
      const std::string named = "PGP key " + Shown(key);
      if (gpg.outcome.ending == platform::ChildOutcome::Ending::kExited &&
          gpg.outcome.code != 127) {
        out_.Error(named + " cannot be used from " + s_.user.name + "'s keyring " + Shown(keyring) +
                   ": " + Shown(FirstLine(gpg.output)));
      } else {
        const std::string why = gpg.outcome.ending == platform::ChildOutcome::Ending::kExited
                                    ? FirstLine(gpg.output)
                                    : "gpg " + gpg.outcome.Describe(kGpgLimits);
        out_.Error(named + " cannot be checked: " + Shown(why));
      }
    }
  }

  const TemplateReport& report_;
  const Template& t_;
  const PathAliases& aliases_;
  const Settings& s_;
  Findings& out_;
  std::vector<FileUse> uses_;
};

}  // namespace

void CheckFiles(const TemplateReport& report, const PathAliases& aliases, const Settings& settings,
                Findings& out) {
  FileCheck(report, aliases, settings, out).Run();
}

}  // namespace veltrano::check
