// The abuse controls a template may turn on, each a verdict on an accepted
// submission before any of its work is done (model/template.hpp holds the
// settings). The client is the web server's REMOTE_ADDR; the log names it
// "(no REMOTE_ADDR)" when there is none.
//
// SprungTrap: a honeypot field that came filled in marks a robot. The log
// names the field and the client; the caller shows the success page and
// does nothing else, so the robot learns nothing.
//
// CheckRecipients: with RECIPIENTS, every sendto value must be an address
// the template allows (validate/recipients.hpp), or the submission ends with
// kRecipientRefused: otherwise the form relays a visitor's mail to whomever
// the visitor names.
//
// CountAgainstLimit: with RATELIMIT, the submission is counted
// (validate/rate_limit.hpp); one over the limit ends with
// kTooManySubmissions. A state file that cannot be used (locked by another
// process past its brief wait among others) lets the submission through
// with a notice, and one with unreadable lines is repaired with a notice.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/fields.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "model/template.hpp"
#include "platform/deadline.hpp"

namespace veltrano {

bool SprungTrap(const std::vector<FieldDefinition>& fields, const FieldValues& values,
                const std::optional<std::string>& client, Notices& notices);

Status CheckRecipients(const Template& t, const FieldValues& values);

// `now` in seconds since the epoch.
Status CountAgainstLimit(const RateLimit& limit, const std::optional<std::string>& client,
                         long long now, const platform::Deadline& budget, Notices& notices);

}  // namespace veltrano
