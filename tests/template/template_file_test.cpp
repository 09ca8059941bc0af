#include "template/template_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "response/failure_page.hpp"
#include "support/cgi_runner.hpp"

namespace veltrano {
namespace {

TEST(SplitQueryTest, SkipsEmptyTokensAndKeepsTwo) {
  const struct {
    std::string query;
    std::optional<std::string> templateName;
    std::optional<std::string> debugToken;
  } cases[] = {{"contact.tpl", "contact.tpl", std::nullopt},
               {"contact.tpl&debug", "contact.tpl", "debug"},
               {"contact.tpl&x&debug", "contact.tpl", "x"},
               {"&&contact.tpl&&debug", "contact.tpl", "debug"},
               {"forms/contact.tpl&DeBuG", "forms/contact.tpl", "DeBuG"},
               {"", std::nullopt, std::nullopt},
               {"&&&", std::nullopt, std::nullopt},
               {std::string(5000, 'a') + "&debug", std::string(5000, 'a'), "debug"}};
  for (const auto& c : cases) {
    QueryTokens t = SplitQuery(c.query);
    EXPECT_EQ(t.templateName, c.templateName) << c.query;
    EXPECT_EQ(t.debugToken, c.debugToken) << c.query;
  }
}

using testing::FailsWithPage;
using testing::TempDir;

const std::string kNameMissing =
    "The template alias dir was specifed, but the template filename was not -> ";
const std::string kRefused =
    "The template filename in the form ACTION is not allowed.  Please recheck html file";

TEST(PathAliasesTest, MapsAliasToDirectory) {
  struct Case {
    const char* name;
    std::optional<std::string> aliasFile;  // none: no veltrano.cfg
    std::string fileName;
    std::string want;
  };
  const Case cases[] = {
      {"no_separator", "contact=/a\n", "contact.tpl", "contact.tpl"},
      {"alias", "forms = /site/t\n", "forms/contact.htm", "/site/t/contact.htm"},
      {"deeper_file_part", "forms=/site/t\n", "forms/sub/a.htm", "/site/t/sub/a.htm"},
      {"backslash", "forms=/d\n", "forms\\a.htm", "/d/a.htm"},
      {"slash_wins_over_backslash", "forms=/d\n", "forms\\a/b.htm", "forms\\a/b.htm"},
      {"containment", "forms=/b\n", "f/a.htm", "/b/a.htm"},
      {"first_line_wins", "myforms=/a\nforms=/b\n", "forms/x", "/a/x"},
      {"case_ignored", "FORMS=/a\n", "Forms/x", "/a/x"},
      {"no_match", "forms=/b\n", "other/a.htm", "other/a.htm"},
      {"line_without_equals_never_matches", "forms\nforms=/b\n", "forms/x", "/b/x"},
      {"leading_equals_skipped", "==forms=/b\n", "forms/x", "/b/x"},
      {"directory_may_hold_equals", "forms=/a=b\n", "forms/x", "/a=b/x"},
      {"key_is_not_trimmed_but_contains", "  forms  = /b \n", "forms/x", "/b/x"},
      {"empty_directory", "forms=\n", "forms/x", "/x"},
      {"long_line_held_whole", std::string(180, 'k') + "forms=/b\n", "forms/x", "/b/x"},
      {"long_line_not_split", "x" + std::string(200, 'k') + "\nforms=/b\n", "kkk/x", "kkk/x"},
      {"crlf_alias_file", "forms=/b\r\nother=/c\r\n", "forms/x", "/b/x"},
      {"leading_separators_skipped", "forms=/b\n", "//forms/x", "/b/x"},
      {"file_part_trimmed", "forms=/b\n", "forms/ x \t", "/b/x"},
      {"no_alias_file", std::nullopt, "forms/x", "forms/x"},
      {"only_separators", "=/b\n", "//", "//"},
      // Names the administrator writes are not checked like the visitor's.
      {"parent_in_administrators_name", "forms=/b\n", "forms/../x", "/b/../x"},
      {"absolute_administrators_name", "x=/b\n", "/etc/page.htm", "/etc/page.htm"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (c.aliasFile) dir.Write("veltrano.cfg", *c.aliasFile);
    Result<std::string> path = PathAliases(dir.path() + "/").Resolve(c.fileName, "t.tpl");
    ASSERT_TRUE(path) << c.name;
    EXPECT_EQ(*path, c.want) << c.name;
  }
}

TEST(PathAliasesTest, AliasWithoutFileNameNamesTheTemplatesPathEscaped) {
  TempDir dir;
  dir.Write("veltrano.cfg", "forms=/b\n");
  EXPECT_TRUE(FailsWithPage(PathAliases(dir.path()).Resolve("forms/", "/b/<t>.tpl"),
                            FailureKind::kAliasWithoutFileName, "Template name missing",
                            kNameMissing + "/b/&lt;t&gt;.tpl"));
}

TEST(PathAliasesTest, EmptyDirectoryMeansCurrentDirectory) {
  EXPECT_EQ(AliasFilePath(""), "veltrano.cfg");
  EXPECT_EQ(AliasFilePath("/srv/cgi"), "/srv/cgi/veltrano.cfg");
}

TEST(StripCommentsTest, CutsEachPieceAtItsFirstComment) {
  const std::string piece(kTemplatePieceLength, 'a');
  const std::string shortPiece(kTemplatePieceLength - 1, 'a');
  struct Case {
    const char* name;
    std::string text;
    std::string want;
  };
  const Case cases[] = {
      {"none", "a\nb\n", "a\nb\n"},
      {"takes_line_end", "<SUBJECT>Order // note\n</SUBJECT>", "<SUBJECT>Order </SUBJECT>"},
      {"web_address", "see http://x.org/\nnext\n", "see http:next\n"},
      {"whole_line", "// note\nkept\n", "kept\n"},
      {"last_line_without_lf", "a\nb // c", "a\nb "},
      {"long_line_later_piece_kept", "a//" + std::string(600, 'b') + "\nc",
       "a" + std::string(104, 'b') + "\nc"},
      {"comment_in_second_piece", piece + "//x\nc", piece + "c"},
      {"comment_split_between_pieces", shortPiece + "//x\n", shortPiece + "//x\n"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StripComments(c.text), c.want) << c.name;
}

// Web addresses in SUCCEEDURL and ALLOWORIGIN keep their "//"; everywhere
// else the rule holds, and a tag the rule cuts away opens nothing.
TEST(StripCommentsTest, KeepsUrlSectionsWhole) {
  const std::string url = "<SUCCEEDURL>https://x.org/t</SUCCEEDURL>";
  const std::string origins = "<ALLOWORIGIN>\nhttps://a.org http://b.org:8080\n</ALLOWORIGIN>";
  const struct {
    const char* name;
    std::string text;
    std::string want;
  } cases[] = {
      {"url", url + " // note\nnext\n", url + " next\n"},
      {"lower_case_tags", "<succeedurl>//x/</Succeedurl>//y\n", "<succeedurl>//x/</Succeedurl>"},
      {"origins_on_lines", origins + "\n", origins + "\n"},
      {"both_on_one_line", url + origins + "//z\n", url + origins},
      {"commented_out_tag", "// <SUCCEEDURL>http://a</SUCCEEDURL>\nb//c\n", "b"},
      {"tag_after_a_comment", "x // <SUCCEEDURL>\n<SUBJECT>http://a</SUBJECT>\n",
       "x <SUBJECT>http:"},
      {"no_closing_tag", "<SUCCEEDURL>http://a\nb//c\n", "<SUCCEEDURL>http:b"},
      {"only_the_first_section_kept", url + "\n<SUCCEEDURL>http://b\n",
       url + "\n<SUCCEEDURL>http:"},
      {"comment_inside_kept", "<ALLOWORIGIN>https://a.org // shop</ALLOWORIGIN>",
       "<ALLOWORIGIN>https://a.org // shop</ALLOWORIGIN>"},
      {"tag_split_between_pieces",
       std::string(kTemplatePieceLength - 4, 'a') + "<SUCCEEDURL>http://x</SUCCEEDURL>//y\n",
       std::string(kTemplatePieceLength - 4, 'a') + "<SUCCEEDURL>http://x</SUCCEEDURL>"},
  };
  for (const auto& c : cases) EXPECT_EQ(StripComments(c.text), c.want) << c.name;
}

// A site directory that is also the current one, as the driver leaves it.
class LoadTemplateTest : public ::testing::Test {
 protected:
  LoadTemplateTest() : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~LoadTemplateTest() override { std::filesystem::current_path(before_); }

  Result<TemplateFile> Load(std::optional<std::string> name) {
    return LoadTemplate(name, aliases_);
  }

  TempDir dir_;
  std::filesystem::path before_;
  PathAliases aliases_{dir_.path() + "/"};
};

TEST_F(LoadTemplateTest, ReadsTextModeAndDropsComments) {
  dir_.Write("t.tpl", "a\r\nb // note\r\nc\r\n");
  Result<TemplateFile> file = Load("t.tpl");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path, "t.tpl");
  EXPECT_EQ(file->text, "a\nb c\n");

  dir_.Write("empty.tpl", "");
  file = Load("empty.tpl");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->text, "");
}

TEST_F(LoadTemplateTest, AliasGivesResolvedPath) {
  dir_.Write("veltrano.cfg", "forms = " + dir_.path() + "/tpl\n");
  dir_.Write("tpl/contact.tpl", "x\n");
  Result<TemplateFile> file = Load("forms/contact.tpl");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path, dir_.path() + "/tpl/contact.tpl");
  EXPECT_EQ(file->text, "x\n");
  // An absolute name is allowed when an alias maps it.
  file = Load("/forms/contact.tpl");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path, dir_.path() + "/tpl/contact.tpl");
}

