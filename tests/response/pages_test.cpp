#include "response/pages.hpp"

#include <gtest/gtest.h>

#include "response/failure_page.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FailsWithPage;
using testing::FakeSystem;
using testing::TempDir;

const std::string kHeader = "Content-type: text/html\n\n";
const std::string kTooLong =
    "Your message body is over 15k (15360 bytes).  Please trim down in &lt;msgbody&gt; and/or "
    "&lt;rmsgbody&gt; in your template file";

// One field of a request: its definition, submitted value and check result.
struct Field {
  FieldDefinition definition;
  std::optional<std::string> value;
  FieldCheck check;
};

Field Passed(const std::string& name, std::optional<std::string> value, bool missing = false) {
  Field f{{}, std::move(value), {missing, false}};
  f.definition.name = name;
  f.definition.requiredErr = f.definition.typeErr = "unused";
  return f;
}

Field Missing(const std::string& name, const std::string& text) {
  Field f = Passed(name, std::nullopt, true);
  f.definition.required = true;
  f.definition.requiredErr = text;
  return f;
}

Field Invalid(const std::string& name, const std::string& value, const std::string& text) {
  Field f = Passed(name, value);
  f.check.isInvalid = true;
  f.definition.typeErr = text;
  return f;
}

Field TooLong(Field f, const std::string& text) {
  f.check.isTooLong = true;
  f.definition.maxLengthErr = text;
  return f;
}

Field BadFile(Field f, const std::string& text) {
  f.check.isBadFile = true;
  f.definition.attachErr = text;
  return f;
}

// The fields of a request, with the environment and clock of a fake system.
class Request {
 public:
  explicit Request(const std::vector<Field>& fields) {
    for (const Field& f : fields) {
      definitions_.push_back(f.definition);
      values_.push_back(f.value);
      checks_.push_back(f.check);
    }
  }
  Result<std::string> Error(std::string_view file) const {
    return ErrorPage(file, definitions_, checks_, placeholders_);
  }
  Result<std::string> Success(std::string_view file) const {
    return SuccessPage(file, placeholders_);
  }
  Result<std::string> Failure(std::string_view file, const PageText& page) const {
    return FailurePage(file, page, placeholders_);
  }
  Result<std::vector<FieldError>> Errors() const {
    return FieldErrors(definitions_, checks_, placeholders_);
  }

 private:
  FakeSystem fake_;
  std::vector<FieldDefinition> definitions_;
  FieldValues values_;
  std::vector<FieldCheck> checks_;
  PlaceholderValues placeholders_{definitions_, values_, fake_.env, fake_.clock};
};

TEST(ErrorPageTest, ListsFailedFieldsWhereTheMarkerStands) {
  struct Case {
    const char* name;
    std::string file;
    std::vector<Field> fields;
    std::string want;
  };
  const Case cases[] = {
      {"two_items_in_template_order",
       kHeader + "<ul>$err$</ul>\n",
       {Missing("name", "Name is required"), Passed("x", "1"),
        Invalid("age", "x", "Age must be a number")},
       kHeader + "<ul><li>Name is required<li>Age must be a number</ul>\n"},
      {"length_item_after_the_fields_other_item",
       "<ul>$err$</ul>",
       {TooLong(Passed("a", "aaa"), "A is too long"), Missing("b", "B is required"),
        TooLong(Invalid("c", "1x1", "C must be a number"), "C is too long")},
       "<ul><li>A is too long<li>B is required<li>C must be a number<li>C is too long</ul>"},
      {"file_item_last_with_its_name",
       "$err$",
       {BadFile(TooLong(Passed("cv", "<cv>.exe"), "Too long"), "$cv$ is no PDF"),
        Missing("b", "B")},
       "<li>Too long<li>&lt;cv&gt;.exe is no PDF<li>B"},
      {"no_marker_gives_empty_response", kHeader + "<p>oops</p>", {Missing("a", "A")}, ""},
      {"empty_file", "", {Missing("a", "A")}, ""},
      {"no_marker_no_size_limit",
       std::string(kMaxExpandedLength + 1, 'a'),
       {Missing("a", "A")},
       ""},
      {"text_after_marker_expanded",
       "$err$ at $systemtime$",
       {Missing("a", "A")},
       "<li>A at 14:05:09"},
      {"marker_any_case", "[$ERR$][$Err$]", {Missing("a", "A")}, "[<li>A][]"},
      {"optional_missing_not_listed",
       "$err$",
       {Passed("a", std::nullopt, true), Missing("b", "B")},
       "<li>B"},
      {"error_text_placeholders_expanded",
       "<ol>$err$</ol>",
       {Invalid("age", "<b>x</b>", "Age $age$ is not a number")},
       "<ol><li>Age &lt;b&gt;x&lt;/b&gt; is not a number</ol>"},
      {"script_in_value_harmless",
       "$err$<p>$comment$</p>",
       {Passed("comment", "<script>alert(1)</script>"), Missing("n", "<b>N</b>")},
       "<li><b>N</b><p>&lt;script&gt;alert(1)&lt;/script&gt;</p>"},
      {"percent_as_itself",
       "100%s $err$ %d $v$",
       {Invalid("v", "50%", "Bad %n")},
       "100%s <li>Bad %n %d 50%"},
  };
  for (const Case& c : cases) {
    Result<std::string> page = Request(c.fields).Error(c.file);
    ASSERT_TRUE(page) << c.name;
    EXPECT_EQ(*page, c.want) << c.name;
  }
}

