// The form body as a visitor sends it: CONTENT_LENGTH, the body on standard
// input (text mode), the split into pairs and the URL decoding.
#include <fuzzer/FuzzedDataProvider.h>

#include "form/form_input.hpp"
#include "fuzz/fuzz_support.hpp"
#include "text/text.hpp"

using veltrano::FormPair;
using veltrano::kMaxBodyLength;
using veltrano::Result;
using veltrano::fuzz::Fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string contentLength = in.ConsumeRandomLengthString(24);
  const std::string body = in.ConsumeRemainingBytesAsString();

  // The decoder alone: never longer than its input, never a zero byte.
  if (Result<std::string> decoded = veltrano::UrlDecode(body); decoded) {
    if (decoded->size() > body.size() || decoded->find('\0') != std::string::npos) Fail();
  }

  const long long bound = static_cast<long long>(kMaxBodyLength) + 1;
  const long long length = veltrano::ParseContentLength(contentLength);
  if (length > bound || length < -bound) Fail();

  // The parser on the whole body, whatever CONTENT_LENGTH says.
  if (Result<std::vector<FormPair>> pairs = veltrano::ParseFormData(body); pairs) {
    for (const FormPair& pair : *pairs) {
      if (pair.value && pair.value->find('\0') != std::string::npos) Fail();
    }
  }

  // The whole read, through the environment and standard input.
  veltrano::testing::MapEnvironment env;
  env.vars = {{"REQUEST_METHOD", "POST"},
              {"CONTENT_LENGTH", contentLength},
              {"CONTENT_TYPE", "application/x-www-form-urlencoded"}};
  veltrano::testing::StringInput input;
  input.bytes = body;
  veltrano::testing::NoticeLog notices;
  Result<veltrano::FormInput> form = veltrano::ReadForm(env, input, notices);
  if (input.consumed > kMaxBodyLength) Fail();
  if (!form) return 0;
  // A lookup answers with the first pair of that name, letter case aside.
  for (const FormPair& pair : form->pairs) {
    const FormPair* first = &pair;
    for (const FormPair& other : form->pairs) {
      if (veltrano::EqualsNoCase(other.name, pair.name)) {
        first = &other;
        break;
      }
    }
    if (form->LookupFormValue(pair.name) != first->value) Fail();
  }
  return 0;
}
