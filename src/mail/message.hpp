// One mail's text, from its parts to the bytes of the SMTP DATA phase.
//
// ComposeMail writes the header lines, always in this order: From, Reply-To
// (when given), Subject, To, bcc (its value always empty: blind copies are
// never listed), X-Mailer, Date and Message-ID, Auto-Submitted on automatic
// replies, the MIME lines when the body needs them, then the administrator's
// extra header. Date, Message-ID, Auto-Submitted and MIME-Version are left
// out when the extra header has that field (matched without regard to case
// at a line start). From and Subject stay on one line (each run of CR/LF
// becomes one space, and the value is trimmed); the extra header may hold
// several lines: line ends become CR LF, blank lines are dropped (one would
// end the header block early) and a leading "." is doubled as in the body.
//
// MIME only when needed, so that a mail of ASCII text with short lines goes
// out as it always did. A mail whose header values or body hold a byte of
// 0x80 or above, or whose body has a line over kMaxLineLength octets, gets
// MIME-Version, Content-Type text/plain with its charset and a
// quoted-printable body. The body's charset is UTF-8 when it is valid
// UTF-8, else ISO-8859-1 (every byte is a character in it). When
// the extra header has its own Content-Type or Content-Transfer-Encoding the
// administrator has chosen: the body is left alone, except that long lines
// get soft line breaks if the header declares quoted-printable (otherwise
// they stay, and ComposedMail says so). PGP armour is ASCII with short lines
// and always goes out as it is.
//
// Header values: a subject with a byte of 0x80 or above becomes encoded
// words in its own charset, chosen as the body's is but apart from it, so a
// subject and a body typed in different charsets both read right. So does
// an ASCII subject holding "=?", which readers would otherwise decode as an
// encoded word into other text; no MIME-Version comes with it, so an ASCII
// mail stays as it was. An ASCII subject whose line would be longer than
// kFoldedLineLength is folded at its spaces (encoded words only when no
// fold keeps its lines within kMaxLineLength). From,
// To and Reply-To hold addresses, which encoded words must not stand in
// (RFC 2047 5), so they go out as they are.
//
// Files (mail/attachments.hpp) make a main or address-file mail
// multipart/mixed (RFC 2046): MIME-Version, the Content-Type with the
// header's boundary, then the text part, then one base64 part per file in
// the order given. The text part carries its own Content-Type, charset and
// transfer encoding by the rules above (7bit us-ascii for ASCII text with
// short lines), or the extra header's Content-Type and
// Content-Transfer-Encoding lines, which then leave the mail's own header
// for it. A mail without files is composed exactly as before.
//
// PGP/MIME (RFC 3156): EncryptedEntity is what is encrypted, the text part
// as above and, with files, all of it as multipart/mixed; ComposeEncrypted
// gives the mail around the armour of it: multipart/encrypted with
// protocol "application/pgp-encrypted", a part holding "Version: 1", and an
// application/octet-stream part holding the armour. The header lines
// (Subject, From, To, the extra header's others) stay outside, in plain.
//
// PrepareBodyForWire is the one conversion of a body to the wire. Every
// body, whether the main body, the address-file copy, a response body, PGP
// armour, a quoted-printable encoding of any of them or the parts of a mail
// with files, passes through it (or WireWriter, the same conversion in
// pieces) exactly once: CR LF, a lone LF and a lone CR each become CR LF,
// and every line that begins with "." gets one more "." (first and last
// lines too), so no line of a body can end the DATA phase early or lose its
// dot at the server. No line end is added at the end.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/attachments.hpp"
#include "mail/outbox.hpp"
#include "platform/system.hpp"

namespace veltrano {

struct MailHeader {
  std::string_view from;
  std::optional<std::string_view> replyTo;  // an address the caller checked
  std::string_view subject;
  std::string_view to;                    // the To list, addresses joined by ", "
  std::optional<std::string_view> extra;  // MAILHDR or RMAILHDR, as the template has it
  platform::LocalTime date;
  std::string_view messageId;  // without angle brackets
  bool autoReply = false;      // a response mail: Auto-Submitted: auto-replied
  // The multipart boundary of a mail with parts: unique and unguessable, so
  // that no visitor's text can hold it.
  std::string_view boundary{};
};

enum class BodyKind {
  kText,    // the template's text with the visitor's values
  kArmour,  // PGP armour, sent as it is
};

struct ComposedMail {
  // The header lines, a blank line, the body for the wire, CR LF; with
  // parts, up to the first shared text, and the rest in `pieces`.
  std::string text;
  std::vector<MailPiece> pieces{};
  // The longest body line, when one over kMaxLineLength octets was left as
  // it is because the administrator's header chose the encoding; else 0.
  std::size_t longLineKept = 0;
};

ComposedMail ComposeMail(const MailHeader& header, std::string_view body, BodyKind kind,
                         const std::vector<Attachment>& attachments = {});

// A MIME entity with LF line ends: `head`, then the pieces in order.
struct MimeEntity {
  std::string head;
  std::vector<MailPiece> pieces;
  // Every text of it in order, for writing it out; views into it.
  std::vector<std::string_view> Texts() const;
};

// What a PGP/MIME mail encrypts: the body (a kText body) and the files.
MimeEntity EncryptedEntity(const MailHeader& header, std::string_view body,
                           const std::vector<Attachment>& attachments);

// The PGP/MIME mail around `armour`, the encryption of EncryptedEntity.
ComposedMail ComposeEncrypted(const MailHeader& header, SharedText armour);

std::string PrepareBodyForWire(std::string_view body);

// PrepareBodyForWire for a text that arrives in pieces (a piece may end
// inside a CR LF pair or at a line's first byte).
class WireWriter {
 public:
  // Appends the wire form of `text` to `out`.
  void Feed(std::string_view text, std::string& out);
  // Ends the text: a CR held back becomes a line end.
  void Finish(std::string& out);

 private:
  bool lineStart_ = true;
  bool pendingCr_ = false;
};

// Every CR LF and every lone CR in `text` as LF.
std::string NormalizeLineEnds(std::string_view text);

// RFC 5322 date-time in local time with a numeric zone, e.g.
// "Sat, 07 Mar 1998 14:05:09 +0100".
std::string MailDate(const platform::LocalTime& time);

}  // namespace veltrano