TEST(ErrorPageTest, BoundsThePageBeforeExpansion) {
  struct Case {
    const char* name;
    std::size_t fileLength;  // file text around the marker
    std::size_t itemLength;  // error text of one item
    bool fits;
  };
  const Case cases[] = {
      {"file_at_limit", kMaxExpandedLength - 5, 1, true},
      {"file_over", kMaxExpandedLength - 4, 1, false},
      {"item_at_limit", 100, kMaxExpandedLength - 104, true},
      {"item_over", 100, kMaxExpandedLength - 103, false},
      {"text_alone_over", kMaxExpandedLength + 1, 0, false},
  };
  for (const Case& c : cases) {
    std::string file = std::string(c.fileLength / 2, 'a') + "$ERR$" +
                       std::string(c.fileLength - c.fileLength / 2, 'b');
    Result<std::string> page = Request({Missing("a", std::string(c.itemLength, 'e'))}).Error(file);
    if (c.fits) {
      ASSERT_TRUE(page) << c.name;
      EXPECT_EQ(page->size(), kMaxExpandedLength) << c.name;
    } else {
      EXPECT_TRUE(
          FailsWithPage(page, FailureKind::kErrorPageTooLarge, "Mail send error",
                        "Maximum size reached on &lt;errTemplate&gt;.  Please trim it down"))
          << c.name;
    }
  }
}

TEST(ErrorPageTest, ExpandedPageHasItsOwnLimit) {
  std::string file = "$err$" + std::string(kMaxExpandedLength - 10, 'a') + "$v$";
  // "<li>x" and 12 characters of escaped "<<<" go past the limit.
  EXPECT_TRUE(FailsWithPage(Request({Invalid("v", "<<<", "x")}).Error(file),
                            FailureKind::kExpansionTooLong, "Mail send error", kTooLong));
  EXPECT_TRUE(Request({Invalid("v", "<", "x")}).Error(file));
}

TEST(SuccessPageTest, ExpandsTheFileAlone) {
  Request request({Passed("name", "Ann <script>"), Passed("pct", "50%")});
  const std::pair<std::string, std::string> cases[] = {
      {kHeader + "<p>Thanks $name$</p>", kHeader + "<p>Thanks Ann &lt;script&gt;</p>"},
      {"<p>ok</p>", "<p>ok</p>"},
      {"", ""},
      {"100% of $pct$ %s", "100% of 50% %s"},
      {"$systemdate$\n", " 03/07/98\n"},  // a leading placeholder gets a space
  };
  for (const auto& [file, want] : cases) {
    Result<std::string> page = request.Success(file);
    ASSERT_TRUE(page) << file;
    EXPECT_EQ(*page, want) << file;
  }
  EXPECT_TRUE(FailsWithPage(request.Success(std::string(kMaxExpandedLength + 1, 'a')),
                            FailureKind::kExpansionTooLong, "Mail send error", kTooLong));
}

