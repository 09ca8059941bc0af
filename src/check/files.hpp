// The files and programs a template uses, checked as the web server's user.
//
// Every access is tried by a child process that has become that user
// (platform/access_probe.hpp), so the answer is the kernel's, groups and
// access control lists included. Errors: the alias file, the template, a
// page or the address file that the user can't read; the data file, the
// rate-limit state file (never through a link) or the temporary directory
// of PGP encryption that the user can't write or create; pgp.exe that is
// not found (the install's libexec directory, then the web server's PATH)
// or can't be run; a PGP key that gpg, run as the user with the user's
// home, can't encrypt for.
//
// The contents are read by this program, and only where the user can read
// them, so that nothing is shown that the user could not see: a page
// without its header block (CGI header lines and the empty line that ends
// them), an error page without $err$ and an address file line that is no
// usable address are errors; placeholders in the pages that name nothing,
// and a data file inside the site directory (a visitor could name it as a
// template), are warnings.
#pragma once

#include <string>

#include "check/check.hpp"
#include "check/findings.hpp"
#include "check/rules.hpp"
#include "template/aliases.hpp"

namespace veltrano::check {

// The alias file and the template at `path` (absolute), as the user reads
// them; false, with the error reported, when the user can't read the
// template: nothing in it is then read or shown.
bool CheckTemplateReadable(const std::string& path, const Settings& settings, Findings& out);

void CheckFiles(const CheckedTemplate& checked, const PathAliases& aliases,
                const Settings& settings, Findings& out);

}  // namespace veltrano::check
