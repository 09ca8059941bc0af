#include "validate/rate_limit.hpp"

#include <algorithm>
#include <deque>
#include <optional>

#include "platform/state_file.hpp"
#include "text/text.hpp"
#include "validate/rate_limit_internal.hpp"

namespace veltrano {

namespace {

struct Entry {
  long long time = 0;
  long long window = 0;
  std::string_view client;
  std::string_view line;  // with its LF
};

// A client address as one word: REMOTE_ADDR comes from the web server, but
// nothing in it may break a line of the state file.
std::string ClientKey(std::string_view client) {
  if (client.empty()) return "-";
  std::string key(client.substr(0, 128));
  for (char& c : key) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) c = '_';
  }
  return key;
}

// At most 18 digits: far beyond any time or window, and always a long long.
std::optional<long long> Number(std::string_view word) {
  std::optional<unsigned long long> n = ParseDecimal(word);
  if (!n || word.size() > 18) return std::nullopt;
  return static_cast<long long>(*n);
}

// A line with its LF, or the text of one without it.
std::optional<Entry> ParseLine(std::string_view line) {
  std::string_view text = line.ends_with('\n') ? line.substr(0, line.size() - 1) : line;
  std::size_t first = text.find(' ');
  std::size_t second = first == std::string_view::npos ? first : text.find(' ', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  std::optional<long long> time = Number(text.substr(0, first));
  std::optional<long long> window = Number(text.substr(first + 1, second - first - 1));
  std::string_view client = text.substr(second + 1);
  if (!time || !window || client.empty()) return std::nullopt;
  // Only what ClientKey writes: a CR (a CR LF line of a text file) is not.
  for (char c : client) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) return std::nullopt;
  }
  return Entry{*time, *window, client, line};
}

}  // namespace

RateUpdate UpdateRateState(std::string_view state, const RateLimit& limit, std::string_view client,
                           long long now) {
  const std::string key = ClientKey(client);
  RateUpdate update;
  std::deque<Entry> kept;
  std::size_t size = 0;
  long long recent = 0;
  for (std::size_t at = 0; at < state.size();) {
    std::size_t end = state.find('\n', at);
    if (end == std::string_view::npos) {
      ++update.droppedLines;  // a line cut short by a full disk or a crash
      break;
    }
    std::string_view line = state.substr(at, end + 1 - at);
    at = end + 1;
    std::optional<Entry> entry = ParseLine(line);
    if (!entry) {
      ++update.droppedLines;
      continue;
    }
    if (entry->time + entry->window <= now) continue;  // its window has passed
    if (entry->client == key && entry->time > now - limit.seconds) ++recent;
    kept.push_back(*entry);
    size += line.size();
  }
  update.refused = recent >= limit.count;
  std::string added;
  if (!update.refused) {
    added = std::to_string(now) + " " + std::to_string(limit.seconds) + " " + key + "\n";
  }
  while (!kept.empty() && size + added.size() > kMaxRateState) {
    size -= kept.front().line.size();
    kept.pop_front();
  }
  update.state.reserve(size + added.size());
  for (const Entry& entry : kept) update.state += entry.line;
  update.state += added;
  return update;
}

bool IsRateState(std::string_view content) {
  return content.empty() || ParseLine(content.substr(0, content.find('\n'))).has_value();
}

RateVerdict CountSubmission(const RateLimit& limit, std::string_view client, long long now,
                            const platform::Deadline& budget,
                            platform::Deadline::Clock::duration lockWait) {
  RateVerdict verdict;
  auto unusable = [&verdict, &limit](const std::string& error) {
    verdict.outcome = RateVerdict::Outcome::kUnusable;
    verdict.problem = limit.path + ": " + error;
    return verdict;
  };
  std::string error;
  std::optional<platform::StateFile> file =
      platform::StateFile::Open(limit.path, error, budget, lockWait);
  if (!file) return unusable(error);
  const std::string& state = file->content();
  if (!IsRateState(state)) return unusable("not a rate-limit state file, left as it is");
  RateUpdate update = UpdateRateState(state, limit, client, now);
  if (update.state != state) {
    const auto lines = std::count(state.begin(), state.end(), '\n');
    if (!file->Replace(update.state, error)) {
      return unusable(error + ", its " + std::to_string(lines) + " lines kept as they were");
    }
  }
  verdict.droppedLines = update.droppedLines;
  if (update.refused) verdict.outcome = RateVerdict::Outcome::kRefused;
  return verdict;
}

}  // namespace veltrano
