#include "mail/deliver_mail.hpp"

#include <cstdio>
#include <random>

#include "expand/placeholders.hpp"
#include "mail/message.hpp"
#include "platform/files.hpp"
#include "text/address.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

// A process-wide random part keeps Message-IDs of concurrent requests with
// the same second apart; the counter keeps the mails of one request apart.
std::string RandomToken() {
  std::random_device device;
  std::uint64_t value = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(value));
  return buf;
}

// An address fit for a command and a header line, or kInvalidAddress.
Status CheckAddress(const std::string& address) {
  if (IsUnsafeAddress(address)) return Fail(FailureKind::kInvalidAddress, address);
  if (IsOverlongAddress(address)) {
    // The reason first: the log line is cut at its length limit.
    return Fail(FailureKind::kInvalidAddress, address,
                "over " + std::to_string(kMaxAddressLength) + " octets or a local part over " +
                    std::to_string(kMaxLocalPartLength) + ": " + address);
  }
  return {};
}

bool GetsMail(const FieldDefinition& field, const MailOrder& order) {
  return field.sendTo || (field.respondTo && order.responseBody);
}

// A mail under construction, and what its header needs besides.
struct Draft {
  OutgoingMail mail;
  std::optional<std::string> replyTo;  // checked
};

class OutboxBuilder {
 public:
  OutboxBuilder(const MailOrder& order, const FieldValues& values, const FieldValues& lowered,
                const MailSources& sources, FieldFiles files)
      : order_(order),
        values_(values),
        lowered_(lowered),
        sources_(sources),
        files_(std::move(files)),
        seen_(values),
        placeholders_(order.fields, seen_, sources.env, sources.clock) {}

  Result<Outbox> Run(Notices& notices) {
    Status built = Build();
    if (built) {
      outbox_.after = std::move(pending_);
      return std::move(outbox_);
    }
    for (const OutgoingMail& mail : outbox_.mails) mail.before.TellTo(notices);
    pending_.TellTo(notices);
    return built.failure();
  }

 private:
  Status Build() {
    Result<std::string> body = Expand(order_.sections.messageBody);
    if (!body) return body.failure();
    Result<std::string> subject = Expand(order_.sections.subject);
    if (!subject) return subject.failure();
    // The form PGP encrypts: every line end LF, whatever a value brought.
    mainBody_ = NormalizeLineEnds(*body);
    mainSubject_ = std::move(*subject);

    for (std::size_t i = 0; i < order_.fields.size(); ++i) {
      if (!order_.fields[i].sendTo) continue;
      if (Status added = AddMain(i); !added) return added;
    }
    if (Status added = AddAddressFileMail(); !added) return added;
    if (!order_.responseBody) return {};
    return AddResponses();
  }

  Result<std::string> Expand(std::string_view text) {
    PlainText plain;
    return ExpandPlaceholders(text, placeholders_, plain);
  }

  // A field whose value is missing or was trimmed to nothing has no address.
  bool HasAddress(std::size_t field) {
    if (seen_[field] && !seen_[field]->empty()) return true;
    pending_.Note(NoticeKind::kEmptyRecipient, order_.fields[field].name);
    return false;
  }

  // SENDER expanded now, so that it sees the values as the earlier mails
  // left them; REPLYTO likewise for a main or address-file mail.
  Result<Draft> Start(bool response) {
    Result<std::string> sender = Expand(order_.sections.sender);
    if (!sender) return sender.failure();
    Draft draft;
    draft.mail.response = response;
    if (!response) {
      Result<std::optional<std::string>> replyTo = ReplyTo();
      if (!replyTo) return replyTo.failure();
      draft.replyTo = std::move(*replyTo);
    }
    draft.mail.sender = std::move(*sender);
    Trim(draft.mail.sender);
    if (Status ok = CheckAddress(draft.mail.sender); !ok) return ok.failure();
    if (!IsUsableSender(draft.mail.sender)) {
      return Fail(FailureKind::kInvalidAddress, draft.mail.sender);
    }
    return draft;
  }