// A replacement in the header lines at the top of a page can't add a
// header line or end the block; in the body it stays as it came.
TEST(PagesTest, ReplacementsStayOnTheirHeaderLine) {
  struct Case {
    const char* name;
    std::string page;
    std::string want;
  };
  const Case cases[] = {
      {"header_line_and_body", "Content-type: text/html\nX-Echo: $v$\n\n<p>$v$</p>",
       "Content-type: text/html\nX-Echo: a Set-Cookie: x\n\n<p>a\r\nSet-Cookie: x</p>"},
      {"escaped_in_header_too", "X-Echo: $w$\n\n$w$",
       "X-Echo: &lt;b&gt;&quot;&#39;&amp; \n\n&lt;b&gt;&quot;&#39;&amp;\n\n"},
      {"line_of_cr_ends_header", "X: 1\n\r\n<p>$v$", "X: 1\n\r\n<p>a\r\nSet-Cookie: x"},
      {"line_of_nothing_ends_header", "X: 1\n$none$\n<p>$v$", "X: 1\n\n<p>a\r\nSet-Cookie: x"},
  };
  Request request({Passed("v", "a\r\nSet-Cookie: x"), Passed("w", "<b>\"'&\n\n")});
  for (const Case& c : cases) {
    Result<std::string> success = request.Success(c.page);
    Result<std::string> error = request.Error(c.page + "$err$");
    ASSERT_TRUE(success && error) << c.name;
    EXPECT_EQ(*success, c.want) << c.name;
    EXPECT_EQ(*error, c.want) << c.name;
  }
}

// The site's failure page: the fatal page's message and title where it
// names them, as that page has them; everything else as in the success page.
TEST(FailurePageTest, GivesTheFatalPagesPartsWhereNamed) {
  const PageText fatal{"SMTP Communication error", "550 &lt;x&gt;\r\n<p>no\nmore", "503"};
  const struct {
    const char* name;
    std::string file, want;
  } cases[] = {
      {"body", "X-A: 1\n\n<h1>$errtitle$</h1><div>$err$</div><p>$v$ $ERR$",
       "X-A: 1\n\n<h1>SMTP Communication error</h1><div>550 &lt;x&gt;\r\n<p>no\nmore</div>"
       "<p>&lt;v&gt; 550 &lt;x&gt;\r\n<p>no\nmore"},
      {"own_words_only", "X-A: 1\n\nSorry, $v$.", "X-A: 1\n\nSorry, &lt;v&gt;."},
      {"header_block_kept_whole", "X-Error: $err$\n\nx", "X-Error: 550 &lt;x&gt; <p>no more\n\nx"},
      {"before_a_field_of_that_name", "\n$err$|$errtitle$",
       "\n550 &lt;x&gt;\r\n<p>no\nmore|SMTP Communication error"},
  };
  Request request({Passed("v", "<v>"), Passed("err", "field"), Passed("errtitle", "field")});
  for (const auto& c : cases) {
    Result<std::string> page = request.Failure(c.file, fatal);
    ASSERT_TRUE(page) << c.name;
    EXPECT_EQ(*page, c.want) << c.name;
  }
  // A page without a title gives $errtitle$ nothing; the whole is bounded.
  Result<std::string> page = request.Failure("[$errtitle$]", {std::nullopt, "m", ""});
  ASSERT_TRUE(page);
  EXPECT_EQ(*page, "[]");
  EXPECT_TRUE(FailsWithPage(
      request.Failure("$err$ $err$", {std::nullopt, std::string(kMaxExpandedLength / 2 + 1, 'm')}),
      FailureKind::kExpansionTooLong, "Mail send error", kTooLong));
}

