// Files a form sends with ATTACH: the built program takes a multipart body,
// checks each file and mails it with the main mail; every case a visitor
// can make gets its page, and no file name reaches a header raw or the log.
#include <gtest/gtest.h>

#include <ostream>

#include "support/cgi_runner.hpp"
#include "support/python_mail.hpp"
#include "support/scripted_smtp_server.hpp"

namespace veltrano::testing {
namespace {

const std::string kTemplate =
    "<SMTPSERVER>{server}</SMTPSERVER>\n"
    "<SENDER>jobs@example.org</SENDER>\n"
    "<SUBJECT>Application from $name$</SUBJECT>\n"
    "<MSGBODY>Name: $name$\nCV: $cv$\n</MSGBODY>\n"
    "<RSUBJECT>Thank you</RSUBJECT>\n"
    "<RMSGBODY>We have your application.\n</RMSGBODY>\n"
    "<MAXUPLOAD>20000</MAXUPLOAD>\n"
    "<ERRMSGFILE>error.htm</ERRMSGFILE>\n"
    "<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>\n"
    "<FORMDATA>\n"
    "<NAME=\"name\" required REQUIREDERR=\"Your name, please.\">\n"
    "<NAME=\"to\" sendto>\n"
    "<NAME=\"email\" respondto>\n"
    "<NAME=\"cv\" required REQUIREDERR=\"Please choose your CV.\" ATTACH=\"pdf docx\" "
    "ATTACHERR=\"A PDF or Word file, please.\">\n"
    "<NAME=\"photo\" ATTACH=\"png jpg\" ATTACHERR=\"A PNG or JPEG photo, please.\">\n"
    "</FORMDATA>\n";

const std::string kPdf = "%PDF-1.4\r\n.\r\n--not-the-boundary\r\n" + std::string(3000, '\xfe');
const std::string kPng = "\x89PNG\r\n\x1a\n" + std::string(2000, '\0');

std::string FilePart(const std::string& field, const std::string& name, const std::string& bytes) {
  return "--XyZ\r\nContent-Disposition: form-data; name=\"" + field + "\"; filename=\"" + name +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes + "\r\n";
}

std::string TextPart(const std::string& field, const std::string& value) {
  return "--XyZ\r\nContent-Disposition: form-data; name=\"" + field + "\"\r\n\r\n" + value + "\r\n";
}

std::string Body(const std::string& files) {
  return TextPart("name", "Ann") + TextPart("to", "hr@example.org") +
         TextPart("email", "ann@example.org") + files + "--XyZ--\r\n";
}

struct Outcome {
  CgiResult result;
  std::vector<ReadMail> mails;
};

Outcome Submit(const std::string& body) {
  ScriptedSmtpServer server;
  Site site;
  std::string tpl = kTemplate;
  tpl.replace(tpl.find("{server}"), 8, server.address());
  site.Write("t.tpl", tpl);
  site.Write("error.htm", "Content-type: text/html\n\nfailed: $err$\n");
  site.Write("success.htm", "Content-type: text/html\n\nthanks for $cv$\n");
  CgiRequest request = PostRequest("t.tpl", body);
  request.env["CONTENT_TYPE"] = "multipart/form-data; boundary=XyZ";
  Outcome run{RunCgi(site, request), {}};
  run.mails = ReadMailsWithPython(server.Finish());
  return run;
}

const std::string kPage = "Content-type: text/html\r\n\r\n";

// A pdf and a png go with the main mail, byte for byte, never with the
// response; a hostile name arrives cleaned; the log holds no name.
TEST(AttachE2eTest, FilesArriveWithTheMainMailOnly) {
  const std::string hostile = "C:\\..\\../Lebens\x01lauf J\xc3\xbcrgen;=?utf-8?q?x?=\x7f.pdf";
  const std::string cleaned = "Lebenslauf J\xc3\xbcrgen;=?utf-8?q?x?=.pdf";
  Outcome run = Submit(Body(FilePart("cv", hostile, kPdf) + FilePart("photo", "me.PNG", kPng)));
  EXPECT_EQ(run.result.output, kPage + "thanks for " + cleaned + "\r\n");
  EXPECT_EQ(run.result.errors, "");
  ASSERT_EQ(run.mails.size(), 2u);
  const ReadMail& main = run.mails[0];
  EXPECT_EQ(main.Header("To"), "hr@example.org");
  ASSERT_EQ(main.parts.size(), 3u);
  EXPECT_EQ(main.parts[0].body, "Name: Ann\r\nCV: " + cleaned + "\r\n");
  EXPECT_EQ(main.parts[1].fileName, cleaned);
  EXPECT_EQ(main.parts[1].contentType, "application/pdf");
  EXPECT_EQ(main.parts[1].body, kPdf);
  EXPECT_EQ(main.parts[2].fileName, "me.PNG");
  EXPECT_EQ(main.parts[2].contentType, "image/png");
  EXPECT_EQ(main.parts[2].body, kPng);
  EXPECT_TRUE(main.sevenBit);
  EXPECT_EQ(main.defects, 0);
  const ReadMail& response = run.mails[1];
  EXPECT_EQ(response.Header("To"), "ann@example.org");
  EXPECT_TRUE(response.parts.empty());
}

struct Refused {
  const char* name;
  std::string files;  // the file parts
  std::string page;   // what follows the header
  std::string log;    // a part of the log line; empty: none
};

void PrintTo(const Refused& c, std::ostream* os) {
  *os << c.name;
}

class AttachRefusedTest : public ::testing::TestWithParam<Refused> {};

// Each file a visitor should not get through gets its page, and no mail.
TEST_P(AttachRefusedTest, GetsItsPageAndNoMail) {
  const Refused& c = GetParam();
  Outcome run = Submit(Body(c.files));
  EXPECT_EQ(run.result.output, c.page);
  EXPECT_TRUE(run.mails.empty());
  if (c.log.empty()) {
    EXPECT_EQ(run.result.errors, "");
  } else {
    EXPECT_NE(run.result.errors.find(c.log), std::string::npos) << run.result.errors;
    EXPECT_EQ(run.result.errors.find("secret"), std::string::npos) << run.result.errors;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, AttachRefusedTest,
    ::testing::Values(
        Refused{"executable_named_pdf",
                FilePart("cv", "cv.pdf",
                         "\x7f"
                         "ELF\x02\x01\x01"),
                kPage + "failed: <li>A PDF or Word file, please.\r\n", ""},
        Refused{"unlisted_type", FilePart("cv", "cv.exe", "MZ\x90"),
                kPage + "failed: <li>A PDF or Word file, please.\r\n", ""},
        Refused{"photo_not_png",
                FilePart("cv", "cv.pdf", kPdf) + FilePart("photo", "me.png", "GIF89a"),
                kPage + "failed: <li>A PNG or JPEG photo, please.\r\n", ""},
        Refused{"empty_file_is_none", FilePart("cv", "cv.pdf", ""),
                kPage + "failed: <li>Please choose your CV.\r\n", ""},
        Refused{"no_file", "", kPage + "failed: <li>Please choose your CV.\r\n", ""},
        Refused{"over_maxupload",
                FilePart("cv", "secret.pdf", "%PDF-" + std::string(15000, 'a')) +
                    FilePart("photo", "secret.png", "\x89PNG\r\n\x1a\n" + std::string(5000, 'b')),
                kPlain + "<TITLE>Form Submit Error</TITLE>The form data is too large.",
                "form body over its size limit refused: 2 files of 20013 bytes, over MAXUPLOAD "
                "20000"},
        Refused{"body_over_limit",
                FilePart("cv", "secret.pdf", std::string(1024 * 1024 + 20001, 'a')),
                kPlain + "<TITLE>Form Submit Error</TITLE>The form data is too large.",
                "form body over its size limit refused: CONTENT_LENGTH"}));

}  // namespace
}  // namespace veltrano::testing
