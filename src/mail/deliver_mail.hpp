// The mails of one request, over one SMTP connection, in this order: one
// main mail per sendto field (template order; encrypted when the field
// names a PGP key), one mail to the addresses of the address file as blind
// copies, and, when the template has RMSGBODY, one response mail per
// respondto field. Nothing is sent without SMTPSERVER, and no connection is
// made when no mail goes out. A sendto or respondto field without a value
// (or with one that trimming left empty) gets no mail.
//
// SENDER is expanded afresh for each mail; SUBJECT and MSGBODY once, before
// the first recipient. Sending to a field lower-cases its value in place, so
// every later use (later expansions, the data file, the success page) sees
// it in lower case. MAILHDR goes on the main and address-file mails, RMAILHDR
// on the response mails, both unexpanded.
//
// Address file: read whole in text mode, one address per line, each trimmed;
// blank lines give no recipient and lines have no length limit. Failures end
// the request through ReportFatal: "Veltrano AdrFile error" when the file
// cannot be read, "SMTP Communication error" when MAIL FROM is refused, and
// the SMTP client's own pages (smtp_client.hpp). Mails already sent stay sent.
#pragma once

#include <optional>
#include <string_view>

#include "driver/request_context.hpp"
#include "mail/pgp_encryptor.hpp"
#include "mail/smtp_client.hpp"

namespace veltrano {

void DeliverMail(RequestContext& ctx, SmtpClient& smtp, PgpEncryptor& pgp);

// The address-file mail with the main body and subject; nothing without an
// ADRFILE section. Stores the resolved path in ctx.addressFile.
void SendToAddressFile(RequestContext& ctx, SmtpClient& smtp, std::optional<std::string_view> body,
                       std::optional<std::string_view> subject);

}  // namespace veltrano
