#include "template/template_file.hpp"

#include <gtest/gtest.h>

#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"
#include "template/template_test_util.hpp"

namespace veltrano {
namespace {

using testing::CatchFatal;
using testing::FakeSystem;
using testing::ScopedCurrentDir;
using testing::TempDir;

struct ResolveCase {
  const char* name;
  std::optional<std::string> aliasFile;  // none: no veltrano.cfg
  std::string templateName;
  std::string want;
};

class ResolveTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveTest, MapsAliasToDirectory) {
  TempDir dir;
  if (GetParam().aliasFile) dir.Write("veltrano.cfg", *GetParam().aliasFile);
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.workingDirectory = dir.path() + "/";
  EXPECT_EQ(ResolveTemplatePath(ctx, GetParam().templateName), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ResolveTest,
    ::testing::Values(
        ResolveCase{"no_separator", "contact=/a\n", "contact.tpl", "contact.tpl"},
        ResolveCase{"alias", "forms = /site/t\n", "forms/contact.htm", "/site/t/contact.htm"},
        ResolveCase{"deeper_file_part", "forms=/site/t\n", "forms/sub/a.htm", "/site/t/sub/a.htm"},
        ResolveCase{"backslash", "forms=/d\n", "forms\\a.htm", "/d/a.htm"},
        ResolveCase{"slash_wins_over_backslash", "forms=/d\n", "forms\\a/b.htm", "forms\\a/b.htm"},
        ResolveCase{"containment", "forms=/b\n", "f/a.htm", "/b/a.htm"},
        ResolveCase{"first_line_wins", "myforms=/a\nforms=/b\n", "forms/x", "/a/x"},
        ResolveCase{"case_ignored", "FORMS=/a\n", "Forms/x", "/a/x"},
        ResolveCase{"no_match", "forms=/b\n", "other/a.htm", "other/a.htm"},
        ResolveCase{"line_without_equals_never_matches", "forms\nforms=/b\n", "forms/x", "/b/x"},
        ResolveCase{"leading_equals_skipped", "==forms=/b\n", "forms/x", "/b/x"},
        ResolveCase{"directory_may_hold_equals", "forms=/a=b\n", "forms/x", "/a=b/x"},
        ResolveCase{"key_is_not_trimmed_but_contains", "  forms  = /b \n", "forms/x", "/b/x"},
        ResolveCase{"empty_directory", "forms=\n", "forms/x", "/x"},
        ResolveCase{"long_line_held_whole", std::string(180, 'k') + "forms=/b\n", "forms/x",
                    "/b/x"},
        ResolveCase{"long_line_not_split", "x" + std::string(200, 'k') + "\nforms=/b\n", "kkk/x",
                    "kkk/x"},
        ResolveCase{"crlf_alias_file", "forms=/b\r\nother=/c\r\n", "forms/x", "/b/x"},
        ResolveCase{"leading_separators_skipped", "forms=/b\n", "//forms/x", "/b/x"},
        ResolveCase{"file_part_trimmed", "forms=/b\n", "forms/ x \t", "/b/x"},
        ResolveCase{"no_alias_file", std::nullopt, "forms/x", "forms/x"},
        ResolveCase{"only_separators", "=/b\n", "//", "//"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResolveTest, TemplateNameMissingNamesTheTemplatesPath) {
  TempDir dir;
  dir.Write("veltrano.cfg", "forms=/b\n");
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.workingDirectory = dir.path() + "/";
  ctx.templatePath = "/b/<t>.tpl";
  std::optional<FatalError> error = CatchFatal([&] { ResolveTemplatePath(ctx, "forms/"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->title, "Template name missing");
  EXPECT_EQ(error->message,
            "The template alias dir was specifed, but the template filename was not -> "
            "/b/&lt;t&gt;.tpl");
}

TEST(AliasFilePathTest, EmptyDirectoryMeansCurrentDirectory) {
  EXPECT_EQ(AliasFilePath(""), "veltrano.cfg");
  EXPECT_EQ(AliasFilePath("/srv/cgi/"), "/srv/cgi//veltrano.cfg");
}

struct CommentCase {
  const char* name;
  std::string text;
  std::string want;
};

class StripCommentsTest : public ::testing::TestWithParam<CommentCase> {};

TEST_P(StripCommentsTest, CutsEachPieceAtItsFirstComment) {
  EXPECT_EQ(StripComments(GetParam().text), GetParam().want);
}

const std::string kPiece(kTemplatePieceLength, 'a');

INSTANTIATE_TEST_SUITE_P(
    Texts, StripCommentsTest,
    ::testing::Values(CommentCase{"none", "a\nb\n", "a\nb\n"},
                      CommentCase{"takes_line_end", "<SUBJECT>Order // note\n</SUBJECT>",
                                  "<SUBJECT>Order </SUBJECT>"},
                      CommentCase{"web_address", "see http://x.org/\nnext\n", "see http:next\n"},
                      CommentCase{"whole_line", "// note\nkept\n", "kept\n"},
                      CommentCase{"last_line_without_lf", "a\nb // c", "a\nb "},
                      CommentCase{"long_line_later_piece_kept",
                                  "a//" + std::string(600, 'b') + "\nc",
                                  "a" + std::string(104, 'b') + "\nc"},
                      CommentCase{"comment_in_second_piece", kPiece + "//x\nc", kPiece + "c"},
                      CommentCase{"comment_split_between_pieces",
                                  std::string(kTemplatePieceLength - 1, 'a') + "//x\n",
                                  std::string(kTemplatePieceLength - 1, 'a') + "//x\n"},
                      CommentCase{"empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A site directory that is also the current one, as the driver leaves it.
class LoadTemplateTest : public ::testing::Test {
 protected:
  LoadTemplateTest() : cwd_(dir_.path()), ctx_(fake_.system) {}

  std::optional<FatalError> Load(std::optional<std::string> name) {
    return CatchFatal([&] { LoadTemplate(ctx_, std::move(name), dir_.path() + "/"); });
  }

  TempDir dir_;
  ScopedCurrentDir cwd_;
  FakeSystem fake_;
  RequestContext ctx_;
};

TEST_F(LoadTemplateTest, ReadsTextModeAndDropsComments) {
  dir_.Write("t.tpl", "a\r\nb // note\r\nc\r\n");
  ASSERT_FALSE(Load("t.tpl"));
  EXPECT_EQ(ctx_.templatePath, "t.tpl");
  EXPECT_EQ(ctx_.templateText, "a\nb c\n");
  EXPECT_EQ(ctx_.workingDirectory, dir_.path() + "/");
}

TEST_F(LoadTemplateTest, EmptyTemplateIsEmptyText) {
  dir_.Write("t.tpl", "");
  ASSERT_FALSE(Load("t.tpl"));
  EXPECT_EQ(ctx_.templateText, "");
}

TEST_F(LoadTemplateTest, AliasGivesResolvedPath) {
  dir_.Write("veltrano.cfg", "forms = " + dir_.path() + "/tpl\n");
  dir_.Write("tpl/contact.tpl", "x\n");
  ASSERT_FALSE(Load("forms/contact.tpl"));
  EXPECT_EQ(ctx_.templatePath, dir_.path() + "/tpl/contact.tpl");
  EXPECT_EQ(ctx_.templateText, "x\n");
}

struct FailureCase {
  const char* name;
  std::optional<std::string> templateName;
  std::string title;
  std::string message;
};

class LoadTemplateFailureTest : public LoadTemplateTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LoadTemplateFailureTest, ReportsPage) {
  dir_.Write("veltrano.cfg", "forms=" + dir_.path() + "\n<f>orms=/x\n");
  std::optional<FatalError> error = Load(GetParam().templateName);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->title, GetParam().title);
  EXPECT_EQ(error->message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LoadTemplateFailureTest,
    ::testing::Values(
        FailureCase{"absent", std::nullopt, "Template error",
                    "A template filename was not specified in the form ACTION.  Please recheck "
                    "html file"},
        FailureCase{"not_found", "missing.tpl", "Error loading template file",
                    "Error occured loading the template file.  Please contact your system "
                    "administrator"},
        FailureCase{"directory", "forms/.", "Error loading template file",
                    "Error occured loading the template file.  Please contact your system "
                    "administrator"},
        FailureCase{"alias_without_file", "forms/", "Template name missing",
                    "The template alias dir was specifed, but the template filename was not -> "
                    "forms"},
        FailureCase{"alias_without_file_escaped", "<f>orms/", "Template name missing",
                    "The template alias dir was specifed, but the template filename was not -> "
                    "&lt;f&gt;orms"},
        FailureCase{"alias_without_file_backslash", "forms\\", "Template name missing",
                    "The template alias dir was specifed, but the template filename was not -> "
                    "forms"},
        FailureCase{"alias_without_file_leading_separators", "//forms/", "Template name missing",
                    "The template alias dir was specifed, but the template filename was not -> "
                    "//forms"},
        FailureCase{"alias_without_any_separator_after", "/forms", "Template name missing",
                    "The template alias dir was specifed, but the template filename was not -> "
                    "/forms"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameCheckCase {
  const char* name;
  std::string templateName;
  bool refusedWithoutAlias;
  bool refusedWithAlias;
};

class TemplateNameCheckTest : public LoadTemplateTest,
                              public ::testing::WithParamInterface<NameCheckCase> {};

// Every name is tried without an alias file and with one whose line matches
// the alias "forms", pointing at the site itself.
TEST_P(TemplateNameCheckTest, RefusesAbsoluteAndParentNames) {
  dir_.Write("contact.tpl", "x\n");
  dir_.Write("x", "x\n");
  for (bool withAlias : {false, true}) {
    SCOPED_TRACE(withAlias ? "with alias" : "without alias");
    if (withAlias) dir_.Write("veltrano.cfg", "forms=" + dir_.path() + "\n");
    std::optional<FatalError> error = Load(GetParam().templateName);
    bool refused = error && error->title == "Template error" &&
                   error->message ==
                       "The template filename in the form ACTION is not allowed.  Please recheck "
                       "html file";
    EXPECT_EQ(refused, withAlias ? GetParam().refusedWithAlias : GetParam().refusedWithoutAlias)
        << (error ? *error->title + ": " + error->message : "loaded");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, TemplateNameCheckTest,
    ::testing::Values(NameCheckCase{"etc_passwd", "/etc/passwd", true, true},
                      NameCheckCase{"backslash_absolute", "\\x", true, true},
                      NameCheckCase{"parent", "../x", true, true},
                      NameCheckCase{"parent_only", "..", true, true},
                      NameCheckCase{"parent_in_file_part", "forms/../../x", true, true},
                      NameCheckCase{"parent_backslash", "forms\\..\\x", true, true},
                      NameCheckCase{"parent_mixed", "forms/..\\x", true, true},
                      // " .." is an ordinary name until the alias trims it.
                      NameCheckCase{"parent_after_trim", "forms/ ../x", false, true},
                      NameCheckCase{"parent_windows_style", "..\\x", true, true},
                      NameCheckCase{"parent_last", "forms/x/..", true, true},
                      NameCheckCase{"parent_mixed_slash_wins", "forms\\x/../y", true, true},
                      NameCheckCase{"parent_after_double_separator", "forms//../x", true, true},
                      // The alias trims its file part to "..".
                      NameCheckCase{"parent_with_tab_after_trim", "forms/..\t", false, true},
                      NameCheckCase{"only_separators", "/", true, true},
                      NameCheckCase{"only_backslashes", "\\\\", true, true},
                      NameCheckCase{"current_directory", "./contact.tpl", false, false},
                      NameCheckCase{"three_dots", "forms/.../x", false, false},
                      NameCheckCase{"dots_in_a_name", "forms/..x", false, false},
                      NameCheckCase{"plain", "contact.tpl", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoadTemplateTest, AbsoluteNameWithAliasIsAllowed) {
  dir_.Write("veltrano.cfg", "forms=" + dir_.path() + "\n");
  dir_.Write("contact.tpl", "x\n");
  EXPECT_FALSE(Load("/forms/contact.tpl"));
  EXPECT_EQ(ctx_.templatePath, dir_.path() + "/contact.tpl");
}

struct LaterFileCase {
  const char* name;
  std::string templateName;  // loaded first
  std::string laterName;     // then resolved like a page, address or data file
  std::string shown;         // after the arrow; "{site}" stands for the site directory
};

class LaterFileNameMissingTest : public LoadTemplateTest,
                                 public ::testing::WithParamInterface<LaterFileCase> {};

// A later file's page names the template's path as it was resolved, whether
// or not an alias applied to the template.
TEST_P(LaterFileNameMissingTest, NamesTheResolvedTemplatePath) {
  dir_.Write("veltrano.cfg", "forms=" + dir_.path() + "/tpl\n");
  dir_.Write("tpl/contact.tpl", "x\n");
  dir_.Write("contact.tpl", "x\n");
  dir_.Write("other/contact.tpl", "x\n");
  ASSERT_FALSE(Load(GetParam().templateName));
  std::string shown = GetParam().shown;
  if (auto at = shown.find("{site}"); at != std::string::npos) shown.replace(at, 6, dir_.path());
  const std::string want =
      "The template alias dir was specifed, but the template filename was not -> " + shown;
  for (bool viaLoadTextFile : {false, true}) {
    std::optional<FatalError> error = CatchFatal([&] {
      if (viaLoadTextFile) {
        (void)LoadTextFile(ctx_, GetParam().laterName);
      } else {
        (void)ResolveTemplatePath(ctx_, GetParam().laterName);
      }
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->title, "Template name missing");
    EXPECT_EQ(error->message, want);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, LaterFileNameMissingTest,
    ::testing::Values(LaterFileCase{"aliased_template", "forms/contact.tpl", "forms/",
                                    "{site}/tpl/contact.tpl"},
                      LaterFileCase{"plain_template", "contact.tpl", "forms/", "contact.tpl"},
                      LaterFileCase{"unmatched_alias_template", "other/contact.tpl", "\\forms\\",
                                    "other/contact.tpl"}),
    [](const auto& info) { return std::string(info.param.name); });

// Files the administrator names may lie anywhere and keep their "//".
TEST_F(LoadTemplateTest, LoadTextFileTrustsAdministratorsNames) {
  dir_.Write("pages/ok.htm", "a // b\r\n");
  EXPECT_EQ(LoadTextFile(ctx_, dir_.path() + "/pages/ok.htm"), "a // b\n");
  EXPECT_EQ(LoadTextFile(ctx_, "pages/../pages/ok.htm"), "a // b\n");
  EXPECT_EQ(LoadTextFile(ctx_, "pages/none.htm"), std::nullopt);
}

}  // namespace
}  // namespace veltrano
