// veltrano-check: the problems of a deployed template that can be found
// without a visitor, for the administrator.
//
// A template is named as the form's ACTION query string names it, and is
// found as veltrano2.exe finds it: through the alias file of the site
// directory, with the same refusals (absolute names, ".." components); the
// current directory is the site directory, as it is for the CGI. Its
// sections and field entries are parsed with every problem reported, not
// only the first (template/sections.hpp). Then, in turn:
//   - the template's own rules (rules.hpp): addresses, RECIPIENTS, DEBUG
//     and DFILEGUARD, placeholders, and the warnings about abuse;
//   - the files it uses, checked as the web server's user (files.hpp);
//   - unless offline, the SMTP server: connection, greeting, HELO and QUIT,
//     each wait bounded by kSmtpWait; no mail is sent.
// Nothing is created or changed, save what gpg itself keeps in the
// keyring's directory when it is asked about a key.
#pragma once

#include <chrono>
#include <optional>
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
  std::string site;  // the site directory, absolute; the current directory
  // Whose rights the files are checked with, and the identity the checking
  // child takes (none: this program's own, when it is not root).
  platform::Account checkedAs;
  std::optional<platform::Account> identity;
  bool offline = false;
  std::string pgpDirectory;  // looked in for pgp.exe before the PATH
  // Where TMP, TEMP, TMPDIR and GNUPGHOME are read, as the web server would
  // set them for the CGI.
  const platform::Environment* env = nullptr;
};

// Every finding for the template `name`, errors and warnings in the order
// they were found.
Findings CheckTemplate(std::string_view name, const Settings& settings);

}  // namespace veltrano::check