// For a script, the error page's lines: names as the template spells them,
// texts expanded with their values as they are.
TEST(FieldErrorsTest, ListsTheErrorPagesLinesInOrder) {
  const Request request(
      {Missing("Name", "Name is required"), Passed("x", "1"),
       TooLong(Invalid("Age", "<b>x", "Age $age$ is not a number"), "Age too long")});
  Result<std::vector<FieldError>> errors = request.Errors();
  ASSERT_TRUE(errors);
  ASSERT_EQ(errors->size(), 3u);
  const std::pair<std::string, std::string> want[] = {
      {"Name", "Name is required"}, {"Age", "Age <b>x is not a number"}, {"Age", "Age too long"}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((*errors)[i].field, want[i].first) << i;
    EXPECT_EQ((*errors)[i].message, want[i].second) << i;
  }
}

// Both page files are read, in text mode, or the first that can't be is
// the failure, before anything else happens.
TEST(LoadPagesTest, ReadsBothPagesOrFailsWithTheFirstMissing) {
  TempDir dir;
  dir.Write("ok.htm", "Content-type: text/html\r\n\r\na // b\r\n");
  dir.Write("e.htm", "$err$\r\n");
  const struct {
    const char* name;
    std::string errorPage, successPage;  // empty success page: no SUCCEEDMSGFILE
    std::optional<FailureKind> failure;
  } cases[] = {
      {"both", "e.htm", "ok.htm", std::nullopt},
      {"error_page_missing", "none.htm", "ok.htm", FailureKind::kErrorPageUnreadable},
      {"success_page_missing", "e.htm", "none.htm", FailureKind::kSuccessPageUnreadable},
      {"success_page_a_directory", "e.htm", ".", FailureKind::kSuccessPageUnreadable},
      {"success_tag_missing", "none.htm", "", FailureKind::kTagMissing},
  };
  for (const auto& c : cases) {
    Template t;
    t.path = dir.path() + "/t.tpl";
    t.errorPageFile = dir.path() + "/" + c.errorPage;
    if (c.successPage.empty()) {
      t.successPageMissing = Fail(FailureKind::kTagMissing, "SUCCEEDMSGFILE");
    } else {
      t.successPageFile = dir.path() + "/" + c.successPage;
    }
    Result<PageFiles> pages = LoadPages(t, PathAliases(dir.path()));
    EXPECT_EQ(pages ? std::nullopt : std::optional(pages.failure().kind), c.failure) << c.name;
    if (pages) {
      EXPECT_EQ(pages->successPage, kHeader + "a // b\n");
      EXPECT_EQ(pages->errorPage, "$err$\n");
    }
  }
  Template t;
  t.errorPageFile = dir.path() + "/none.htm";
  Result<PageFiles> missing = LoadPages(t, PathAliases(dir.path()));
  EXPECT_TRUE(
      FailsWithPage(missing, FailureKind::kErrorPageUnreadable, "Load Failure",
                    "Failed to load or locate the file specified in &lt;errTemplateFile&gt;"));
  EXPECT_EQ(missing.failure().detail, dir.path() + "/none.htm: No such file or directory");
}

// With SUCCEEDURL the success page is not read; the failure page is read
// on its own, so that it is there when another page fails.
TEST(LoadPagesTest, SucceedUrlSkipsTheSuccessPageAndTheFailurePageComesAlone) {
  TempDir dir;
  dir.Write("e.htm", "$err$\n");
  dir.Write("sorry.htm", "X-A: 1\r\n\r\nsorry\r\n");
  Template t;
  t.errorPageFile = dir.path() + "/e.htm";
  t.successPageFile = dir.path() + "/none.htm";
  t.successUrl = "/thanks";
  Result<PageFiles> pages = LoadPages(t, PathAliases(dir.path()));
  ASSERT_TRUE(pages);
  EXPECT_FALSE(pages->successPage);
  EXPECT_EQ(*LoadFailurePage(t, PathAliases(dir.path())), std::nullopt);
  t.failurePageFile = dir.path() + "/sorry.htm";
  EXPECT_EQ(*LoadFailurePage(t, PathAliases(dir.path())), "X-A: 1\n\nsorry\n");
  t.failurePageFile = dir.path() + "/none.htm";
  EXPECT_TRUE(FailsWithPage(LoadFailurePage(t, PathAliases(dir.path())),
                            FailureKind::kFailurePageUnreadable, "Load Failure",
                            "Failed to load or locate the file specified in &lt;FatalMsgFile&gt;"));
}

