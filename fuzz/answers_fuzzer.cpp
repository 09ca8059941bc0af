// What a request brings for its answer (Accept, Origin) and what a template
// says of it (ALLOWORIGIN, SUCCEEDURL, the comment rule around them), with
// the answers made of them: no header a visitor's text can add to or
// break, JSON valid whatever the bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "fuzz/fuzz_support.hpp"
#include "response/accept.hpp"
#include "response/answers.hpp"
#include "template/sections.hpp"
#include "template/template_file.hpp"
#include "text/text.hpp"
#include "text/web_address.hpp"

using veltrano::fuzz::Fail;

namespace {

bool PrintableNoSpace(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

void CheckOrigin(std::string_view text) {
  std::optional<std::string> origin = veltrano::NormalizedOrigin(text);
  if (!origin) return;
  if (!PrintableNoSpace(*origin) || veltrano::NormalizedOrigin(*origin) != origin) Fail();
}

void CheckJson(std::string_view text) {
  std::string json;
  veltrano::AppendJsonString(json, text);
  if (!veltrano::IsValidUtf8(json) || json.size() < 2 || json.front() != '"' ||
      json.back() != '"') {
    Fail();
  }
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const auto b = static_cast<unsigned char>(json[i]);
    if (b < 0x20) Fail();
    if (json[i] == '\\') {
      ++i;  // an escape: the next byte is its letter
    } else if (json[i] == '"') {
      Fail();  // a quote that is not escaped ends the string early
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string accept = in.ConsumeRandomLengthString(256);
  const std::string origin = in.ConsumeRandomLengthString(128);
  const std::string page = in.ConsumeRandomLengthString(512);
  const std::string text = in.ConsumeRemainingBytesAsString();

  (void)veltrano::PrefersJson(accept);
  CheckOrigin(origin);
  CheckJson(text);
  if (veltrano::IsRedirectTarget(text) && !PrintableNoSpace(text)) Fail();
  if (veltrano::StripComments(text).size() > text.size()) Fail();

  // The template's list, read as the request reads it, weighed against the
  // Origin: only "*" or a listed origin is ever written back.
  veltrano::Result<veltrano::Template> t = veltrano::ReadSections(
      {"t.tpl", veltrano::StripComments("<ERRMSGFILE>e</ERRMSGFILE><FORMDATA>\n<NAME=\"a\">\n"
                                        "</FORMDATA><SUCCEEDMSGFILE>s</SUCCEEDMSGFILE>" +
                                        text)});
  if (!t) return 0;
  if (t->successUrl && !veltrano::IsRedirectTarget(*t->successUrl)) Fail();
  veltrano::testing::MapEnvironment env;
  env.vars = {{"HTTP_ACCEPT", accept}, {"HTTP_ORIGIN", origin}};
  const veltrano::AnswerStyle style = veltrano::AnswerStyleFor(env, t->allowOrigin);
  if (!style.crossOrigin.empty()) {
    const std::optional<std::string> allowed = veltrano::AllowedOrigin(*t->allowOrigin, origin);
    const auto& listed = t->allowOrigin->origins;
    if (!allowed ||
        (*allowed != "*" && std::find(listed.begin(), listed.end(), *allowed) == listed.end())) {
      Fail();
    }
    if (std::count(style.crossOrigin.begin(), style.crossOrigin.end(), '\n') != 2 ||
        style.crossOrigin.find('\r') != std::string::npos) {
      Fail();
    }
  }
  // The headers go into the page's block whole, or not at all.
  const std::string answered = veltrano::SitePageAnswer(style, page);
  if (answered != page) {
    const std::optional<std::size_t> end = veltrano::HeaderBlockEnd(page);
    if (!end || answered != page.substr(0, *end) + style.crossOrigin + page.substr(*end)) Fail();
  }
  return 0;
}
