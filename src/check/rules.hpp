// The checks a parsed template allows on its own, without its files. Each
// rule is the request's own, asked of the module that owns it; this file
// only words what it answers.
//
// Errors: REPLYTO written as a fixed text (no placeholder) that gives no
// Reply-To header (mail/deliver_mail.hpp); a RECIPIENTS entry that no
// address can match, or a RECIPIENTS section without entries while a
// sendto field needs one (validate/recipients.hpp); an on/off section whose
// word is neither (template/sections.hpp); a data file without DFILEFORMAT;
// an SMTPSERVER with a bad port. (A fixed SENDER that is no usable sender
// is a template error the template reader reports.)
//
// Warnings: a placeholder that nothing a submission brings gives a value
// (CheckPlaceholders); a sendto field without RECIPIENTS (the form relays
// to any address); a response mail that quotes a field other than the
// address it goes to (anyone's text to an address nobody verified); DEBUG
// not off; a form that mails without a honeypot field, or without a
// RATELIMIT; mail asked for (sendto, respondto with RMSGBODY, ADRFILE)
// without SMTPSERVER; a MAXUPLOAD whose files, base64-encoded, make a mail
// larger than Postfix takes by default; SUCCEEDURL beside SUCCEEDMSGFILE
// (the page is never shown).
#pragma once

#include <span>
#include <string_view>

#include "check/findings.hpp"
#include "template/sections.hpp"

namespace veltrano::check {

void CheckRules(const TemplateReport& report, Findings& out);

// A warning for each placeholder of `text` that nothing a submission brings
// gives a value: no field, no clock reading, no variable a web server sets
// (the request's own lookup, expand/placeholders.hpp); `where` names the
// text ("MSGBODY", "the success page /path"). Nothing is told while bad
// entries left fields out: a placeholder may name one of those.
void CheckPlaceholders(std::string_view text, std::string_view where, const TemplateReport& report,
                       Findings& out, std::span<const std::string_view> pageNames = {});

}  // namespace veltrano::check
