// veltrano-check: the problems of a deployed template that can be found
// without a visitor, for the administrator.
//
// CheckTemplate runs in the checking process (confined.hpp), with the
// rights of the web server's user: whatever it opens, reads, lists, runs or
// connects to, it does as that user would, so nothing it reports shows what
// the user could not see. The site directory becomes its current
// directory, as it is for the CGI. A template is named as the form's ACTION
// query string names it, and is found as veltrano2.exe finds it: through
// the alias file of the site directory (when the user can read it), with
// the same refusals (absolute names, ".." components). Its sections and
// field entries are parsed with every problem reported, not only the first
// (template/sections.hpp). Then, in turn:
//   - the template's own rules (rules.hpp): addresses, RECIPIENTS, the
//     on/off switches, placeholders, and the warnings about abuse;
//   - the files and programs it uses (files.hpp);
//   - unless offline, the SMTP server: connection, greeting, HELO and QUIT,
//     each wait bounded by kSmtpWait; no mail is sent.
// Nothing is created or changed, save what gpg itself keeps in the
// keyring's directory when it is asked about a key.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "check/findings.hpp"
#include "platform/accounts.hpp"
#include "platform/system.hpp"

namespace veltrano::check {

// A mail server that has not answered within this time would hold every
// submission as long; the check need not wait as long as the CGI does.
inline constexpr std::chrono::seconds kSmtpWait{10};

// The PATH web servers give CGI programs (Apache, nginx with fcgiwrap).
inline constexpr std::string_view kWebServerPath =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

struct Settings {
  std::string site;  // the site directory, absolute
  // Who the checking process is: the web server's user, or this program's
  // own when it is not run as root. Lines name it.
  platform::Account user;
  bool offline = false;
  std::string pgpDirectory;  // looked in for pgp.exe before the PATH
  // The checking process's environment: TMP, TEMP, TMPDIR and GNUPGHOME as
  // the web server would set them for the CGI.
  const platform::Environment* env = nullptr;
};

// Adds every finding for the template `name` to `out`, errors and warnings
// in the order they were found.
void CheckTemplate(std::string_view name, const Settings& settings, Findings& out);

}  // namespace veltrano::check
