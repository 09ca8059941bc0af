#include "response/accept.hpp"

#include <optional>

#include "text/text.hpp"

namespace veltrano {

namespace {

// Weights in thousandths; kUnranked: no range of that kind seen.
constexpr int kUnranked = -1;
constexpr int kFullWeight = 1000;

std::string_view TrimSpaceTab(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// qvalue = ( "0" [ "." 0*3DIGIT ] ) / ( "1" [ "." 0*3("0") ] ), in thousandths.
std::optional<int> Weight(std::string_view text) {
  if (text.empty() || text.size() > 5 || (text[0] != '0' && text[0] != '1')) return std::nullopt;
  int weight = (text[0] - '0') * kFullWeight;
  if (text.size() == 1) return weight;
  if (text[1] != '.') return std::nullopt;
  int scale = 100;
  for (char c : text.substr(2)) {
    if (c < '0' || c > '9') return std::nullopt;
    weight += (c - '0') * scale;
    scale /= 10;
  }
  if (weight > kFullWeight) return std::nullopt;
  return weight;
}

// The weight of one element's parameters; none when its q is malformed.
std::optional<int> ElementWeight(std::string_view parameters) {
  while (!parameters.empty()) {
    const std::size_t semicolon = parameters.find(';');
    const std::string_view parameter = TrimSpaceTab(parameters.substr(0, semicolon));
    if (parameter.size() >= 2 && (parameter[0] == 'q' || parameter[0] == 'Q') &&
        parameter[1] == '=') {
      return Weight(parameter.substr(2));
    }
    if (semicolon == std::string_view::npos) break;
    parameters.remove_prefix(semicolon + 1);
  }
  return kFullWeight;
}

}  // namespace

bool PrefersJson(std::string_view accept) {
  int json = kUnranked, html = kUnranked, anyText = kUnranked, any = kUnranked;
  while (!accept.empty()) {
    const std::size_t comma = accept.find(',');
    const std::string_view element = accept.substr(0, comma);
    accept.remove_prefix(comma == std::string_view::npos ? accept.size() : comma + 1);
    const std::size_t semicolon = element.find(';');
    const std::string_view range = TrimSpaceTab(element.substr(0, semicolon));
    int* slot = EqualsNoCase(range, "application/json") ? &json
                : EqualsNoCase(range, "text/html")      ? &html
                : EqualsNoCase(range, "text/*")         ? &anyText
                : range == "*/*"                        ? &any
                                                        : nullptr;
    if (slot == nullptr || *slot != kUnranked) continue;
    const std::optional<int> weight = semicolon == std::string_view::npos
                                          ? kFullWeight
                                          : ElementWeight(element.substr(semicolon + 1));
    if (weight) *slot = *weight;
  }
  const int htmlRank = html != kUnranked      ? html
                       : anyText != kUnranked ? anyText
                       : any != kUnranked     ? any
                                              : 0;
  return json > 0 && htmlRank <= json;
}

}  // namespace veltrano
