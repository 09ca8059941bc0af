// The files and programs a template uses, checked by the checking process
// with its own rights, the web server's user's (check.hpp): the kernel's
// answer, groups and access control lists included.
//
// Errors: a page or the address file that the user can't read (or that is
// over the limit the CGI reads it up to); the data file, the rate-limit
// state file (never through a link) or the temporary directory of PGP
// encryption that the user can't write or create; pgp.exe that is not found
// (the install's libexec directory, then the web server's PATH) or can't be
// run; a PGP key that gpg, run as the user with the user's home, can't
// encrypt for.
//
// What the user can read is read, once, and looked into: a page without
// its header block (CGI header lines and the empty line that ends them), an
// error page without $err$ and an address file line that is no usable
// address are errors; placeholders in the pages that name nothing, and a
// data file inside the site directory (a visitor could name it as a
// template), are warnings.
#pragma once

#include "check/check.hpp"
#include "check/findings.hpp"
#include "template/aliases.hpp"
#include "template/sections.hpp"

namespace veltrano::check {

void CheckFiles(const TemplateReport& report, const PathAliases& aliases, const Settings& settings,
                Findings& out);

}  // namespace veltrano::check
