// The SMTP client's reply rule, for its tests and fuzzer.
#pragma once

#include <optional>
#include <string_view>

namespace veltrano {

// The code of a complete reply, or none while more is to come: a reply is
// complete when it ends with LF and its last line is a final line. -1 when
// it is not well formed: every line the same three-digit code (first digit
// 1 to 5), then '-' on every line but the last, ' ' or the line end on it.
std::optional<int> CompleteReplyCode(std::string_view reply);

}  // namespace veltrano
