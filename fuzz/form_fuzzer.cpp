// The form body as a visitor sends it: CONTENT_LENGTH, the body on standard
// input (text mode), the split into pairs and the URL decoding.
#include <fuzzer/FuzzedDataProvider.h>

#include "form/form_input.hpp"
#include "fuzz/fuzz_support.hpp"

using veltrano::FormInput;
using veltrano::fuzz::Fail;
using veltrano::fuzz::Request;
using veltrano::fuzz::RunStep;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string contentLength = in.ConsumeRandomLengthString(24);
  const std::string body = in.ConsumeRemainingBytesAsString();

  // The decoder alone: never longer than its input, never a zero byte.
  RunStep([&] {
    std::string decoded = veltrano::UrlDecode(body);
    if (decoded.size() > body.size() || decoded.find('\0') != std::string::npos) Fail();
  });

  long long length = veltrano::ParseContentLength(contentLength);
  if (length > static_cast<long long>(veltrano::kMaxBodyLength) + 1) Fail();

  // The parser on the whole body, whatever CONTENT_LENGTH says.
  FormInput direct;
  direct.body = body;
  RunStep([&] { direct.ParseFormData(); });

  // The whole read, through the environment and standard input.
  Request r;
  r.fake.env.vars["REQUEST_METHOD"] = "POST";
  r.fake.env.vars["CONTENT_LENGTH"] = contentLength;
  r.fake.env.vars["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  r.fake.input.bytes = body;
  FormInput form;
  if (RunStep([&] { form.ReadForm(r.fake.system, "POST"); })) {
    if (form.body.size() > veltrano::kMaxBodyLength) Fail();
    for (const veltrano::FormPair& pair : form.pairs) {
      (void)form.LookupFormValue(pair.name);
    }
  }
  return 0;
}