  // REPLYTO as the header takes it; none when that leaves nothing, or when
  // it is no usable address (the log says so: a mail without Reply-To
  // still reaches its reader). A reader's "reply" must not go to a list, a
  // quoted or routed address the visitor slipped in.
  Result<std::optional<std::string>> ReplyTo() {
    const std::optional<std::string> none;
    if (!order_.sections.replyTo) return none;
    Result<std::string> expanded = Expand(*order_.sections.replyTo);
    if (!expanded) return expanded.failure();
    std::string address = ReplyToText(*expanded);
    if (address.empty()) return none;
    if (!IsUsableReplyTo(address)) {
      pending_.Note(NoticeKind::kReplyToInvalid, address);
      return none;
    }
    return std::optional<std::string>(std::move(address));
  }

  static Status AddRecipient(Draft& draft, std::string_view text, bool listed) {
    std::string address(text);
    AsciiLowerInPlace(address);
    if (Status ok = CheckAddress(address); !ok) return ok;
    draft.mail.recipients.push_back({std::move(address), listed});
    return {};
  }

  // The field's own recipient; from now on its value reads as it goes out.
  Status AddFieldRecipient(Draft& draft, std::size_t field) {
    seen_[field] = lowered_[field];
    return AddRecipient(draft, *seen_[field], /*listed=*/true);
  }

  // Composes the draft's text with `make` (a MailHeader to a
  // Result<ComposedMail>), which is given the mail's header.
  template <typename Make>
  Status Compose(Draft& draft, std::string_view subject, const std::optional<std::string>& extra,
                 Make make) {
    std::string to;
    for (const MailRecipient& recipient : draft.mail.recipients) {
      if (!recipient.listed) continue;
      if (!to.empty()) to += ", ";
      to += recipient.address;
    }
    // One reading of the clock dates the mail and stamps its Message-ID;
    // the Message-ID's unguessable local part makes the boundary of its
    // parts.
    const platform::LocalTime now = sources_.clock.Now();
    const std::string messageId = NextMessageId(now);
    const std::string boundary = "=_" + messageId.substr(0, messageId.find('@'));
    const MailHeader header{draft.mail.sender, draft.replyTo,       subject, to, extra, now,
                            messageId,         draft.mail.response, boundary};
    Result<ComposedMail> composed = make(header);
    if (!composed) return composed.failure();
    draft.mail.text = std::move(composed->text);
    draft.mail.pieces = std::move(composed->pieces);
    if (composed->longLineKept > 0) {
      draft.mail.longLineNote = "mail to " + (to.empty() ? std::string("the address file") : to) +
                                ", a line of " + std::to_string(composed->longLineKept) + " bytes";
    }
    return {};
  }

