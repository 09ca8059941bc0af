#include "mail/deliver_mail.hpp"

#include <string>

#include "expand/message_body.hpp"
#include "expand/placeholders.hpp"
#include "platform/files.hpp"
#include "response/response.hpp"
#include "template/template_file.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

std::optional<std::string> Expand(const RequestContext& ctx,
                                  const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return ExpandPlaceholders(ctx, *text, Escaping::kNone);
}

std::optional<std::string_view> View(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

// A field whose value is missing or was trimmed to nothing has no address.
bool HasAddress(const FormField& field) {
  return field.value && !field.value->empty();
}

// MAIL FROM with SENDER expanded now, so that it sees the values as the
// earlier mails left them. A template without SENDER cannot mail.
void StartMail(RequestContext& ctx, SmtpClient& smtp) {
  if (!ctx.sender) ReportFatal(std::nullopt, kMsgBodyFailureMessage);
  std::string sender = ExpandPlaceholders(ctx, *ctx.sender, Escaping::kNone);
  if (!smtp.MailFrom(*ctx.smtpServer, sender)) {
    ReportFatal("SMTP Communication error", smtp.GetTranscript());
  }
}

}  // namespace

void DeliverMail(RequestContext& ctx, SmtpClient& smtp, PgpEncryptor& pgp) {
  if (!ctx.smtpServer) return;

  std::optional<std::string> mainBody;
  if (ctx.messageBody) mainBody = PrepareMessageBody(ctx, *ctx.messageBody);
  const std::optional<std::string> mainSubject = Expand(ctx, ctx.subject);

  if (ctx.mailHeader) smtp.SetExtraHeader(*ctx.mailHeader);
  for (FormField& field : ctx.fields) {
    if (!field.sendTo || !HasAddress(field)) continue;
    StartMail(ctx, smtp);
    smtp.RcptTo(*field.value);
    if (field.pgpKeyId) {
      std::optional<std::string> armour;
      if (mainBody) armour = pgp.Encrypt(*field.pgpKeyId, *mainBody);
      smtp.MsgBody(View(armour), View(mainSubject));
    } else {
      smtp.MsgBody(View(mainBody), View(mainSubject));
    }
    smtp.ClearToList();
  }

  SendToAddressFile(ctx, smtp, View(mainBody), View(mainSubject));

  if (!ctx.responseBody) return;
  smtp.ClearToList();
  smtp.ClearExtraHeader();
  // Expanded only now, after the main mails lower-cased their fields.
  std::optional<std::string> responseSubject = mainSubject;
  std::optional<std::string> responseBody = mainBody;
  if (ctx.responseSubject) {
    responseSubject = Expand(ctx, ctx.responseSubject);
    responseBody = Expand(ctx, ctx.responseBody);
  }
  if (ctx.responseMailHeader) smtp.SetExtraHeader(*ctx.responseMailHeader);
  for (FormField& field : ctx.fields) {
    if (!field.respondTo || !HasAddress(field)) continue;
    StartMail(ctx, smtp);
    smtp.RcptTo(*field.value);
    smtp.MsgBody(View(responseBody), View(responseSubject));
    smtp.ClearToList();
  }
}

void SendToAddressFile(RequestContext& ctx, SmtpClient& smtp, std::optional<std::string_view> body,
                       std::optional<std::string_view> subject) {
  if (!ctx.addressFile) return;
  ctx.addressFile = ResolveTemplatePath(ctx, *ctx.addressFile);
  std::optional<std::string> list = platform::ReadTextFile(*ctx.addressFile);
  if (!list) {
    ReportFatal("Veltrano AdrFile error", "Address File could not be found or load error occured");
  }

  StartMail(ctx, smtp);
  for (std::string_view line : SplitLines(*list)) {
    std::string address(line);
    Trim(address);
    if (!address.empty()) smtp.RcptBcc(address);
  }
  smtp.MsgBody(body, subject);
}

}  // namespace veltrano
