// The submitted HTML form: a POSTed body read from standard input and split
// into name/value pairs. A URL-encoded body is the usual one; a body sent as
// multipart/form-data is read by form/multipart.hpp into the same pairs.
//
// ReadForm checks the request method and CONTENT_LENGTH, reads the body and
// parses it; every problem is a failure (REQUEST_METHOD unset means the
// program was started by hand, kNoCgiEnvironment). Bodies are bounded at
// kMaxBodyLength, and for a form with file fields (FileRules) at that and
// the bytes their files may hold; a body shorter than announced (the client
// went away, or the time for reading it ran out) is no form: kShortBody.
//
// Pairs keep their names exactly as sent ("+" and %XX are not decoded in
// names); values are URL-decoded, and a bad escape in any value, declared by
// the template or not, is a failure. Only consecutive repeats of a name are
// joined (", " between the values: AppendFormValue, form_pairs.hpp); a
// repeat that comes back after another name makes a second pair that
// lookups never reach. Everything here is untrusted visitor text: callers
// escape it for where it goes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form/form_pairs.hpp"
#include "model/fields.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "platform/system.hpp"

namespace veltrano {

// A body above this is refused: the whole body is held in memory, and no
// form a person fills in comes near it.
inline constexpr std::size_t kMaxBodyLength = 1024 * 1024;

// A file kept for a file field (multipart.hpp says which are kept).
struct UploadedFile {
  std::string field;     // as sent
  std::string fileName;  // as sent
  FileBytes content;
};

// What a template asks of a form's files: the fields whose files go with
// the mails (ATTACH), and the bytes those files may hold together.
struct FileRules {
  std::vector<std::string> fields;
  std::size_t maxUpload = 0;
};

struct FormInput {
  std::vector<FormPair> pairs;        // in the order names first appear
  std::vector<UploadedFile> files{};  // in the order sent

  // A copy of the value of the first pair whose name equals `name` without
  // regard to ASCII case; none when no pair has that name or its value is none.
  std::optional<std::string> LookupFormValue(std::string_view name) const;
};

// Checks REQUEST_METHOD against "POST" (exact, case counts), reads
// CONTENT_LENGTH bytes of standard input (never more: the server need not
// end the input there) and parses them: in binary as multipart/form-data
// when CONTENT_TYPE says so, otherwise in text mode as URL-encoded pairs.
// The files of a multipart form that are dropped are reported to `notices`
// in one notice: how many, and the field of the first. With file fields the
// body may be up to kMaxBodyLength plus `files.maxUpload` bytes, and the
// kept files more than `files.maxUpload` together are kBodyTooLarge too.
Result<FormInput> ReadForm(const platform::Environment& env, platform::Input& input,
                           Notices& notices, const FileRules& files = {});

// Splits a body into pairs, decoding each value. A last piece without "="
// (an empty body is one) is dropped.
Result<std::vector<FormPair>> ParseFormData(std::string_view body);

// The decoded form of a URL-encoded value: "+" is a space and %XX the byte
// with that hexadecimal value; a "%" without two hexadecimal digits after it
// is a failure. The result ends at its first zero byte, so "ab%00cd" gives
// "ab": values are C strings to everything downstream.
Result<std::string> UrlDecode(std::string_view text);

// 0-9, A-F and a-f.
bool IsHexDigit(char c);

// CONTENT_LENGTH read the way atoi reads it, its magnitude held at
// `limit` + 1 so that it never overflows.
long long ParseContentLength(std::string_view text, std::size_t limit = kMaxBodyLength);

}  // namespace veltrano
