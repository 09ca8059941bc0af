// veltrano-check: reports what is wrong with deployed templates before a
// visitor finds it (check/check.hpp). Run by the administrator, never by a
// web server.
//
//   veltrano-check [--site DIR] [--user USER] [--offline] [--strict] NAME...
//
// One line per finding on standard output, "NAME: error: ..." or
// "NAME: warning: ...", a template's errors before its warnings. Exit
// status 0 without errors, 1 with one (or, with --strict, with a warning),
// 2 for a bad command line (a usage line on standard error) or a template
// that could not be checked.
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.hpp"
#include "check/confined.hpp"
#include "platform/accounts.hpp"
#include "platform/files.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: veltrano-check [--site DIR] [--user USER] [--offline] [--strict] NAME...";
constexpr std::string_view kDefaultUser = "www-data";

struct CommandLine {
  std::string site = ".";
  std::string user = std::string(kDefaultUser);
  bool offline = false;
  bool strict = false;  // warnings count as problems
  bool help = false;
  std::vector<std::string> names;
};

// None for a command line that is not understood.
std::optional<CommandLine> Parse(const std::vector<std::string_view>& args) {
  CommandLine line;
  bool options = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (!options || !arg.starts_with("-") || arg == "-") {
      line.names.emplace_back(arg);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "--offline") {
      line.offline = true;
    } else if (arg == "--strict") {
      line.strict = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--site" || arg == "--user") {
      if (i + 1 == args.size() || args[i + 1].empty()) return std::nullopt;
      (arg == "--site" ? line.site : line.user) = args[++i];
    } else if (arg.starts_with("--site=") || arg.starts_with("--user=")) {
      std::string_view value = arg.substr(7);
      if (value.empty()) return std::nullopt;
      (arg.starts_with("--site=") ? line.site : line.user) = value;
    } else {
      return std::nullopt;
    }
  }
  if (line.names.empty() && !line.help) return std::nullopt;
  return line;
}

int BadCommandLine(std::string_view why = {}) {
  if (!why.empty()) std::cerr << "veltrano-check: " << why << "\n";
  std::cerr << kUsage << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  namespace check = veltrano::check;
  namespace platform = veltrano::platform;
  std::optional<CommandLine> line =
      Parse(std::vector<std::string_view>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!line) return BadCommandLine();
  if (line->help) {
    std::cout << kUsage << "\n";
    return 0;
  }

  // The site directory becomes the checking process's current directory,
  // as it is for the CGI; here it is only looked at.
  std::error_code error;
  std::filesystem::path site = std::filesystem::absolute(line->site, error);
  if (error || !std::filesystem::is_directory(site, error)) {
    return BadCommandLine(check::Printable(line->site) + ": not a directory");
  }
  std::optional<platform::Account> user = platform::FindAccount(line->user);
  if (!user) return BadCommandLine("no user named " + check::Printable(line->user));

  check::Settings settings;
  settings.site = site.lexically_normal().string();
  if (settings.site.size() > 1 && settings.site.ends_with('/')) settings.site.pop_back();
  settings.offline = line->offline;
  platform::ProcessEnvironment env;
  settings.env = &env;  // in the checking process: the environment made for it
#ifdef VELTRANO_PGP_DIRECTORY
  settings.pgpDirectory = VELTRANO_PGP_DIRECTORY;
#endif
  // For a veltrano2.exe built to look elsewhere (and for tests).
  if (std::optional<std::string> own = env.Get("VELTRANO_PGP_DIRECTORY")) {
    settings.pgpDirectory = *own;
  }
  // Only root can take another user's identity; anyone else checks with
  // their own rights, and says so.
  platform::ChildSetup setup;
  setup.resources = platform::ResourceLimits{};
  std::optional<std::string> notAsUser;
  if (platform::IsRoot()) {
    setup.identity = *user;
    settings.user = *user;
  } else {
    settings.user = platform::CurrentAccount().value_or(*user);
    if (settings.user.uid != user->uid) {
      notAsUser = "not run as root: the files are checked as " + settings.user.name + ", not as " +
                  user->name;
    }
  }
  setup.environment = check::CheckingEnvironment(settings.user, env);

  bool failed = false, unchecked = false;
  for (const std::string& name : line->names) {
    check::Findings findings = check::RunConfined(
        setup, [&](check::Findings& out) { check::CheckTemplate(name, settings, out); });
    if (notAsUser) findings.Warning(*notAsUser);
    const std::string shownName = check::Printable(name);
    for (bool errors : {true, false}) {
      for (const check::Finding& f : findings.list()) {
        const bool isError = f.kind != check::Finding::Kind::kWarning;
        if (isError != errors) continue;
        failed = failed || isError || line->strict;
        unchecked = unchecked || f.kind == check::Finding::Kind::kUnchecked;
        std::cout << shownName << (isError ? ": error: " : ": warning: ")
                  << check::Printable(f.text) << "\n";
      }
    }
  }
  std::cout.flush();
  return unchecked ? 2 : failed ? 1 : 0;
}
