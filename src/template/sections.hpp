// The tagged sections of a template, read into a Template.
//
// A section is the text between the first occurrence of its opening tag and
// the first occurrence of its closing tag, tags matched without regard to
// ASCII case, anywhere in the template (sections stand in any order, and a
// tag quoted inside another section counts). When that closing tag stands
// before the end of the opening tag, the closing tag is looked for again
// after the opening tag. The text is copied as it stands; the sections whose
// content is a file name or header lines are trimmed.
//
// Each section is looked for only under its condition: the mail sections
// (REPLYTO among them) only with SMTPSERVER, DFILE TRUNCATE only without
// DFILE APPEND, DFILEFORMAT only with a data file. A required section
// without either tag gives the "Tag missing" failure naming the first
// missing tag in the order they are looked for; an absent optional section
// is none. SUCCEEDMSGFILE is read too, but its absence is kept in the
// Template to be reported only at the end of an accepted request. The
// template is the administrator's text and is trusted as such.
//
// The abuse controls, each off without its section: RECIPIENTS (one address
// or "@domain" per line, trimmed, blank lines ignored), RATELIMIT ("PATH
// COUNT SECONDS": an absolute path and two positive numbers, else a
// template failure), DEBUG ("off", any case, turns the debug switch off) and
// DFILEGUARD ("on", any case); each on/off section is kept as written too
// (Template::switches). MAXUPLOAD (a number of bytes, at most
// kMaxUploadCeiling) bounds the files of the ATTACH fields, and PGPMIME
// ("on" or "off") chooses RFC 3156 for encrypted mails; anything else in
// either is a template failure.
//
// The answers, each as before without its section: FATALMSGFILE (trimmed)
// names the site's own failure page; SUCCEEDURL (trimmed: an http or https
// URL or a path, no placeholder; text/web_address.hpp) answers success
// with a redirect, and makes SUCCEEDMSGFILE optional; ALLOWORIGIN ("*" or
// origins separated by white space) lets pages of those origins post and
// read the answers. A malformed SUCCEEDURL or origin is a template failure.
//
// A SENDER without placeholders is what every mail is sent from: unless it
// is empty (the null sender) or one plain address (text/address.hpp), it is
// a template failure (kSenderNotAddress), found before any submission is
// read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/result.hpp"
#include "model/template.hpp"
#include "template/template_file.hpp"

namespace veltrano {

// The value of an on/off section's word: "on" or "off", any case; none for
// any other text.
std::optional<bool> SwitchWord(std::string_view word);

// Every section of the template, its field definitions included.
Result<Template> ReadSections(TemplateFile file);

// Every problem of a template, where ReadSections stops at the first: each
// missing required tag (a missing SUCCEEDMSGFILE too), a malformed
// RATELIMIT and each bad field entry, in the order they are found; and what
// could be read, the good field entries among it.
struct TemplateReport {
  Template parsed;
  std::vector<Failure> problems;
  bool fieldsComplete = true;  // false: a bad entry, or no FORMDATA, left fields out
  bool errorPageNamed = true;  // false: ERRMSGFILE is missing (a problem above)
};
TemplateReport ReadSectionsReportingAll(TemplateFile file);

// The text between `openTag` and `closeTag` in `text`, or none for an
// absent optional section.
Result<std::optional<std::string>> ExtractSection(std::string_view text, std::string_view openTag,
                                                  std::string_view closeTag, bool required);

}  // namespace veltrano
