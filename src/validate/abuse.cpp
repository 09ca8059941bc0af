#include "validate/abuse.hpp"

#include "validate/rate_limit.hpp"
#include "validate/recipients.hpp"

namespace veltrano {

namespace {

std::string ClientText(const std::optional<std::string>& client) {
  return client.value_or("(no REMOTE_ADDR)");
}

}  // namespace

bool SprungTrap(const std::vector<FieldDefinition>& fields, const FieldValues& values,
                const std::optional<std::string>& client, Notices& notices) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].honeypot && values[i] && !values[i]->empty()) {
      notices.Note(NoticeKind::kHoneypotFilled,
                   "field " + fields[i].name + ", client " + ClientText(client));
      return true;
    }
  }
  return false;
}

Status CheckRecipients(const Template& t, const FieldValues& values) {
  if (!t.abuse.recipients) return {};
  for (std::size_t i = 0; i < t.fields.size(); ++i) {
    const std::optional<std::string>& address = values[i];
    if (!t.fields[i].sendTo || !address || address->empty()) continue;
    if (!RecipientAllowed(*address, *t.abuse.recipients)) {
      return Fail(FailureKind::kRecipientRefused, *address,
                  "field " + t.fields[i].name + ": " + *address);
    }
  }
  return {};
}

Status CountAgainstLimit(const RateLimit& limit, const std::optional<std::string>& client,
                         long long now, const platform::Deadline& budget, Notices& notices) {
  RateVerdict verdict = CountSubmission(limit, client.value_or(""), now, budget);
  if (verdict.droppedLines > 0) {
    notices.Note(NoticeKind::kRateLimitRepaired,
                 limit.path + ": " + std::to_string(verdict.droppedLines) + " line(s)");
  }
  switch (verdict.outcome) {
    case RateVerdict::Outcome::kAccepted:
      return {};
    case RateVerdict::Outcome::kUnusable:
      notices.Note(NoticeKind::kRateLimitUnusable, verdict.problem);
      return {};
    case RateVerdict::Outcome::kRefused:
      break;
  }
  return Fail(FailureKind::kTooManySubmissions, {},
              "client " + ClientText(client) + ", " + std::to_string(limit.count) + " in " +
                  std::to_string(limit.seconds) + " s");
}

}  // namespace veltrano
