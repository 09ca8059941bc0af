// The mail phase of one request, in three steps: the recipient values as
// the mails take them (LowerCaseRecipients), every mail finished
// (BuildOutbox), then all of them sent in one SMTP session (SendOutbox).
// The values passed in are never changed. Without SMTPSERVER there is no
// mail phase; UnsentMail words for the log what such a template asks for.
//
// The mails, in this order: one main mail per sendto field (template order;
// encrypted when the field names a PGP key), one mail to the addresses of
// the address file as blind copies, and, when the template has RMSGBODY,
// one response mail per respondto field. The files of the ATTACH fields go
// with the main and address-file mails, never with a response mail (which
// goes to whatever address a visitor typed); they are encoded once, and
// every mail shares the encoding. An encrypted main mail is PGP/MIME (RFC
// 3156) with PGPMIME on or with files, else the armour as its body; either
// way pgp.exe is given one file and gives back its armour. A sendto or respondto field
// without a value (or with one that trimming left empty) gets no mail, and
// the log says so. No connection is made when no mail goes out.
//
// Recipient values go out in lower case, and every later use (the command,
// the data file, the success page) sees them so: LowerCaseRecipients gives
// the values with each sendto field, and with RMSGBODY each respondto field,
// lower-cased. Expansions see the values as they would if each mail were
// sent before the next is built: SUBJECT and MSGBODY once, before any
// lower-casing; SENDER afresh for each mail, with the recipient fields of
// the mails before it lower-cased; RSUBJECT and RMSGBODY after the main and
// address-file mails. MAILHDR goes on the main and address-file mails,
// RMAILHDR on the response mails, both unexpanded. Without RSUBJECT,
// response mails carry the main subject and body.
//
// SENDER, expanded and trimmed, must be empty (the null sender) or one plain
// address (text/address.hpp): anything else is an invalid address, found
// before any mail is sent.
//
// REPLYTO, expanded afresh for each main and address-file mail like SENDER,
// becomes their Reply-To header (ReplyToText: each run of CR/LF one space,
// trimmed): the visitor's address, while From stays an address of the
// site's own. Nothing left gives no header; anything but one plain address
// that routes nowhere else (text/address.hpp) gives no header and a notice.
// Response mails carry no Reply-To and are marked as automatic replies.
//
// Address file: read in text mode, one address per line, each trimmed;
// blank lines give no recipient and lines have no length limit. A file whose
// text is over kMaxAddressFileSize is not read: it fails as an unreadable one.
//
// BuildOutbox fails before anything is sent: "Veltrano AdrFile error" when
// the address file cannot be read, an expansion's failure, a sender or
// recipient that is unsafe or too long for a server to take (text/
// address.hpp: kInvalidAddress), a pgp.exe that cannot be started
// (kPgpNotStarted) and a main mail whose encryption gave nothing
// (kMailIncomplete). The notices held for the mails' turns go out first.
//
// SendOutbox connects before the first mail and ends with QUIT; its
// failures are the SMTP client's (smtp_client.hpp). Mails already sent stay
// sent. One exception: a response mail the server refuses or never answers
// (kSmtpRefused) after it accepted an earlier mail of the request is a
// notice (its address and the reply), and the session goes on with the next
// mail.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/outbox.hpp"
#include "mail/pgp_encryptor.hpp"
#include "mail/smtp_client.hpp"
#include "mail/transport.hpp"
#include "model/fields.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "model/template.hpp"
#include "platform/system.hpp"
#include "template/aliases.hpp"

namespace veltrano {

// The template's parts that say what to send, and to whom.
struct MailOrder {
  const MailSections& sections;
  const std::vector<FieldDefinition>& fields;
  const std::optional<std::string>& addressFile;
  const std::optional<std::string>& responseSubject;
  const std::optional<std::string>& responseBody;
  bool pgpMime = false;  // PGPMIME on
};

// The file of each field that has one to mail (Submission::files).
using FieldFiles = std::vector<std::optional<FileBytes>>;

// What the mails are made of besides the template and the values.
struct MailSources {
  const platform::Environment& env;  // placeholders
  const platform::Clock& clock;      // placeholders, Date and Message-ID
  const PathAliases& aliases;        // the address file's name
  std::string_view templatePath;
  PgpEncryptor& pgp;
  std::string_view localHostName;  // Message-IDs; empty: "localhost"
};

// The longest address file read: some 4,000 addresses of the longest kind,
// far more than one mail's recipients a mail server takes (Postfix: 1,000).
inline constexpr std::size_t kMaxAddressFileSize = 1024 * 1024;

// An address fit for a command and a header line (kInvalidAddress if not):
// what every sender and recipient must be, whoever supplied it.
Status CheckEnvelopeAddress(std::string_view address);

// The text of the Reply-To header an expanded REPLYTO gives.
std::string ReplyToText(std::string_view expanded);

// The addresses of an address file's text, each line trimmed, a blank one
// left out; `line` counts from 1.
struct ListedAddress {
  std::size_t line;
  std::string address;
};
std::vector<ListedAddress> AddressFileEntries(std::string_view text);

// What a template without SMTPSERVER asks to be mailed (its recipient
// fields, ADRFILE, RMSGBODY), for the log; empty when it asks for nothing.
std::string UnsentMail(const Template& t);

// `values` with each recipient value that gets a mail in lower case.
FieldValues LowerCaseRecipients(const MailOrder& order, const FieldValues& values);

// `lowered` is LowerCaseRecipients(order, values). `files` are taken, and
// let go once encoded. When the building fails, the notices held so far go
// to `notices` first.
Result<Outbox> BuildOutbox(const MailOrder& order, const FieldValues& values,
                           const FieldValues& lowered, const MailSources& sources, Notices& notices,
                           FieldFiles files = {});

// The session's transcript, for the debug page.
Result<Transcript> SendOutbox(const Outbox& outbox, SmtpTransport& transport,
                              std::string_view server,
                              const std::optional<std::string>& localHostName,
                              SmtpClient::Options options, Notices& notices);

}  // namespace veltrano
