// The checks a parsed template allows on its own, without its files.
//
// Errors: SENDER or REPLYTO written as a fixed text (no placeholder) that
// is not a plain address (text/address.hpp); a RECIPIENTS entry that is
// neither a plain address nor "@domain" (it matches no value), or a
// RECIPIENTS section without entries while a sendto field needs one; a
// DEBUG section other than "off" or "on", a DFILEGUARD section other than
// "on" or "off"; a data file without DFILEFORMAT; an SMTPSERVER with a bad
// port.
//
// Warnings: a placeholder that names no field, neither systemtime nor
// systemdate, and no variable a web server sets (CheckPlaceholders); a
// sendto field without RECIPIENTS (the form relays to any address); a
// response mail that quotes a field other than the address it goes to
// (anyone's text to an address nobody verified); DEBUG not off; a form that
// mails without a honeypot field, or without a RATELIMIT; mail asked for
// (sendto, respondto with RMSGBODY, ADRFILE) without SMTPSERVER.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "check/findings.hpp"
#include "model/template.hpp"

namespace veltrano::check {

// A template as the checks see it.
struct CheckedTemplate {
  const Template& t;
  std::string_view text;  // without its comments
  // False when bad entries left fields out: a placeholder may then name one
  // of those, and is not told about.
  bool fieldsComplete = true;
  bool errorPageNamed = true;  // false: ERRMSGFILE is missing, and reported so
};

void CheckRules(const CheckedTemplate& checked, Findings& out);

// The text of the section `tag` (e.g. "DEBUG") as the template reads it, or
// none when it is missing.
std::optional<std::string> Section(std::string_view text, std::string_view tag);

// A warning for each placeholder of `text` that names nothing a submission
// gives it a value from; `where` names the text ("MSGBODY", "the success
// page /path").
void CheckPlaceholders(std::string_view text, std::string_view where,
                       const CheckedTemplate& checked, Findings& out);

}  // namespace veltrano::check
