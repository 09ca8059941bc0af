// The mails of one request.
// TODO(mail): contract.
#pragma once

#include "driver/request_context.hpp"
#include "mail/pgp_encryptor.hpp"
#include "mail/smtp_client.hpp"

namespace veltrano {

// Sends the main mails, the address-file mail and the response mails.
void DeliverMail(RequestContext& ctx, SmtpClient& smtp, PgpEncryptor& pgp);

}  // namespace veltrano