// The status goes into IIS's status line, or into a Status line for other
// servers; a page the visitor caused has none (200 OK).
TEST(WriteFatalPageTest, FullHeaderOnlyForMicrosoftServersBothWithTheStatus) {
  const std::pair<std::optional<std::string>, bool> servers[] = {
      {"Microsoft-IIS/3.0", true},
      {"MICROSOFT-IIS/4.0", true},
      {"x mIcRoSoFt y", true},
      {"Apache/1.2.4", false},
      {"", false},
      {std::nullopt, false},
  };
  const std::pair<FailureKind, std::string> statuses[] = {
      {FailureKind::kNotPost, ""},
      {FailureKind::kNoShell, "500 Internal Server Error"},
      {FailureKind::kSmtpConnect, "503 Service Unavailable"},
      {FailureKind::kTooManySubmissions, "429 Too Many Requests"},
  };
  for (const auto& [server, full] : servers) {
    for (const auto& [kind, status] : statuses) {
      FakeSystem fake;
      if (server) fake.env.vars["SERVER_SOFTWARE"] = *server;
      WriteFatalPage(fake.output, fake.env, Fail(kind));
      std::string header = full ? "HTTP/1.0 " + (status.empty() ? "200 OK" : status) +
                                      "\nContent-type: text/html\n\n\n"
                                : (status.empty() ? "" : "Status: " + status + "\n") + kHeader;
      EXPECT_TRUE(fake.output.bytes.starts_with(testing::Crlf(header + "<HTML>\n<TITLE>")))
          << server.value_or("(unset)") << ", " << status << ": " << fake.output.bytes;
    }
  }
}

TEST(WriteFatalPageTest, WritesTitleAndMessageByteForByte) {
  const std::string missing = " is missing, please recheck your template file";
  struct Case {
    const char* name;
    Failure failure;
    std::string want;  // bytes after the header and "<HTML>"
  };
  const Case cases[] = {
      {"untitled", Fail(FailureKind::kPgpNotStarted), "pgp didn't run"},
      {"percent", Fail(FailureKind::kTagMissing, "100%s %d %"),
       "<TITLE>Tag missing</TITLE>&lt;100%s %d %&gt;" + missing},
      {"cr_lf", Fail(FailureKind::kTagMissing, "a\r\nb"),
       "<TITLE>Tag missing</TITLE>&lt;a\r\r\nb&gt;" + missing},
      {"nul", Fail(FailureKind::kTagMissing, std::string("a\0b", 3)),
       "<TITLE>Tag missing</TITLE>&lt;" + std::string("a\0b", 3) + "&gt;" + missing},
  };
  for (const Case& c : cases) {
    FakeSystem fake;
    WriteFatalPage(fake.output, fake.env, c.failure);
    EXPECT_EQ(
        fake.output.bytes,
        "Status: 500 Internal Server Error\r\nContent-type: text/html\r\n\r\n<HTML>\r\n" + c.want)
        << c.name;
  }
}

TEST(WriteFatalPageTest, StartedByHandGetsThePlainConsoleMessage) {
  FakeSystem fake;
  WriteFatalPage(fake.output, fake.env, Fail(FailureKind::kNoCgiEnvironment));
  EXPECT_EQ(fake.output.bytes,
            "Error occured while collecting some environment variables.\r\n"
            "Chances are you are trying to run this program from the\r\n"
            "command line prompt.  It must be run as part of a cgi call\r\n"
            "from the web server.");
}

TEST(WriteDebugPageTest, ShowsTheTranscriptEscaped) {
  FakeSystem fake;
  Transcript transcript = {{TranscriptEntry::Kind::kProtocol, "220 <mx> ready\r\n"},
                           {TranscriptEntry::Kind::kProtocol, "MAIL FROM:<a@b>\r\n"}};
  WriteDebugPage(fake.output, fake.env, transcript);
  EXPECT_EQ(fake.output.bytes,
            "Content-type: text/html\r\n\r\n<HTML>\r\n<TITLE>rfc821 mail transaction "
            "process</TITLE>220 &lt;mx&gt; ready\r\r\nMAIL FROM:&lt;a@b&gt;\r\r\n");
}

}  // namespace
}  // namespace veltrano
