#include "form/multipart.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "form/form_input.hpp"
#include "form/multipart_internal.hpp"
#include "response/failure_page.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using Pairs = std::vector<std::pair<std::string, std::optional<std::string>>>;
using testing::FakeSystem;

constexpr std::string_view kType = "multipart/form-data; boundary=B";

// A part as a browser frames it, without the delimiter line before it.
std::string Part(std::string_view name, std::string_view content, std::string_view extra = "") {
  return "Content-Disposition: form-data; name=\"" + std::string(name) + "\"" + std::string(extra) +
         "\r\n\r\n" + std::string(content) + "\r\n";
}

std::string Body(std::initializer_list<std::string> parts) {
  std::string body;
  for (const std::string& part : parts) body += "--B\r\n" + part;
  return body + "--B--\r\n";
}

Pairs PairsOf(const std::vector<FormPair>& pairs) {
  Pairs out;
  for (const FormPair& p : pairs) out.emplace_back(p.name, p.value);
  return out;
}

TEST(ParseMultipartFormTest, GivesTheFieldsOfAUrlEncodedBody) {
  const struct {
    const char* name;
    std::string type;
    std::string body;
    Pairs want;
  } cases[] = {
      {"two_fields",
       std::string(kType),
       Body({Part("name", "Zo\xc3\xab"), Part("age", "42")}),
       {{"name", "Zo\xc3\xab"}, {"age", "42"}}},
      {"crlf_and_ctrl_z_kept",
       std::string(kType),
       Body({Part("m", "a\r\n.\r\n\x1a\r\nb\r\n")}),
       {{"m", "a\r\n.\r\n\x1a\r\nb\r\n"}}},
      {"value_ends_at_nul",
       std::string(kType),
       Body({Part("x", std::string("ab\0cd", 5))}),
       {{"x", "ab"}}},
      {"repeat_joins_empty_drops",
       std::string(kType),
       Body({Part("c", "red"), Part("c", "blue"), Part("a", "1"), Part("a", ""), Part("b", "2")}),
       {{"c", "red, blue"}, {"a", std::nullopt}, {"b", "2"}}},
      {"names_as_sent",
       std::string(kType),
       Body({Part("first+name", "Jo"), Part("%41", "1")}),
       {{"first+name", "Jo"}, {"%41", "1"}}},
      // A line that starts like a delimiter but goes on is content.
      {"boundary_prefix_in_content",
       std::string(kType),
       Body({Part("m", "x\r\n--Bz\r\n--B -")}),
       {{"m", "x\r\n--Bz\r\n--B -"}}},
      {"preamble_epilogue_padding",
       std::string(kType),
       "ignored\r\n--B \t\r\n" + Part("a", "1") + "--B--\r\nignored too",
       {{"a", "1"}}},
      {"no_parts", std::string(kType), "--B--\r\n", {}},
      {"quoted_boundary_any_case",
       "Multipart/Form-Data; charset=utf-8; BOUNDARY=\"a b;c\"",
       "--a b;c\r\n" + Part("a", "1") + "--a b;c--",
       {{"a", "1"}}},
      {"boundary_of_70",
       "multipart/form-data; boundary=" + std::string(70, 'b'),
       "--" + std::string(70, 'b') + "\r\n" + Part("a", "1") + "--" + std::string(70, 'b') + "--",
       {{"a", "1"}}},
      {"header_case_and_others",
       std::string(kType),
       "--B\r\ncontent-type: text/plain\r\nCONTENT-DISPOSITION:form-data;NAME=a\r\n\r\n1\r\n--B--",
       {{"a", "1"}}},
  };
  for (const auto& c : cases) {
    Result<MultipartForm> form = ParseMultipartForm(c.type, c.body);
    ASSERT_TRUE(form) << c.name << ": " << form.failure().detail;
    EXPECT_EQ(PairsOf(form->pairs), c.want) << c.name;
    EXPECT_EQ(form->dropped.count, 0u) << c.name;
  }
}