TEST_F(LoadTemplateTest, FailuresGiveTheirPages) {
  dir_.Write("veltrano.cfg", "forms=" + dir_.path() + "\n<f>orms=/x\n");
  const std::string unreadable =
      "Error occured loading the template file.  Please contact your system administrator";
  struct Case {
    const char* name;
    std::optional<std::string> templateName;
    FailureKind kind;
    std::string title;
    std::string message;
  };
  using enum FailureKind;
  const Case cases[] = {
      {"absent", std::nullopt, kNoTemplateName, "Template error",
       "A template filename was not specified in the form ACTION.  Please recheck html file"},
      {"not_found", "missing.tpl", kTemplateUnreadable, "Error loading template file", unreadable},
      {"directory", "forms/.", kTemplateUnreadable, "Error loading template file", unreadable},
      {"alias_without_file", "forms/", kAliasWithoutFileName, "Template name missing",
       kNameMissing + "forms"},
      {"alias_without_file_escaped", "<f>orms/", kAliasWithoutFileName, "Template name missing",
       kNameMissing + "&lt;f&gt;orms"},
      {"alias_without_file_backslash", "forms\\", kAliasWithoutFileName, "Template name missing",
       kNameMissing + "forms"},
      {"alias_without_file_leading_separators", "//forms/", kAliasWithoutFileName,
       "Template name missing", kNameMissing + "//forms"},
      {"alias_without_any_separator_after", "/forms", kAliasWithoutFileName,
       "Template name missing", kNameMissing + "/forms"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(FailsWithPage(Load(c.templateName), c.kind, c.title, c.message)) << c.name;
  }
  // The administrator's log learns which file and why.
  Result<TemplateFile> missing = Load("missing.tpl");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.failure().detail, "missing.tpl: No such file or directory");
}

