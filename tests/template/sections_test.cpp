#include "template/sections.hpp"

#include <gtest/gtest.h>

#include "support/fake_system.hpp"
#include "template/template_test_util.hpp"

namespace veltrano {
namespace {

using testing::CatchFatal;
using testing::FakeSystem;

struct ExtractCase {
  const char* name;
  std::string text;
  bool required;
  std::optional<std::string> want;  // none: absent (optional) or the missing tag
  std::string missingTag;           // for required sections
};

class ExtractSectionTest : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractSectionTest, CutsBetweenFirstTags) {
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.templateText = GetParam().text;
  std::optional<std::string> got;
  std::optional<FatalError> error = CatchFatal(
      [&] { got = ExtractSection(ctx, "<SUBJECT>", "</SUBJECT>", GetParam().required); });
  if (GetParam().missingTag.empty()) {
    ASSERT_FALSE(error) << error->message;
    EXPECT_EQ(got, GetParam().want);
  } else {
    ASSERT_TRUE(error);
    EXPECT_EQ(error->title, "Tag missing");
    EXPECT_EQ(error->message, "&lt;" + GetParam().missingTag +
                                  "&gt; is missing, please recheck your template file");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExtractSectionTest,
    ::testing::Values(
        ExtractCase{"plain", "x<SUBJECT>Hi</SUBJECT>y", true, "Hi", ""},
        ExtractCase{"any_case", "<subject>Hi</Subject>", true, "Hi", ""},
        ExtractCase{"case_of_text_kept", "<SUBJECT>HeLLo</SUBJECT>", false, "HeLLo", ""},
        ExtractCase{"empty_is_present", "<SUBJECT></SUBJECT>", false, "", ""},
        ExtractCase{"own_lines_keep_line_ends", "<SUBJECT>\nHi\n</SUBJECT>", false, "\nHi\n", ""},
        ExtractCase{"first_occurrence_wins", "<SUBJECT>a</SUBJECT><SUBJECT>b</SUBJECT>", true, "a",
                    ""},
        ExtractCase{"closing_quoted_before", "</SUBJECT> note <SUBJECT>a</SUBJECT>", true, "a", ""},
        ExtractCase{"closing_only_before_optional", "</SUBJECT><SUBJECT>a", false, std::nullopt,
                    ""},
        ExtractCase{"closing_only_before_required", "</SUBJECT><SUBJECT>a", true, std::nullopt,
                    "/SUBJECT"},
        ExtractCase{"no_opening_optional", "Hi</SUBJECT>", false, std::nullopt, ""},
        ExtractCase{"no_opening_required", "Hi</SUBJECT>", true, std::nullopt, "SUBJECT"},
        ExtractCase{"no_closing_required", "<SUBJECT>Hi", true, std::nullopt, "/SUBJECT"},
        ExtractCase{"neither_required", "", true, std::nullopt, "SUBJECT"}),
    [](const auto& info) { return std::string(info.param.name); });

std::string Show(const char* field, const std::optional<std::string>& value) {
  return value ? std::string(field) + "=[" + *value + "]\n" : "";
}

// The sections ReadSections stored, one per line; absent ones are left out.
std::string DumpSections(const RequestContext& ctx) {
  return Show("smtpServer", ctx.smtpServer) + Show("sender", ctx.sender) +
         Show("subject", ctx.subject) + Show("messageBody", ctx.messageBody) +
         Show("mailHeader", ctx.mailHeader) + Show("responseMailHeader", ctx.responseMailHeader) +
         Show("errorPageFile", ctx.errorPageFile) + Show("responseSubject", ctx.responseSubject) +
         Show("responseBody", ctx.responseBody) + Show("executeCommand", ctx.executeCommand) +
         Show("addressFile", ctx.addressFile) + Show("appendDataFile", ctx.appendDataFile) +
         Show("truncateDataFile", ctx.truncateDataFile) +
         Show("dataFileFormat", ctx.dataFileFormat) + Show("fieldSection", ctx.fieldSection);
}

const std::string kRequired = "<ERRMSGFILE>e.htm</ERRMSGFILE><FORMDATA>f</FORMDATA>";

struct ReadCase {
  const char* name;
  std::string text;
  std::string want;  // DumpSections, or the missing tag when it starts with '!'
};

class ReadSectionsTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadSectionsTest, StoresSectionsUnderTheirConditions) {
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.templateText = GetParam().text;
  std::optional<FatalError> error = CatchFatal([&] { ReadSections(ctx); });
  const std::string& want = GetParam().want;
  if (want.starts_with('!')) {
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message,
              "&lt;" + want.substr(1) + "&gt; is missing, please recheck your template file");
    return;
  }
  ASSERT_FALSE(error) << error->message;
  EXPECT_EQ(DumpSections(ctx), want);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, ReadSectionsTest,
    ::testing::Values(
        ReadCase{"minimal", kRequired, "errorPageFile=[e.htm]\nfieldSection=[f]\n"},
        ReadCase{"mail_sections_need_smtpserver",
                 kRequired + "<SENDER>s</SENDER><SUBJECT>u</SUBJECT><MSGBODY>b</MSGBODY>"
                             "<MAILHDR>h</MAILHDR><RMAILHDR>r</RMAILHDR>",
                 "errorPageFile=[e.htm]\nfieldSection=[f]\n"},
        ReadCase{"everything_any_order_any_case",
                 "<formdata>\n<NAME=\"a\">\n</FORMDATA><MsgBody>\nBody\n</msgbody>"
                 "<SMTPSERVER>mail.example.org</SMTPSERVER><SENDER>$email$</SENDER>"
                 "<SUBJECT> Hi </SUBJECT><MAILHDR>\n X-A: 1 \n</MAILHDR>"
                 "<RMAILHDR> X-B: 2</RMAILHDR><ERRMSGFILE>e.htm</ERRMSGFILE>"
                 "<RSUBJECT>Thanks</RSUBJECT><RMSGBODY>R</RMSGBODY><EXECUTE>run</EXECUTE>"
                 "<ADRFILE> list.txt\n</ADRFILE><DFILE APPEND>\n data.txt \n</DFILE>"
                 "<DFILEFORMAT>$name$\n</DFILEFORMAT>",
                 "smtpServer=[mail.example.org]\nsender=[$email$]\nsubject=[ Hi ]\n"
                 "messageBody=[\nBody\n]\nmailHeader=[X-A: 1]\nresponseMailHeader=[X-B: 2]\n"
                 "errorPageFile=[e.htm]\nresponseSubject=[Thanks]\nresponseBody=[R]\n"
                 "executeCommand=[run]\naddressFile=[list.txt]\nappendDataFile=[data.txt]\n"
                 "dataFileFormat=[$name$\n]\n"
                 "fieldSection=[\n<NAME=\"a\">\n]\n"},
        ReadCase{"both_dfile_sections_use_append",
                 kRequired + "<DFILE TRUNCATE>t.txt</DFILE><DFILE APPEND>a.txt</DFILE>",
                 "errorPageFile=[e.htm]\nappendDataFile=[a.txt]\nfieldSection=[f]\n"},
        ReadCase{"truncate_alone_and_empty_format",
                 kRequired + "<DFILE TRUNCATE> t.txt </DFILE><DFILEFORMAT></DFILEFORMAT>",
                 "errorPageFile=[e.htm]\ntruncateDataFile=[t.txt]\ndataFileFormat=[]\n"
                 "fieldSection=[f]\n"},
        ReadCase{"empty_append_still_counts",
                 kRequired + "<DFILE APPEND> </DFILE><DFILE TRUNCATE>t</DFILE>"
                             "<DFILEFORMAT>x</DFILEFORMAT>",
                 "errorPageFile=[e.htm]\nappendDataFile=[]\ndataFileFormat=[x]\n"
                 "fieldSection=[f]\n"},
        ReadCase{"shared_closing_tag_found_after_opening",
                 kRequired + "<DFILE TRUNCATE> t </DFILE><DFILE APPEND> a </DFILE>",
                 "errorPageFile=[e.htm]\nappendDataFile=[a]\nfieldSection=[f]\n"},
        ReadCase{"format_without_data_file", kRequired + "<DFILEFORMAT>x</DFILEFORMAT>",
                 "errorPageFile=[e.htm]\nfieldSection=[f]\n"},
        ReadCase{"empty_smtpserver_requires_sender", kRequired + "<SMTPSERVER></SMTPSERVER>",
                 "!SENDER"},
        ReadCase{"subject_without_closing",
                 kRequired + "<SMTPSERVER>m</SMTPSERVER><SENDER>s</SENDER><SUBJECT>u", "!/SUBJECT"},
        ReadCase{"missing_body",
                 kRequired + "<SMTPSERVER>m</SMTPSERVER><SENDER>s</SENDER>"
                             "<SUBJECT>u</SUBJECT>",
                 "!MSGBODY"},
        ReadCase{"empty_template", "", "!ERRMSGFILE"},
        ReadCase{"errmsgfile_before_formdata", "<FORMDATA", "!ERRMSGFILE"},
        ReadCase{"formdata_last", "<ERRMSGFILE>e</ERRMSGFILE>", "!FORMDATA"},
        ReadCase{"formdata_closing", "<ERRMSGFILE>e</ERRMSGFILE><FORMDATA>", "!/FORMDATA"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadSectionsTest, TagQuotedInBodyWins) {
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.templateText =
      "<SMTPSERVER>m</SMTPSERVER><SENDER>s</SENDER><SUBJECT>u</SUBJECT>"
      "<MSGBODY>Use <ERRMSGFILE> tags</MSGBODY><ERRMSGFILE>e.htm</ERRMSGFILE>"
      "<FORMDATA>f</FORMDATA>";
  ReadSections(ctx);
  EXPECT_EQ(ctx.errorPageFile, " tags</MSGBODY><ERRMSGFILE>e.htm");
}

}  // namespace
}  // namespace veltrano