TEST(ParseMultipartFormTest, FilesAreDroppedAndTheirNamesStandAsValues) {
  const std::string body = Body({Part("doc", "%PDF-1.4\r\n\xff\xfe", "; filename=\"report 1.pdf\""),
                                 Part("none", "", "; filename=\"\""), Part("name", "Ann"),
                                 Part("pic", "", "; filename=\"a.png\"")});
  Result<MultipartForm> form = ParseMultipartForm(kType, body);
  ASSERT_TRUE(form) << form.failure().detail;
  EXPECT_EQ(
      PairsOf(form->pairs),
      (Pairs{{"doc", "report 1.pdf"}, {"none", std::nullopt}, {"name", "Ann"}, {"pic", "a.png"}}));
  // An empty file input sends no file, so nothing was dropped for it.
  EXPECT_EQ(form->dropped.count, 2u);
  EXPECT_EQ(form->dropped.firstField, "doc");
}

// A file field keeps its first non-empty file; its other files are dropped,
// an empty one is no file at all.
TEST(ParseMultipartFormTest, FileFieldsKeepTheirFirstFile) {
  using Kept = std::vector<std::tuple<std::string, std::string, std::string>>;
  const std::string pdf("%PDF-1.4\r\n--Bx\r\n\0\xff", 17);
  const struct {
    const char* name;
    std::vector<std::string> parts;
    Kept kept;
    std::size_t dropped;
    std::string firstDropped;
  } cases[] = {
      {"kept_as_sent",
       {Part("CV", pdf, "; filename=\"C:\\a\\cv.pdf\"")},
       {{"CV", "C:\\a\\cv.pdf", pdf}},
       0,
       ""},
      {"second_file_dropped",
       {Part("cv", "1", "; filename=a"), Part("cv", "2", "; filename=b")},
       {{"cv", "a", "1"}},
       1,
       "cv"},
      {"empty_file_is_none",
       {Part("cv", "", "; filename=a"), Part("cv", "2", "; filename=b")},
       {{"cv", "b", "2"}},
       0,
       ""},
      {"other_field_dropped",
       {Part("photo", "x", "; filename=p.png"), Part("cv", "1", "; filename=a")},
       {{"cv", "a", "1"}},
       1,
       "photo"},
      {"text_part_is_no_file", {Part("cv", "cv.pdf")}, {}, 0, ""},
  };
  for (const auto& c : cases) {
    std::string body;
    for (const std::string& part : c.parts) body += "--B\r\n" + part;
    body += "--B--\r\n";
    Result<MultipartForm> form = ParseMultipartForm(kType, body, {"cv", "Other"});
    ASSERT_TRUE(form) << c.name << ": " << form.failure().detail;
    Kept kept;
    for (const FilePart& f : form->files) kept.emplace_back(f.field, f.fileName, f.bytes);
    EXPECT_EQ(kept, c.kept) << c.name;
    EXPECT_EQ(form->dropped.count, c.dropped) << c.name;
    EXPECT_EQ(form->dropped.firstField, c.firstDropped) << c.name;
  }
}