  // The files of the ATTACH fields, in their order, encoded when first
  // asked for; the raw bytes are let go then, so the body they came in is
  // freed before any encryption.
  const std::vector<Attachment>& Attachments() {
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (!files_[i]) continue;
      attachments_.push_back(
          {*values_[i], std::make_shared<const std::string>(Base64Lines(files_[i]->bytes))});
      files_[i].reset();
    }
    return attachments_;
  }

  // The main body as the mail's text, with the files.
  Result<ComposedMail> TextWithFiles(const MailHeader& header) {
    return ComposeMail(header, mainBody_, BodyKind::kText, Attachments());
  }

  // The main body encrypted for `key`: PGP/MIME with PGPMIME on or with
  // files (armour can't carry them), else the armour as the body.
  Result<ComposedMail> Encrypted(const MailHeader& header, const std::string& key) {
    const std::vector<Attachment>& files = Attachments();
    const bool pgpMime = order_.pgpMime || !files.empty();
    const MimeEntity entity = pgpMime ? EncryptedEntity(header, mainBody_, files) : MimeEntity{};
    Result<Encryption> encrypted =
        pgpMime ? sources_.pgp.Encrypt(key, entity.Texts()) : sources_.pgp.Encrypt(key, mainBody_);
    if (!encrypted) return encrypted.failure();
    // A keyed mail that cannot be encrypted is never sent, not even in
    // plain.
    if (!encrypted->armour) return Fail(FailureKind::kMailIncomplete, {}, encrypted->problem);
    if (!pgpMime) return ComposeMail(header, *encrypted->armour, BodyKind::kArmour);
    return ComposeEncrypted(header,
                            std::make_shared<const std::string>(std::move(*encrypted->armour)));
  }

  std::string NextMessageId(const platform::LocalTime& now) {
    static const std::string token = RandomToken();
    std::string id;
    AppendPadded(id, now.year, 4);
    for (int part : {now.month, now.day, now.hour, now.minute, now.second}) {
      AppendPadded(id, part, 2);
    }
    id += "." + token + "." + std::to_string(++composed_) + "@" +
          (sources_.localHostName.empty() ? std::string("localhost")
                                          : std::string(sources_.localHostName));
    return id;
  }

  void Add(Draft& draft) {
    draft.mail.before = std::move(pending_);
    pending_ = {};
    outbox_.mails.push_back(std::move(draft.mail));
  }

  Status AddMain(std::size_t field) {
    if (!HasAddress(field)) return {};
    Result<Draft> draft = Start(/*response=*/false);
    if (!draft) return draft.failure();
    if (Status ok = AddFieldRecipient(*draft, field); !ok) return ok;
    const std::optional<std::string>& key = order_.fields[field].pgpKeyId;
    Status composed =
        Compose(*draft, mainSubject_, order_.sections.mailHeader, [&](const MailHeader& header) {
          return key ? Encrypted(header, *key) : TextWithFiles(header);
        });
    if (!composed) return composed;
    Add(*draft);
    return {};
  }

  Status AddAddressFileMail() {
    if (!order_.addressFile) return {};
    Result<std::string> path = sources_.aliases.Resolve(*order_.addressFile, sources_.templatePath);
    if (!path) return path.failure();
    std::string error;
    std::optional<std::string> list = platform::ReadTextFile(*path, &error, kMaxAddressFileSize);
    if (!list) return Fail(FailureKind::kAddressFileUnreadable, {}, *path + ": " + error);

    Result<Draft> draft = Start(/*response=*/false);
    if (!draft) return draft.failure();
    for (const ListedAddress& listed : AddressFileEntries(*list)) {
      if (Status ok = AddRecipient(*draft, listed.address, /*listed=*/false); !ok) return ok;
    }
    if (!draft->mail.recipients.empty()) {
      Status composed = Compose(*draft, mainSubject_, order_.sections.mailHeader,
                                [this](const MailHeader& header) { return TextWithFiles(header); });
      if (!composed) return composed;
    }
    Add(*draft);
    return {};
  }

  Status AddResponses() {
    // Expanded only now, after the main mails' recipients went lower-case.
    std::string subject = mainSubject_;
    std::string body = mainBody_;
    if (order_.responseSubject) {
      Result<std::string> s = Expand(*order_.responseSubject);
      if (!s) return s.failure();
      Result<std::string> b = Expand(*order_.responseBody);
      if (!b) return b.failure();
      subject = std::move(*s);
      body = std::move(*b);
    }
    for (std::size_t i = 0; i < order_.fields.size(); ++i) {
      if (!order_.fields[i].respondTo || !HasAddress(i)) continue;
      Result<Draft> draft = Start(/*response=*/true);
      if (!draft) return draft.failure();
      if (Status ok = AddFieldRecipient(*draft, i); !ok) return ok;
      // Never with files: a response goes to whatever address was typed.
      Status composed = Compose(*draft, subject, order_.sections.responseMailHeader,
                                [&body](const MailHeader& header) -> Result<ComposedMail> {
                                  return ComposeMail(header, body, BodyKind::kText);
                                });
      if (!composed) return composed;
      Add(*draft);
    }
    return {};
  }

  const MailOrder& order_;
  const FieldValues& values_;
  const FieldValues& lowered_;
  const MailSources& sources_;
  FieldFiles files_;  // until Attachments() encodes them
  std::vector<Attachment> attachments_;
  FieldValues seen_;  // the values as the mails built so far leave them
  PlaceholderValues placeholders_;
  HeldNotices pending_;  // since the last mail added
  Outbox outbox_;
  std::string mainBody_;
  std::string mainSubject_;
  std::uint64_t composed_ = 0;
};

}  // namespace

