#include "mail/deliver_mail.hpp"

namespace veltrano {

void DeliverMail(RequestContext&, SmtpClient&, PgpEncryptor&) {}

}  // namespace veltrano
