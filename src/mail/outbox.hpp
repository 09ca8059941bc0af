// The mails of one request as values: each finished (addresses checked,
// text composed) before the first SMTP command, so that nothing can fail
// half way through building them while the server holds a transaction open,
// and nothing is half sent.
//
// A mail keeps the log lines that belong before its turn (recipient fields
// that got no mail, a REPLYTO that is no address), so that the log tells
// the mails and what the server said of each in the order they went, as it
// would if each mail were built just before it is sent.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/notices.hpp"

namespace veltrano {

// Notices kept back, to be told later in the order they came.
class HeldNotices final : public Notices {
 public:
  void Note(NoticeKind kind, std::string detail) override {
    held_.emplace_back(kind, std::move(detail));
  }
  void TellTo(Notices& notices) const {
    for (const auto& [kind, detail] : held_) notices.Note(kind, detail);
  }

 private:
  std::vector<std::pair<NoticeKind, std::string>> held_;
};

// Text that every mail carrying it shares (a file's base64, an armour),
// so that it is held once however many mails carry it.
using SharedText = std::shared_ptr<const std::string>;

// A shared text and the text that follows it in a mail, both with LF line
// ends, prepared for the wire (WireWriter, mail/message.hpp) as they are
// sent.
struct MailPiece {
  SharedText shared;
  std::string after;
};

struct MailRecipient {
  std::string address;  // lower-cased and checked
  // In the To line. A blind copy is not, and its RCPT TO stays out of the
  // transcript, which the debug page shows.
  bool listed = true;
};

struct OutgoingMail {
  HeldNotices before;  // told when its turn comes, before it is sent
  bool response = false;
  std::string sender;  // trimmed and checked
  std::vector<MailRecipient> recipients;
  // Header block, blank line, the body for the wire, CR LF; empty for a
  // mail without recipients (an address file without addresses), which is
  // dropped with RSET before DATA. A mail with files or PGP/MIME holds its
  // body up to the first shared text here, and the rest in `pieces`.
  std::string text;
  std::vector<MailPiece> pieces;
  // When the text keeps a body line over 998 octets: the log's detail,
  // told as the text goes out.
  std::string longLineNote;
};

struct Outbox {
  std::vector<OutgoingMail> mails;  // in the order they are sent
  HeldNotices after;                // told after the last mail
};

}  // namespace veltrano
