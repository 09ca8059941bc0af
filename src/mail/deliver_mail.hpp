// The mails of one request, over one SMTP connection, in this order: one
// main mail per sendto field (template order; encrypted when the field
// names a PGP key), one mail to the addresses of the address file as blind
// copies, and, when the template has RMSGBODY, one response mail per
// respondto field. No connection is made when no mail goes out. A sendto or
// respondto field without a value (or with one that trimming left empty)
// gets no mail, and the log says so.
//
// SENDER is expanded afresh for each mail; SUBJECT and MSGBODY once, before
// the first recipient; RSUBJECT and RMSGBODY after the main and address-file
// mails. Once a field's mail is under way its value is lower-cased in
// `values`, as it went out, so every later use (later expansions, the data
// file, the success page) sees it in lower case. MAILHDR goes on the main
// and address-file mails, RMAILHDR on the response mails, both unexpanded.
// Without RSUBJECT, response mails carry the main subject and body.
//
// REPLYTO, expanded afresh for each main and address-file mail like SENDER,
// becomes their Reply-To header (each run of CR/LF one space, trimmed): the
// visitor's address, while From stays an address of the site's own. Nothing
// left gives no header; anything but one plain address (text/address.hpp)
// gives no header and a notice. Response mails carry no Reply-To and are
// marked as automatic replies.
//
// Address file: read whole in text mode, one address per line, each trimmed;
// blank lines give no recipient and lines have no length limit.
//
// Failures end the mail phase: "Veltrano AdrFile error" when the address
// file cannot be read, the SMTP client's failures (smtp_client.hpp), an
// expansion's, and a main mail whose encryption gave nothing
// (kMailIncomplete). Mails already sent stay sent. One exception: a
// response mail the server refuses or never answers (kSmtpRefused) after it
// accepted an earlier mail of the request is a notice (its address and the
// reply), and the phase goes on with the next response mail.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/pgp_encryptor.hpp"
#include "mail/smtp_client.hpp"
#include "model/fields.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "model/template.hpp"

namespace veltrano {

// What the mail phase asks of the request around it.
class MailTexts {
 public:
  virtual ~MailTexts() = default;
  // A template text with its placeholders expanded, as the values stand now.
  virtual Result<std::string> Expand(std::string_view text) = 0;
  // The path a file name of the template stands for (aliases).
  virtual Result<std::string> ResolvePath(std::string_view name) = 0;
};

// The template's parts that say what to send, and to whom.
struct MailOrder {
  const MailSections& sections;
  const std::vector<FieldDefinition>& fields;
  const std::optional<std::string>& addressFile;
  const std::optional<std::string>& responseSubject;
  const std::optional<std::string>& responseBody;
};

Status DeliverMail(const MailOrder& order, FieldValues& values, MailTexts& texts, SmtpClient& smtp,
                   PgpEncryptor& pgp, Notices& notices);

}  // namespace veltrano