TEST_F(LoadTemplateTest, RefusesAbsoluteAndParentNames) {
  dir_.Write("contact.tpl", "x\n");
  dir_.Write("x", "x\n");
  struct Case {
    const char* name;
    std::string templateName;
    bool refusedWithoutAlias;
    bool refusedWithAlias;  // with a line for the alias "forms", pointing at the site
  };
  const Case cases[] = {
      {"etc_passwd", "/etc/passwd", true, true},
      {"backslash_absolute", "\\x", true, true},
      {"parent", "../x", true, true},
      {"parent_only", "..", true, true},
      {"parent_in_file_part", "forms/../../x", true, true},
      {"parent_backslash", "forms\\..\\x", true, true},
      {"parent_mixed", "forms/..\\x", true, true},
      // " .." is an ordinary name until the alias trims it.
      {"parent_after_trim", "forms/ ../x", false, true},
      {"parent_windows_style", "..\\x", true, true},
      {"parent_last", "forms/x/..", true, true},
      {"parent_mixed_slash_wins", "forms\\x/../y", true, true},
      {"parent_after_double_separator", "forms//../x", true, true},
      {"parent_with_tab_after_trim", "forms/..\t", false, true},
      {"only_separators", "/", true, true},
      {"only_backslashes", "\\\\", true, true},
      {"current_directory", "./contact.tpl", false, false},
      {"three_dots", "forms/.../x", false, false},
      {"dots_in_a_name", "forms/..x", false, false},
      {"plain", "contact.tpl", false, false},
  };
  for (bool withAlias : {false, true}) {
    if (withAlias) {
      dir_.Write("veltrano.cfg", "forms=" + dir_.path() + "\n");
      aliases_ = PathAliases(dir_.path() + "/");  // a request reads the alias file once
    }
    for (const Case& c : cases) {
      Result<TemplateFile> file = Load(c.templateName);
      bool refused = static_cast<bool>(
          FailsWithPage(file, FailureKind::kTemplateNameRefused, "Template error", kRefused));
      EXPECT_EQ(refused, withAlias ? c.refusedWithAlias : c.refusedWithoutAlias)
          << c.name << (withAlias ? " with alias" : " without alias");
    }
  }
}

// A later file's page names the template's path as it was resolved, whether
// or not an alias applied to the template.
TEST_F(LoadTemplateTest, LaterFileWithoutNameNamesTheResolvedTemplatePath) {
  dir_.Write("veltrano.cfg", "forms=" + dir_.path() + "/tpl\n");
  dir_.Write("tpl/contact.tpl", "x\n");
  dir_.Write("contact.tpl", "x\n");
  dir_.Write("other/contact.tpl", "x\n");
  struct Case {
    const char* name;
    std::string templateName;  // loaded first
    std::string laterName;     // then resolved like a page, address or data file
    std::string shown;         // after the arrow
  };
  const Case cases[] = {
      {"aliased_template", "forms/contact.tpl", "forms/", dir_.path() + "/tpl/contact.tpl"},
      {"plain_template", "contact.tpl", "forms/", "contact.tpl"},
      {"unmatched_alias_template", "other/contact.tpl", "\\forms\\", "other/contact.tpl"},
  };
  for (const Case& c : cases) {
    Result<TemplateFile> file = Load(c.templateName);
    ASSERT_TRUE(file) << c.name;
    EXPECT_TRUE(FailsWithPage(aliases_.Resolve(c.laterName, file->path),
                              FailureKind::kAliasWithoutFileName, "Template name missing",
                              kNameMissing + c.shown))
        << c.name;
  }
}

}  // namespace
}  // namespace veltrano