TEST(ParseMultipartFormTest, MalformedBodyGetsTheFormSubmitErrorPage) {
  const struct {
    const char* name;
    std::string type;
    std::string body;
    std::string detail;
  } cases[] = {
      {"no_boundary", "multipart/form-data", Body({Part("a", "1")}),
       "no usable boundary in CONTENT_TYPE"},
      {"empty_boundary", "multipart/form-data; boundary=\"\"", "--\r\n", "no usable boundary"},
      {"boundary_of_71", "multipart/form-data; boundary=" + std::string(71, 'b'),
       "--" + std::string(71, 'b') + "--", "no usable boundary"},
      {"unterminated_quote", "multipart/form-data; boundary=\"B", Body({}), "no usable boundary"},
      {"other_boundary", std::string(kType), "--C\r\n" + Part("a", "1") + "--C--",
       "no delimiter line"},
      {"lf_only_framing", std::string(kType),
       "--B\nContent-Disposition: form-data; name=a\n\n1\n--B--", "no delimiter line"},
      {"no_closing_delimiter", std::string(kType), "--B\r\n" + Part("a", "1"),
       "no closing delimiter"},
      {"cut_short", std::string(kType), Body({Part("a", "1")}).substr(0, 40),
       "no closing delimiter"},
      {"part_without_headers", std::string(kType), "--B\r\n\r\n1\r\n--B--", "without headers"},
      {"headers_without_blank_line", std::string(kType),
       "--B\r\nContent-Disposition: form-data; name=a\r\n--B--", "without headers"},
      {"no_disposition", std::string(kType), "--B\r\nContent-Type: text/plain\r\n\r\n1\r\n--B--",
       "without a form-data name"},
      {"no_name", std::string(kType), Body({"Content-Disposition: form-data\r\n\r\n1\r\n"}),
       "without a form-data name"},
      {"not_form_data", std::string(kType),
       Body({"Content-Disposition: attachment; name=a\r\n\r\n1\r\n"}), "without a form-data name"},
      {"name_quote_unterminated", std::string(kType),
       Body({"Content-Disposition: form-data; name=\"a\r\n\r\n1\r\n"}), "without a form-data name"},
  };
  for (const auto& c : cases) {
    Result<MultipartForm> form = ParseMultipartForm(c.type, c.body);
    EXPECT_TRUE(testing::FailsWithPage(form, FailureKind::kMalformedMultipart, "Form Submit Error",
                                       "The form data could not be read: it is not valid "
                                       "multipart/form-data."))
        << c.name;
    if (!form) {
      EXPECT_NE(form.failure().detail.find(c.detail), std::string::npos) << c.name;
    }
  }
}

TEST(HeaderParameterTest, FindsTokensAndQuotedValues) {
  const struct {
    std::string value;
    const char* name;
    std::optional<std::string> want;
  } cases[] = {
      {"form-data; name=\"a b\"; filename=c.txt", "name", "a b"},
      {"form-data; name=\"a b\"; filename=c.txt", "FILENAME", "c.txt"},
      {"form-data; name=\"a;b\"", "name", "a;b"},
      {"form-data;name = x ;flag; y=1", "y", "1"},
      {"form-data; filename*=utf-8''x; filename=y", "filename", "y"},
      {"form-data; xname=a", "name", std::nullopt},
      {"name=a", "name", std::nullopt},  // before the first ';' is the main value
      {"form-data; name=\"\"", "name", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HeaderParameter(c.value, c.name), c.want) << c.value << " / " << c.name;
  }
}

// The body is read as it arrives: no text mode, so CR LF and 0x1A stay; any
// other content type is read as URL-encoded.
TEST(ReadFormTest, ReadsMultipartInBinaryByContentType) {
  const std::string multipart = Body({Part("m", "a\r\nb\x1a")});
  const struct {
    const char* name;
    std::string type;
    std::string body;
    Pairs want;
  } cases[] = {
      {"multipart", std::string(kType), multipart, {{"m", "a\r\nb\x1a"}}},
      {"url_encoded", "application/x-www-form-urlencoded", "m=a\r\nb", {{"m", "a\nb"}}},
      {"other_multipart_type", "multipart/mixed; boundary=B", "m=a\r\nb", {{"m", "a\nb"}}},
  };
  for (const auto& c : cases) {
    FakeSystem fake;
    fake.env.vars = {{"REQUEST_METHOD", "POST"},
                     {"CONTENT_LENGTH", std::to_string(c.body.size())},
                     {"CONTENT_TYPE", c.type}};
    fake.input.bytes = c.body + "&junk";
    Result<FormInput> form = ReadForm(fake.env, fake.input, fake.notices);
    ASSERT_TRUE(form) << c.name;
    EXPECT_EQ(PairsOf(form->pairs), c.want) << c.name;
    EXPECT_EQ(fake.input.consumed, c.body.size()) << c.name;
  }
}