Status CheckEnvelopeAddress(std::string_view address) {
  return CheckAddress(std::string(address));
}

std::string ReplyToText(std::string_view expanded) {
  std::string text = CollapseLineBreaks(expanded);
  Trim(text);
  return text;
}

std::vector<ListedAddress> AddressFileEntries(std::string_view text) {
  std::vector<ListedAddress> entries;
  std::size_t number = 0;
  for (std::string_view line : SplitLines(text)) {
    std::string address(line);
    Trim(address);
    ++number;
    if (!address.empty()) entries.push_back({number, std::move(address)});
  }
  return entries;
}

std::string UnsentMail(const Template& t) {
  std::string asked;
  auto add = [&asked](std::string_view what) {
    if (!asked.empty()) asked += ", ";
    asked += what;
  };
  for (const FieldDefinition& field : t.fields) {
    if (field.sendTo) add("sendto field " + field.name);
    if (field.respondTo && t.responseBody) add("respondto field " + field.name);
  }
  if (t.addressFile) add("ADRFILE");
  if (t.responseBody) add("RMSGBODY");
  return asked;
}

FieldValues LowerCaseRecipients(const MailOrder& order, const FieldValues& values) {
  FieldValues lowered = values;
  for (std::size_t i = 0; i < order.fields.size(); ++i) {
    if (GetsMail(order.fields[i], order) && lowered[i]) AsciiLowerInPlace(*lowered[i]);
  }
  return lowered;
}

Result<Outbox> BuildOutbox(const MailOrder& order, const FieldValues& values,
                           const FieldValues& lowered, const MailSources& sources, Notices& notices,
                           FieldFiles files) {
  return OutboxBuilder(order, values, lowered, sources, std::move(files)).Run(notices);
}

Result<Transcript> SendOutbox(const Outbox& outbox, SmtpTransport& transport,
                              std::string_view server,
                              const std::optional<std::string>& localHostName,
                              SmtpClient::Options options, Notices& notices) {
  options.notices = &notices;
  SmtpClient smtp(transport, std::string(server), options);
  for (const OutgoingMail& mail : outbox.mails) {
    mail.before.TellTo(notices);
    if (&mail == &outbox.mails.front()) {
      if (Status connected = smtp.Connect(localHostName); !connected) return connected.failure();
    }
    Status sent = smtp.Send(mail);
    if (sent) continue;
    // Once the server has taken a mail of this submission, its work is
    // done: a response the server won't take (most often the visitor's
    // own mistyped address) must not turn it into an error page, which
    // would skip the command and the data line and make the visitor send
    // it all again. Alone, the response mail is the submission's work.
    if (!mail.response || smtp.mailsAccepted() == 0 ||
        sent.failure().kind != FailureKind::kSmtpRefused) {
      return sent.failure();
    }
    notices.Note(NoticeKind::kResponseFailed,
                 "to " + mail.recipients.front().address + ", " + sent.failure().detail);
  }
  outbox.after.TellTo(notices);
  smtp.Quit();
  return smtp.transcript();
}

}  // namespace veltrano
