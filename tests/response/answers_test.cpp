#include "response/answers.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "support/fake_system.hpp"

namespace veltrano {
namespace {

TEST(AppendJsonStringTest, AnyBytesGiveValidJson) {
  const struct {
    std::string text, want;
  } cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {"a\r\nb\tc", "\"a\\r\\nb\\tc\""},
      {std::string("\0\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"</script>", "\"</script>\""},
      {"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80", "\"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80\""},
      // Each byte that is no part of well-formed UTF-8 is U+FFFD.
      {"\xff", "\"\xef\xbf\xbd\""},
      {"a\xe9z", "\"a\xef\xbf\xbdz\""},                                              // Latin-1
      {"\xe2\x82", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                                  // cut short
      {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                                  // overlong
      {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},                  // a surrogate
      {"\xf4\x90\x80\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // > U+10FFFF
  };
  for (const auto& c : cases) {
    std::string out;
    AppendJsonString(out, c.text);
    EXPECT_EQ(out, c.want) << c.text;
  }
}

TEST(AllowedOriginTest, EchoesOnlyAListedOriginsOwnText) {
  const CrossOrigin listed{false, {"https://www.example.org", "http://127.0.0.1:8080"}};
  const CrossOrigin any{true, {}};
  const struct {
    const CrossOrigin& allowed;
    std::optional<std::string> origin;
    std::optional<std::string> want;
  } cases[] = {
      {listed, "https://www.example.org", "https://www.example.org"},
      {listed, "HTTPS://WWW.EXAMPLE.ORG:443", "https://www.example.org"},
      {listed, "http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {listed, "http://127.0.0.1:8081", std::nullopt},
      {listed, "https://example.org", std::nullopt},
      {listed, "https://www.example.org.evil.example", std::nullopt},
      {listed, "https://www.example.org\r\nSet-Cookie: a=b", std::nullopt},
      {listed, "null", std::nullopt},
      {listed, std::nullopt, std::nullopt},
      {any, "https://anyone.example", "*"},
      {any, "null", std::nullopt},
      {any, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AllowedOrigin(c.allowed, c.origin), c.want) << c.origin.value_or("(none)");
  }
}

const std::string kCors = "Access-Control-Allow-Origin: https://a.org\nVary: Origin\n";

// The cross-origin headers go at the end of a page's header block; a page
// without one, or one that sets the header itself, stays as it is.
TEST(SitePageAnswerTest, PutsTheHeadersIntoThePagesBlock) {
  const struct {
    const char* name;
    std::string page, want;
  } cases[] = {
      {"one_line", "Content-type: text/html\n\n<p>x\n",
       "Content-type: text/html\n" + kCors + "\n<p>x\n"},
      {"several_and_folded", "Content-type: text/html\nX-A: 1\n  2\n\nbody",
       "Content-type: text/html\nX-A: 1\n  2\n" + kCors + "\nbody"},
      {"cr_line_ends", "Content-type: text/html\r\n\r\nbody",
       "Content-type: text/html\r\n" + kCors + "\r\nbody"},
      {"empty_body", "Content-type: text/html\n\n", "Content-type: text/html\n" + kCors + "\n"},
      {"no_block", "<HTML>\n\n<p>x", "<HTML>\n\n<p>x"},
      {"no_empty_line", "Content-type: text/html\n", "Content-type: text/html\n"},
      {"leading_space", " Content-type: text/html\n\nx", " Content-type: text/html\n\nx"},
      {"empty", "", ""},
      {"sets_its_own", "access-control-allow-origin: *\n\nx",
       "access-control-allow-origin: *\n\nx"},
  };
  AnswerStyle style;
  style.crossOrigin = kCors;
  for (const auto& c : cases) EXPECT_EQ(SitePageAnswer(style, c.page), c.want) << c.name;
  EXPECT_EQ(SitePageAnswer({}, "Content-type: text/html\n\nx"), "Content-type: text/html\n\nx");
}

// The status and headers of every outcome, under IIS and elsewhere, with
// and without the cross-origin headers.
TEST(AnswersTest, EachOutcomeHasItsStatus) {
  const std::string json = "Content-type: application/json; charset=utf-8\n\n";
  const std::vector<FieldError> errors = {{"name", "Please tell us your name."},
                                          {"e\"mail", "Not \"valid\""}};
  const struct {
    const char* name;
    bool microsoft, json, cors;
    std::function<std::string(const AnswerStyle&)> answer;
    std::string want;
  } cases[] = {
      {"json_success", false, true, false, [](auto& s) { return SuccessAnswer(s, "page"); },
       json + "{\"ok\": true}\n"},
      {"json_success_iis", true, true, true, [](auto& s) { return SuccessAnswer(s, "page"); },
       "HTTP/1.0 200 OK\n" + kCors + json + "{\"ok\": true}\n"},
      {"page_success", false, false, false, [](auto& s) { return SuccessAnswer(s, "page"); },
       "page"},
      {"redirect", false, false, true, [](auto& s) { return RedirectAnswer(s, "/t?a=1&b=<2>"); },
       "Status: 303 See Other\nLocation: /t?a=1&b=<2>\n" + kCors +
           "Content-type: text/html\n\n<HTML>\n<TITLE>Form sent</TITLE>The form was sent.  "
           "<A HREF=\"/t?a=1&amp;b=&lt;2&gt;\">/t?a=1&amp;b=&lt;2&gt;</A>\n"},
      {"redirect_iis", true, false, false, [](auto& s) { return RedirectAnswer(s, "/t"); },
       "HTTP/1.0 303 See Other\nLocation: /t\nContent-type: text/html\n\n\n<HTML>\n<TITLE>Form "
       "sent</TITLE>The form was sent.  <A HREF=\"/t\">/t</A>\n"},
      {"json_redirect", false, true, false,
       [](auto& s) { return RedirectAnswer(s, "https://x.org/t"); },
       json + "{\"ok\": true, \"next\": \"https://x.org/t\"}\n"},
      {"field_errors", false, true, true, [&](auto& s) { return FieldErrorsAnswer(s, errors); },
       "Status: 422 Unprocessable Content\n" + kCors + json +
           "{\"ok\": false, \"errors\": [{\"field\": \"name\", \"message\": \"Please tell us your "
           "name.\"}, {\"field\": \"e\\\"mail\", \"message\": \"Not \\\"valid\\\"\"}]}\n"},
      {"not_post", false, true, false,
       [](auto& s) { return FailureAnswer(s, Fail(FailureKind::kNotPost)); },
       "Status: 405 Method Not Allowed\nAllow: POST\n" + json +
           "{\"ok\": false, \"error\": \"Form Submit Error\", \"message\": \"You must submit a "
           "form with a POST method.\"}\n"},
      {"not_post_page", false, false, true,
       [](auto& s) { return FailureAnswer(s, Fail(FailureKind::kNotPost)); },
       kCors + "Content-type: text/html\n\n<HTML>\n<TITLE>Form Submit Error</TITLE>You must "
               "submit a form with a POST method."},
      {"by_hand", false, true, true,
       [](auto& s) { return FailureAnswer(s, Fail(FailureKind::kNoCgiEnvironment)); },
       "Error occured while collecting some environment variables.\nChances are you are trying "
       "to run this program from the\ncommand line prompt.  It must be run as part of a cgi "
       "call\nfrom the web server."},
      {"site_failure_page", false, false, true,
       [](auto& s) { return SiteFailureAnswer(s, "503 Service Unavailable", "X-A: 1\n\nsorry"); },
       "Status: 503 Service Unavailable\nX-A: 1\n" + kCors + "\nsorry"},
      {"site_failure_page_iis", true, false, false,
       [](auto& s) { return SiteFailureAnswer(s, "", "X-A: 1\n\nsorry"); },
       "HTTP/1.0 200 OK\nX-A: 1\n\nsorry"},
      {"preflight", false, false, true, [](auto& s) { return PreflightAnswer(s); },
       "Status: 204 No Content\nAccess-Control-Allow-Methods: POST\nAccess-Control-Allow-"
       "Headers: Content-Type, Accept\nAccess-Control-Max-Age: 86400\n" +
           kCors + "\n"},
      {"preflight_unlisted_iis", true, false, false, [](auto& s) { return PreflightAnswer(s); },
       "HTTP/1.0 204 No Content\nAccess-Control-Allow-Methods: POST\nAccess-Control-Allow-"
       "Headers: Content-Type, Accept\nAccess-Control-Max-Age: 86400\n\n"},
  };
  for (const auto& c : cases) {
    AnswerStyle style{c.microsoft, c.json, c.cors ? kCors : ""};
    EXPECT_EQ(c.answer(style), c.want) << c.name;
  }
}

TEST(AnswerStyleForTest, ReadsAcceptAndOriginOnlyWithTheirSections) {
  testing::MapEnvironment env;
  env.vars = {{"HTTP_ACCEPT", "application/json"},
              {"HTTP_ORIGIN", "https://a.org"},
              {"SERVER_SOFTWARE", "Microsoft-IIS/10.0"}};
  const CrossOrigin allowed{false, {"https://a.org"}};
  AnswerStyle style = AnswerStyleFor(env, allowed);
  EXPECT_TRUE(style.microsoft);
  EXPECT_TRUE(style.json);
  EXPECT_EQ(style.crossOrigin, kCors);
  EXPECT_EQ(AnswerStyleFor(env, std::nullopt).crossOrigin, "");
  style = PageStyle(env);
  EXPECT_TRUE(style.microsoft);
  EXPECT_FALSE(style.json);
  EXPECT_EQ(style.crossOrigin, "");
}

}  // namespace
}  // namespace veltrano