// With file fields the body may be larger by MAXUPLOAD, the kept files may
// hold MAXUPLOAD bytes together, and the log names no file.
TEST(ReadFormTest, FileFieldsRaiseTheBodyLimitToMaxUpload) {
  const FileRules rules{{"cv"}, 100};
  const std::string file = Part("cv", std::string(60, 'x'), "; filename=\"secret name.pdf\"");
  const struct {
    const char* name;
    FileRules rules;
    std::string body;
    std::size_t length;  // CONTENT_LENGTH
    bool tooLarge;
    std::size_t files;
  } cases[] = {
      {"no_file_fields_1_mib", {}, Body({Part("a", "1")}), kMaxBodyLength + 1, true, 0},
      {"at_limit", rules, Body({Part("a", "1")}), kMaxBodyLength + 100, false, 0},
      {"over_limit", rules, Body({Part("a", "1")}), kMaxBodyLength + 101, true, 0},
      {"files_at_max", rules, Body({file, Part("x", std::string(40, 'y'), "; filename=b")}), 0,
       false, 1},
      {"files_over_max",
       {{"cv", "x"}, 100},
       Body({file, Part("x", std::string(41, 'y'), "; filename=b")}),
       0,
       true,
       0},
  };
  for (const auto& c : cases) {
    FakeSystem fake;
    fake.env.vars = {{"REQUEST_METHOD", "POST"},
                     {"CONTENT_LENGTH", std::to_string(c.length ? c.length : c.body.size())},
                     {"CONTENT_TYPE", std::string(kType)}};
    // A body as long as announced: what follows the last boundary is an
    // epilogue, which the reader passes over.
    fake.input.bytes = c.body;
    if (c.length > c.body.size()) fake.input.bytes.append(c.length - c.body.size(), 'e');
    Result<FormInput> form = ReadForm(fake.env, fake.input, fake.notices, c.rules);
    if (c.tooLarge) {
      EXPECT_TRUE(testing::FailsWithPage(form, FailureKind::kBodyTooLarge, "Form Submit Error",
                                         "The form data is too large."))
          << c.name;
      continue;
    }
    ASSERT_TRUE(form) << c.name << ": " << form.failure().detail;
    ASSERT_EQ(form->files.size(), c.files) << c.name;
    for (const auto& [kind, detail] : fake.notices.notes) {
      EXPECT_EQ(detail.find("secret"), std::string::npos) << c.name << ": " << detail;
    }
  }
}

TEST(ReadFormTest, DroppedFilesGiveOneNoticeNamingFieldsOnly) {
  FakeSystem fake;
  const std::string body =
      Body({Part("photo", "1", "; filename=\"me.png\""), Part("cv", "2", "; filename=\"cv.pdf\""),
            Part("cv", "3", "; filename=\"cv2.pdf\"")});
  fake.env.vars = {{"REQUEST_METHOD", "POST"},
                   {"CONTENT_LENGTH", std::to_string(body.size())},
                   {"CONTENT_TYPE", std::string(kType)}};
  fake.input.bytes = body;
  Result<FormInput> form = ReadForm(fake.env, fake.input, fake.notices, FileRules{{"cv"}, 10});
  ASSERT_TRUE(form);
  ASSERT_EQ(form->files.size(), 1u);
  EXPECT_EQ(form->files[0].content.bytes, "2");
  EXPECT_EQ(fake.notices.notes, (std::vector<std::pair<NoticeKind, std::string>>{
                                    {NoticeKind::kFileDropped, "field photo, and 1 more files"}}));
}

}  // namespace
}  // namespace veltrano
