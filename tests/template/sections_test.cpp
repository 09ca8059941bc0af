#include "template/sections.hpp"

#include <gtest/gtest.h>

#include "response/failure_page.hpp"
#include "template/field_definitions.hpp"

namespace veltrano {
namespace {

using testing::FailsWithPage;

std::string TagMissingMessage(const std::string& tag) {
  return "&lt;" + tag + "&gt; is missing, please recheck your template file";
}

TEST(ExtractSectionTest, CutsBetweenFirstTags) {
  struct Case {
    const char* name;
    std::string text;
    bool required;
    std::optional<std::string> want;  // none: absent optional section
    std::string missingTag;           // set: a required section's failure
  };
  const Case cases[] = {
      {"plain", "x<SUBJECT>Hi</SUBJECT>y", true, "Hi", ""},
      {"any_case", "<subject>Hi</Subject>", true, "Hi", ""},
      {"case_of_text_kept", "<SUBJECT>HeLLo</SUBJECT>", false, "HeLLo", ""},
      {"empty_is_present", "<SUBJECT></SUBJECT>", false, "", ""},
      {"own_lines_keep_line_ends", "<SUBJECT>\nHi\n</SUBJECT>", false, "\nHi\n", ""},
      {"first_occurrence_wins", "<SUBJECT>a</SUBJECT><SUBJECT>b</SUBJECT>", true, "a", ""},
      {"closing_quoted_before", "</SUBJECT> note <SUBJECT>a</SUBJECT>", true, "a", ""},
      {"closing_only_before_optional", "</SUBJECT><SUBJECT>a", false, std::nullopt, ""},
      {"closing_only_before_required", "</SUBJECT><SUBJECT>a", true, std::nullopt, "/SUBJECT"},
      {"no_opening_optional", "Hi</SUBJECT>", false, std::nullopt, ""},
      {"no_opening_required", "Hi</SUBJECT>", true, std::nullopt, "SUBJECT"},
      {"no_closing_required", "<SUBJECT>Hi", true, std::nullopt, "/SUBJECT"},
      {"neither_required", "", true, std::nullopt, "SUBJECT"},
  };
  for (const Case& c : cases) {
    auto got = ExtractSection(c.text, "<SUBJECT>", "</SUBJECT>", c.required);
    if (c.missingTag.empty()) {
      ASSERT_TRUE(got) << c.name;
      EXPECT_EQ(*got, c.want) << c.name;
    } else {
      EXPECT_TRUE(FailsWithPage(got, FailureKind::kTagMissing, "Tag missing",
                                TagMissingMessage(c.missingTag)))
          << c.name;
    }
  }
}

std::string Show(const char* field, const std::optional<std::string>& value) {
  return value ? std::string(field) + "=[" + *value + "]\n" : "";
}

// The sections of a parsed template, one per line; absent ones left out.
std::string DumpSections(const Template& t) {
  std::string out;
  if (t.mail) {
    out += Show("smtpServer", t.mail->server) + Show("sender", t.mail->sender) +
           Show("subject", t.mail->subject) + Show("messageBody", t.mail->messageBody) +
           Show("mailHeader", t.mail->mailHeader) +
           Show("responseMailHeader", t.mail->responseMailHeader) +
           Show("replyTo", t.mail->replyTo);
  }
  out += Show("errorPageFile", t.errorPageFile) + Show("responseSubject", t.responseSubject) +
         Show("responseBody", t.responseBody) + Show("executeCommand", t.executeCommand) +
         Show("addressFile", t.addressFile);
  if (t.dataFile) {
    bool append = t.dataFile->mode == DataFileMode::kAppend;
    out += Show(append ? "appendDataFile" : "truncateDataFile", t.dataFile->name) +
           Show("dataFileFormat", t.dataFile->format);
  }
  const AbuseControls& a = t.abuse;
  if (a.recipients) {
    out += "recipients=[";
    for (const std::string& r : *a.recipients) out += r + ";";
    out += "]\n";
  }
  if (a.rateLimit) {
    out += "rateLimit=[" + a.rateLimit->path + "|" + std::to_string(a.rateLimit->count) + "|" +
           std::to_string(a.rateLimit->seconds) + "]\n";
  }
  if (!a.debugAllowed) out += "debug=[off]\n";
  if (a.dataFileGuard) out += "dataFileGuard=[on]\n";
  out += Show("successPageFile", t.successPageFile);
  if (t.successPageMissing) out += "successPageMissing=[" + t.successPageMissing->text + "]\n";
  return out + DumpFields(t.fields);
}

const std::string kRequired =
    "<ERRMSGFILE>e.htm</ERRMSGFILE><FORMDATA>\n<NAME=\"a\">\n</FORMDATA>"
    "<SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>";
const std::string kRequiredDump = "errorPageFile=[e.htm]\n";
const std::string kTail = "successPageFile=[ok.htm]\nname=\"a\"\n";

TEST(ReadSectionsTest, StoresSectionsUnderTheirConditions) {
  struct Case {
    const char* name;
    std::string text;
    std::string want;  // DumpSections, or the missing tag after '!'
  };
  const Case cases[] = {
      {"minimal", kRequired, kRequiredDump + kTail},
      {"mail_sections_need_smtpserver",
       kRequired + "<SENDER>s@x</SENDER><SUBJECT>u</SUBJECT><MSGBODY>b</MSGBODY>"
                   "<MAILHDR>h</MAILHDR><RMAILHDR>r</RMAILHDR><REPLYTO>$email$</REPLYTO>",
       kRequiredDump + kTail},
      {"everything_any_order_any_case",
       "<formdata>\n<NAME=\"a\">\n</FORMDATA><MsgBody>\nBody\n</msgbody>"
       "<SMTPSERVER>mail.example.org</SMTPSERVER><SENDER>$email$</SENDER>"
       "<SUBJECT> Hi </SUBJECT><MAILHDR>\n X-A: 1 \n</MAILHDR>"
       "<RMAILHDR> X-B: 2</RMAILHDR><ERRMSGFILE>e.htm</ERRMSGFILE><replyTo> $email$\n</REPLYTO>"
       "<RSUBJECT>Thanks</RSUBJECT><RMSGBODY>R</RMSGBODY><EXECUTE>run</EXECUTE>"
       "<ADRFILE> list.txt\n</ADRFILE><DFILE APPEND>\n data.txt \n</DFILE>"
       "<DFILEFORMAT>$name$\n</DFILEFORMAT><succeedmsgfile> ok.htm\n</SUCCEEDMSGFILE>",
       "smtpServer=[mail.example.org]\nsender=[$email$]\nsubject=[ Hi ]\n"
       "messageBody=[\nBody\n]\nmailHeader=[X-A: 1]\nresponseMailHeader=[X-B: 2]\n"
       "replyTo=[ $email$\n]\nerrorPageFile=[e.htm]\nresponseSubject=[Thanks]\nresponseBody=[R]\n"
       "executeCommand=[run]\naddressFile=[list.txt]\nappendDataFile=[data.txt]\n"
       "dataFileFormat=[$name$\n]\nsuccessPageFile=[ ok.htm\n]\nname=\"a\"\n"},
      {"both_dfile_sections_use_append",
       kRequired + "<DFILE TRUNCATE>t.txt</DFILE><DFILE APPEND>a.txt</DFILE>",
       kRequiredDump + "appendDataFile=[a.txt]\n" + kTail},
      {"truncate_alone_and_empty_format",
       kRequired + "<DFILE TRUNCATE> t.txt </DFILE><DFILEFORMAT></DFILEFORMAT>",
       kRequiredDump + "truncateDataFile=[t.txt]\ndataFileFormat=[]\n" + kTail},
      {"empty_append_still_counts",
       kRequired + "<DFILE APPEND> </DFILE><DFILE TRUNCATE>t</DFILE><DFILEFORMAT>x</DFILEFORMAT>",
       kRequiredDump + "appendDataFile=[]\ndataFileFormat=[x]\n" + kTail},
      {"shared_closing_tag_found_after_opening",
       kRequired + "<DFILE TRUNCATE> t </DFILE><DFILE APPEND> a </DFILE>",
       kRequiredDump + "appendDataFile=[a]\n" + kTail},
      {"format_without_data_file", kRequired + "<DFILEFORMAT>x</DFILEFORMAT>",
       kRequiredDump + kTail},
      {"abuse_controls",
       kRequired + "<RECIPIENTS>\n owner@example.org \n\n@Sales.example.com\n</RECIPIENTS>"
                   "<RATELIMIT> /var/lib/veltrano/rate state  5 3600 </RATELIMIT>"
                   "<debug> Off </debug><DFILEGUARD>ON</DFILEGUARD>",
       kRequiredDump +
           "recipients=[owner@example.org;@Sales.example.com;]\n"
           "rateLimit=[/var/lib/veltrano/rate state|5|3600]\ndebug=[off]\ndataFileGuard=[on]\n" +
           kTail},
      {"controls_off_unless_asked",
       kRequired + "<RECIPIENTS></RECIPIENTS><DEBUG>on</DEBUG><DFILEGUARD>off</DFILEGUARD>",
       kRequiredDump + "recipients=[]\n" + kTail},
      {"tag_quoted_in_body_wins",
       "<SMTPSERVER>m</SMTPSERVER><SENDER>s@x</SENDER><SUBJECT>u</SUBJECT>"
       "<MSGBODY>Use <ERRMSGFILE> tags</MSGBODY><ERRMSGFILE>e.htm</ERRMSGFILE>"
       "<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>",
       "smtpServer=[m]\nsender=[s@x]\nsubject=[u]\nmessageBody=[Use <ERRMSGFILE> tags]\n"
       "errorPageFile=[ tags</MSGBODY><ERRMSGFILE>e.htm]\n"
       "successPageMissing=[SUCCEEDMSGFILE]\nname=\"a\"\n"},
      // Reported only at the end of an accepted request.
      {"success_page_closing_missing",
       "<ERRMSGFILE>e</ERRMSGFILE><FORMDATA>\n<NAME=\"a\"></FORMDATA><SUCCEEDMSGFILE>x",
       "errorPageFile=[e]\nsuccessPageMissing=[/SUCCEEDMSGFILE]\nname=\"a\"\n"},
      {"empty_smtpserver_requires_sender", kRequired + "<SMTPSERVER></SMTPSERVER>", "!SENDER"},
      {"subject_without_closing",
       kRequired + "<SMTPSERVER>m</SMTPSERVER><SENDER>s@x</SENDER><SUBJECT>u", "!/SUBJECT"},
      {"missing_body",
       kRequired + "<SMTPSERVER>m</SMTPSERVER><SENDER>s@x</SENDER><SUBJECT>u</SUBJECT>",
       "!MSGBODY"},
      {"empty_template", "", "!ERRMSGFILE"},
      {"errmsgfile_before_formdata", "<FORMDATA", "!ERRMSGFILE"},
      {"formdata_last", "<ERRMSGFILE>e</ERRMSGFILE>", "!FORMDATA"},
      {"formdata_closing", "<ERRMSGFILE>e</ERRMSGFILE><FORMDATA>", "!/FORMDATA"},
  };
  for (const Case& c : cases) {
    Result<Template> t = ReadSections(TemplateFile{"t.tpl", c.text});
    if (c.want.starts_with('!')) {
      const std::string tag = c.want.substr(1);
      EXPECT_TRUE(FailsWithPage(t, FailureKind::kTagMissing, "Tag missing", TagMissingMessage(tag)))
          << c.name;
      continue;
    }
    ASSERT_TRUE(t) << c.name << ": " << PageFor(t.failure()).message;
    EXPECT_EQ(t->path, "t.tpl");
    EXPECT_EQ(DumpSections(*t), c.want) << c.name;
  }
}

// A SENDER written without placeholders is what every mail is sent from:
// empty (the null sender) or one plain address, else a template error.
TEST(ReadSectionsTest, FixedSenderIsNullOrOnePlainAddress) {
  const struct {
    const char* sender;
    const char* refused;  // the failure's text; null: accepted
  } cases[] = {
      {"form@example.org", nullptr},
      {" form@example.org\n", nullptr},
      {"", nullptr},
      {"$email$", nullptr},
      {"Form <$email$>", nullptr},
      {"form@a@example.org", "form@a@example.org"},
      {" Form <form@example.org>\n", "Form <form@example.org>"},
      {"webmaster", "webmaster"},
  };
  for (const auto& c : cases) {
    Result<Template> t = ReadSections(
        TemplateFile{"t.tpl", kRequired + "<SMTPSERVER>m</SMTPSERVER><SENDER>" + c.sender +
                                  "</SENDER><SUBJECT>u</SUBJECT><MSGBODY>b</MSGBODY>"});
    ASSERT_EQ(bool(t), c.refused == nullptr) << c.sender;
    if (c.refused) {
      EXPECT_EQ(t.failure().kind, FailureKind::kSenderNotAddress) << c.sender;
      EXPECT_EQ(t.failure().text, c.refused);
    }
  }
}

// Only "on" and "off" (any case) are words of a switch; any other text
// leaves it as it is without the section, and every one is kept as written.
TEST(ReadSectionsTest, SwitchesKeepTheirWords) {
  const struct {
    std::string sections;
    bool debugAllowed, dataFileGuard;
    std::string kept;
  } cases[] = {
      {"", true, false, ""},
      {"<DEBUG> Off </DEBUG><DFILEGUARD>ON</DFILEGUARD>", false, true, "DEBUG:Off DFILEGUARD:ON "},
      {"<DEBUG>on</DEBUG><DFILEGUARD>off</DFILEGUARD>", true, false, "DEBUG:on DFILEGUARD:off "},
      {"<DEBUG>of</DEBUG><DFILEGUARD>yes</DFILEGUARD>", true, false, "DEBUG:of DFILEGUARD:yes "},
  };
  for (const auto& c : cases) {
    Result<Template> t = ReadSections(TemplateFile{"t.tpl", kRequired + c.sections});
    ASSERT_TRUE(t) << c.sections;
    EXPECT_EQ(t->abuse.debugAllowed, c.debugAllowed) << c.sections;
    EXPECT_EQ(t->abuse.dataFileGuard, c.dataFileGuard) << c.sections;
    std::string kept;
    for (const SwitchSection& s : t->switches) kept += s.tag + ":" + s.word + " ";
    EXPECT_EQ(kept, c.kept);
  }
}

TEST(ReadSectionsTest, MalformedRateLimitIsATemplateError) {
  for (const char* limit : {"", "/s 5", "s 5 60", "/s 0 60", "/s 5 -1", "/s 5 1e3", "/s five 60",
                            "/s +5 60", "/s 5 1234567890123"}) {
    Result<Template> t = ReadSections(
        TemplateFile{"t.tpl", kRequired + "<RATELIMIT>" + std::string(limit) + "</RATELIMIT>"});
    ASSERT_FALSE(t) << limit;
    EXPECT_EQ(t.failure().kind, FailureKind::kBadRateLimit) << limit;
    EXPECT_EQ(t.failure().text, limit);
  }
}

TEST(ReadSectionsTest, MaxUploadAndPgpMime) {
  const struct {
    const char* name;
    std::string sections;
    std::size_t maxUpload;
    bool pgpMime;
    std::optional<FailureKind> failure;
  } cases[] = {
      {"defaults", "", kDefaultMaxUpload, false, {}},
      {"both_set", "<MAXUPLOAD> 1048576\n</MAXUPLOAD><PGPMIME> On </PGPMIME>", 1048576, true, {}},
      {"off", "<PGPMIME>OFF</PGPMIME>", kDefaultMaxUpload, false, {}},
      {"ceiling", "<MAXUPLOAD>66060288</MAXUPLOAD>", kMaxUploadCeiling, false, {}},
      {"over_ceiling", "<MAXUPLOAD>66060289</MAXUPLOAD>", 0, false, FailureKind::kBadMaxUpload},
      {"zero", "<MAXUPLOAD>0</MAXUPLOAD>", 0, false, FailureKind::kBadMaxUpload},
      {"with_unit", "<MAXUPLOAD>5M</MAXUPLOAD>", 0, false, FailureKind::kBadMaxUpload},
      {"empty", "<MAXUPLOAD></MAXUPLOAD>", 0, false, FailureKind::kBadMaxUpload},
      {"pgpmime_yes", "<PGPMIME>yes</PGPMIME>", 0, false, FailureKind::kBadPgpMime},
  };
  for (const auto& c : cases) {
    Result<Template> t = ReadSections(TemplateFile{"t.tpl", kRequired + c.sections});
    if (c.failure) {
      ASSERT_FALSE(t) << c.name;
      EXPECT_EQ(t.failure().kind, *c.failure) << c.name;
      continue;
    }
    ASSERT_TRUE(t) << c.name;
    EXPECT_EQ(t->maxUpload, c.maxUpload) << c.name;
    EXPECT_EQ(t->pgpMime, c.pgpMime) << c.name;
  }
}

// The sections of the answers: each as read, or the template failure it
// gives. Origins are kept as browsers write them.
TEST(ReadSectionsTest, AnswerSections) {
  const struct {
    std::string sections;
    std::string want;  // what was read, or the failure's kind and text
  } cases[] = {
      {"", "url - page - origins -"},
      {"<SUCCEEDURL> https://x.org/thanks?a=1#b\n</SUCCEEDURL>",
       "url https://x.org/thanks?a=1#b page - origins -"},
      {"<SUCCEEDURL>/thanks.html</SUCCEEDURL>", "url /thanks.html page - origins -"},
      {"<FATALMSGFILE> sorry.htm\n</FATALMSGFILE>", "url - page sorry.htm origins -"},
      {"<ALLOWORIGIN>*</ALLOWORIGIN>", "url - page - origins * "},
      {"<ALLOWORIGIN>\nHTTPS://WWW.Example.org:443\thttp://b.example:8080\n</ALLOWORIGIN>",
       "url - page - origins https://www.example.org http://b.example:8080 "},
      {"<SUCCEEDURL>/t?n=$name$</SUCCEEDURL>", "bad url /t?n=$name$"},
      {"<SUCCEEDURL>thanks.html</SUCCEEDURL>", "bad url thanks.html"},
      {"<SUCCEEDURL>//evil.example/</SUCCEEDURL>", "bad url //evil.example/"},
      {"<SUCCEEDURL>https://x.org/a b</SUCCEEDURL>", "bad url https://x.org/a b"},
      {"<SUCCEEDURL>/a\x01</SUCCEEDURL>", "bad url /a\x01"},
      {"<SUCCEEDURL>ftp://x.org/</SUCCEEDURL>", "bad url ftp://x.org/"},
      {"<SUCCEEDURL></SUCCEEDURL>", "bad url "},
      {"<ALLOWORIGIN>https://a.org https://b.org/</ALLOWORIGIN>", "bad origin https://b.org/"},
      {"<ALLOWORIGIN>null</ALLOWORIGIN>", "bad origin null"},
      {"<ALLOWORIGIN> </ALLOWORIGIN>", "bad origin "},
  };
  for (const auto& c : cases) {
    Result<Template> t = ReadSections(TemplateFile{"t.tpl", kRequired + c.sections});
    std::string got;
    if (!t) {
      const FailureKind kind = t.failure().kind;
      got = kind == FailureKind::kBadSucceedUrl    ? "bad url "
            : kind == FailureKind::kBadAllowOrigin ? "bad origin "
                                                   : "other failure ";
      got += t.failure().text;
    } else {
      got = "url " + t->successUrl.value_or("-") + " page " + t->failurePageFile.value_or("-") +
            " origins ";
      if (!t->allowOrigin) got += "-";
      if (t->allowOrigin && t->allowOrigin->any) got += "* ";
      if (t->allowOrigin) {
        for (const std::string& origin : t->allowOrigin->origins) got += origin + " ";
      }
    }
    EXPECT_EQ(got, c.want) << c.sections;
  }
}

// SUCCEEDURL answers success in the success page's place.
TEST(ReadSectionsTest, SucceedUrlMakesTheSuccessPageOptional) {
  std::string withoutPage = kRequired;
  withoutPage.erase(withoutPage.find("<SUCCEEDMSGFILE>"));
  Result<Template> t = ReadSections(TemplateFile{"t.tpl", withoutPage});
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->successPageMissing);
  t = ReadSections(TemplateFile{"t.tpl", withoutPage + "<SUCCEEDURL>/ok</SUCCEEDURL>"});
  ASSERT_TRUE(t);
  EXPECT_FALSE(t->successPageMissing);
}

}  // namespace
}  // namespace veltrano
