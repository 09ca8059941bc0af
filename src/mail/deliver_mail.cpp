#include "mail/deliver_mail.hpp"

#include "mail/message.hpp"
#include "platform/files.hpp"
#include "text/address.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

std::optional<std::string_view> View(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

class Delivery {
 public:
  Delivery(const MailOrder& order, FieldValues& values, MailTexts& texts, SmtpClient& smtp,
           PgpEncryptor& pgp, Notices& notices)
      : order_(order), values_(values), texts_(texts), smtp_(smtp), pgp_(pgp), notices_(notices) {}

  Status Run() {
    Result<std::string> body = texts_.Expand(order_.sections.messageBody);
    if (!body) return body.failure();
    Result<std::string> subject = texts_.Expand(order_.sections.subject);
    if (!subject) return subject.failure();
    // The form PGP encrypts: every line end LF, whatever a value brought.
    mainBody_ = NormalizeLineEnds(*body);
    mainSubject_ = std::move(*subject);

    if (order_.sections.mailHeader) smtp_.SetExtraHeader(*order_.sections.mailHeader);
    for (std::size_t i = 0; i < order_.fields.size(); ++i) {
      if (!order_.fields[i].sendTo) continue;
      if (Status sent = SendMain(i); !sent) return sent;
    }
    if (Status sent = SendToAddressFile(); !sent) return sent;
    if (!order_.responseBody) return {};
    return SendResponses();
  }

 private:
  // A field whose value is missing or was trimmed to nothing has no address.
  bool HasAddress(std::size_t field) {
    if (values_[field] && !values_[field]->empty()) return true;
    notices_.Note(NoticeKind::kEmptyRecipient, order_.fields[field].name);
    return false;
  }

  // MAIL FROM with SENDER expanded now, so that it sees the values as the
  // earlier mails left them; REPLYTO likewise for a main or address-file
  // mail. A response mail is marked as an automatic reply instead.
  Result<MailExtras> StartMail(bool response) {
    Result<std::string> sender = texts_.Expand(order_.sections.sender);
    if (!sender) return sender.failure();
    MailExtras extras;
    extras.autoReply = response;
    if (!response) {
      Result<std::optional<std::string>> replyTo = ReplyTo();
      if (!replyTo) return replyTo.failure();
      extras.replyTo = std::move(*replyTo);
    }
    if (Status ok = smtp_.MailFrom(order_.sections.server, *sender); !ok) return ok.failure();
    return extras;
  }

  // REPLYTO on one line and trimmed; none when that leaves nothing, or when
  // it is not one plain address (the log says so: a mail without Reply-To
  // still reaches its reader). A reader's "reply" must not go to a list, a
  // quoted or routed address the visitor slipped in.
  Result<std::optional<std::string>> ReplyTo() {
    const std::optional<std::string> none;
    if (!order_.sections.replyTo) return none;
    Result<std::string> expanded = texts_.Expand(*order_.sections.replyTo);
    if (!expanded) return expanded.failure();
    std::string address = CollapseLineBreaks(*expanded);
    Trim(address);
    if (address.empty()) return none;
    if (!IsPlainAddress(address)) {
      notices_.Note(NoticeKind::kReplyToInvalid, address);
      return none;
    }
    return std::optional<std::string>(std::move(address));
  }

  // RCPT TO for a field; from now on its value reads as it went out.
  Status AddRecipient(std::size_t field) {
    AsciiLowerInPlace(*values_[field]);
    return smtp_.RcptTo(*values_[field]);
  }

  Status SendMain(std::size_t field) {
    if (!HasAddress(field)) return {};
    Result<MailExtras> extras = StartMail(/*response=*/false);
    if (!extras) return extras.failure();
    if (Status ok = AddRecipient(field); !ok) return ok;
    Status sent;
    if (const std::optional<std::string>& key = order_.fields[field].pgpKeyId) {
      Result<Encryption> encrypted = pgp_.Encrypt(*key, mainBody_);
      if (!encrypted) return encrypted.failure();
      extras->body = BodyKind::kArmour;
      sent = smtp_.MsgBody(View(encrypted->armour), mainSubject_, *extras);
      if (!sent && sent.failure().kind == FailureKind::kMailIncomplete) {
        return Fail(FailureKind::kMailIncomplete, {}, encrypted->problem);
      }
    } else {
      sent = smtp_.MsgBody(mainBody_, mainSubject_, *extras);
    }
    smtp_.ClearToList();
    return sent;
  }

  Status SendToAddressFile() {
    if (!order_.addressFile) return {};
    Result<std::string> path = texts_.ResolvePath(*order_.addressFile);
    if (!path) return path.failure();
    std::string error;
    std::optional<std::string> list = platform::ReadTextFile(*path, &error);
    if (!list) return Fail(FailureKind::kAddressFileUnreadable, {}, *path + ": " + error);

    Result<MailExtras> extras = StartMail(/*response=*/false);
    if (!extras) return extras.failure();
    for (std::string_view line : SplitLines(*list)) {
      std::string address(line);
      Trim(address);
      if (address.empty()) continue;
      if (Status ok = smtp_.RcptBcc(address); !ok) return ok;
    }
    return smtp_.MsgBody(mainBody_, mainSubject_, *extras);
  }

  Status SendResponses() {
    smtp_.ClearToList();
    smtp_.ClearExtraHeader();
    // Expanded only now, after the main mails lower-cased their fields.
    std::string subject = mainSubject_;
    std::string body = mainBody_;
    if (order_.responseSubject) {
      Result<std::string> s = texts_.Expand(*order_.responseSubject);
      if (!s) return s.failure();
      Result<std::string> b = texts_.Expand(*order_.responseBody);
      if (!b) return b.failure();
      subject = std::move(*s);
      body = std::move(*b);
    }
    if (order_.sections.responseMailHeader) {
      smtp_.SetExtraHeader(*order_.sections.responseMailHeader);
    }
    for (std::size_t i = 0; i < order_.fields.size(); ++i) {
      if (!order_.fields[i].respondTo || !HasAddress(i)) continue;
      Status sent = SendResponse(i, subject, body);
      smtp_.ClearToList();
      if (sent) continue;
      // Once the server has taken a mail of this submission, its work is
      // done: a response the server won't take (most often the visitor's
      // own mistyped address) must not turn it into an error page, which
      // would skip the command and the data line and make the visitor send
      // it all again. Alone, the response mail is the submission's work.
      if (smtp_.mailsAccepted() == 0 || sent.failure().kind != FailureKind::kSmtpRefused) {
        return sent;
      }
      notices_.Note(NoticeKind::kResponseFailed,
                    "to " + *values_[i] + ", " + sent.failure().detail);
    }
    return {};
  }

  Status SendResponse(std::size_t field, std::string_view subject, std::string_view body) {
    Result<MailExtras> extras = StartMail(/*response=*/true);
    if (!extras) return extras.failure();
    if (Status ok = AddRecipient(field); !ok) return ok;
    return smtp_.MsgBody(body, subject, *extras);
  }

  const MailOrder& order_;
  FieldValues& values_;
  MailTexts& texts_;
  SmtpClient& smtp_;
  PgpEncryptor& pgp_;
  Notices& notices_;
  std::string mainBody_;
  std::string mainSubject_;
};

}  // namespace

Status DeliverMail(const MailOrder& order, FieldValues& values, MailTexts& texts, SmtpClient& smtp,
                   PgpEncryptor& pgp, Notices& notices) {
  return Delivery(order, values, texts, smtp, pgp, notices).Run();
}

}  // namespace veltrano
