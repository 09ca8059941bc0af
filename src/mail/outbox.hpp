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
  // dropped with RSET before DATA.
  std::string text;
  // When the text keeps a body line over 998 octets: the log's detail,
  // told as the text goes out.
  std::string longLineNote;
};

struct Outbox {
  std::vector<OutgoingMail> mails;  // in the order they are sent
  HeldNotices after;                // told after the last mail
};

}  // namespace veltrano
