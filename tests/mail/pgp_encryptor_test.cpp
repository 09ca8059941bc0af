#include "mail/pgp_encryptor.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>

#include "mail/message.hpp"
#include "mail/stand_in_pgp.hpp"
#include "platform/process.hpp"
#include "response/catalogue.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using testing::TempDir;

Strings Entries(const TempDir& dir) {
  Strings names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class PgpTest : public ::testing::Test {
 protected:
  void Install(const std::string& script) { pgpExe_.Install(script); }
  std::string Bin() const { return pgpExe_.bin.path(); }

  // The armour of one encryption, or none (and then pgp_ says why).
  std::optional<std::string> Armour(PgpEncryptor& pgp, std::string_view body) {
    Result<Encryption> r = pgp.Encrypt("key", body);
    if (!r) {
      ADD_FAILURE() << LogText(r.failure());
      return std::nullopt;
    }
    EXPECT_EQ(r->armour.has_value(), r->problem.empty()) << r->problem;
    return r->armour;
  }
  std::optional<std::string> Armour(std::string_view body) { return Armour(pgp_, body); }

  testing::StandInPgp pgpExe_;
  TempDir tmp_;
  testing::MapEnvironment env_ = [this] {
    testing::MapEnvironment e;
    e.vars["TMP"] = tmp_.path();
    return e;
  }();
  PgpEncryptor pgp_{env_};
};

TEST_F(PgpTest, ArmourComesBackWithLfAndBothFilesGo) {
  // Keeps the plain file (as a failing pgp would) and records its arguments.
  Install("printf '%s|' \"$@\" > '" + Bin() + "/args'\ncp \"$2\" '" + Bin() +
          "/plain'\nprintf -- '-----BEGIN PGP MESSAGE-----\\r\\n\\r\\nabc\\r\\n' > \"$2.asc\"\n");
  Result<Encryption> r = pgp_.Encrypt("Ann Example <ann@example.org>", "a\n.b\n100%\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->armour, "-----BEGIN PGP MESSAGE-----\n\nabc\n");
  EXPECT_EQ(pgpExe_.bin.Read("plain"), "a\r\n.b\r\n100%\r\n");
  const std::string args = pgpExe_.bin.Read("args");
  EXPECT_TRUE(std::regex_match(
      args, std::regex("-eaw\\|" + tmp_.path() +
                       R"(/veltrano\.\w{6}/kov1\|Ann Example <ann@example\.org>\|)")))
      << args;
  EXPECT_EQ(Entries(tmp_), Strings{});
}

TEST_F(PgpTest, MissingOrEmptyArmourGivesNone) {
  for (const char* script : {"exit 0\n", "exit 1\n", ": > \"$2.asc\"\n", "mkdir \"$2.asc\"\n"}) {
    Install(script);
    EXPECT_EQ(Armour("body\n"), std::nullopt) << script;
    for (const auto& e : fs::directory_iterator(tmp_.path())) {
      if (e.is_directory()) fs::remove(e.path());  // the directory case: not ours to remove
    }
    EXPECT_EQ(Entries(tmp_), Strings{}) << script;
  }
}

// Another user of a shared temporary directory can't guess where pgp works:
// names planted there (an armour to be mailed, a link to be written
// through) are never used or touched.
TEST_F(PgpTest, PlantedNamesAreNeverUsed) {
  Install("printf 'new\\n' > \"$2.asc\"\n");
  testing::TempDir victim;
  victim.Write("file", "theirs");
  tmp_.Write("kov1.asc", "planted\n");
  fs::create_symlink(victim.path() + "/file", tmp_.path() + "/kov1");
  fs::create_symlink(victim.path() + "/file", tmp_.path() + "/kov2.asc");
  EXPECT_EQ(Armour("one"), "new\n");
  EXPECT_EQ(tmp_.Read("kov1.asc"), "planted\n");
  EXPECT_EQ(victim.Read("file"), "theirs");
  EXPECT_EQ(Entries(tmp_), (Strings{"kov1", "kov1.asc", "kov2.asc"}));
}

TEST_F(PgpTest, PgpThatCannotStartEndsRequestAndLeavesNothing) {
  testing::ScopedEnv emptyPath("PATH", tmp_.path() + "/nowhere");
  Result<Encryption> r = pgp_.Encrypt("key", "secret");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.failure().kind, FailureKind::kPgpNotStarted);
  const PageText page = PageFor(r.failure());
  EXPECT_EQ(page.title, std::nullopt);
  EXPECT_EQ(page.message, "pgp didn't run");
  EXPECT_EQ(Entries(tmp_), Strings{});
}

// The program directory's pgp.exe comes first; only one that is not there
// falls back to the one on PATH (a stand-in that answers "path").
TEST_F(PgpTest, ProgramDirectoryBeforePath) {
  const struct {
    const char* name;
    const char* own;  // the program directory's pgp.exe; none: not there
    fs::perms mode;
    std::optional<std::string> armour;
    const char* detail;  // when it did not start: the end of the log detail
  } cases[] = {
      {"own", "echo own > \"$2.asc\"\n", fs::perms::owner_all, "own\n", nullptr},
      {"absent", nullptr, {}, "path\n", nullptr},
      {"not_executable", "echo own > \"$2.asc\"\n", fs::perms::owner_read, std::nullopt,
       "/pgp.exe)"},
  };
  Install("echo path > \"$2.asc\"\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir own;
    if (c.own) {
      own.Write("pgp.exe", std::string("#!/bin/sh\n") + c.own);
      fs::permissions(own.path() + "/pgp.exe", c.mode);
    }
    PgpEncryptor pgp(env_, {}, own.path());
    Result<Encryption> r = pgp.Encrypt("key", "body");
    ASSERT_EQ(bool(r), c.detail == nullptr);
    if (r) {
      EXPECT_EQ(r->armour, c.armour);
    } else {
      EXPECT_TRUE(r.failure().detail.ends_with(own.path() + c.detail)) << r.failure().detail;
    }
  }
  testing::ScopedEnv emptyPath("PATH", tmp_.path() + "/nowhere");
  Result<Encryption> neither = PgpEncryptor(env_, {}, "/nonexistent").Encrypt("key", "body");
  ASSERT_FALSE(neither);
  EXPECT_TRUE(neither.failure().detail.ends_with("(looked for in /nonexistent, then on PATH)"))
      << neither.failure().detail;
}

TEST_F(PgpTest, NoWritableTempDirectoryGivesNone) {
  testing::MapEnvironment env;
  env.vars["TMP"] = "/proc";  // exists, but takes no files
  env.vars["TMPDIR"] = tmp_.path();
  Install("echo ran > '" + Bin() + "/ran'\n");
  PgpEncryptor pgp(env);
  EXPECT_EQ(Armour(pgp, "body"), std::nullopt);
  EXPECT_FALSE(pgpExe_.bin.Exists("ran"));
}

// A pgp that outlives its time limit is stopped, SIGTERM first and SIGKILL
// after the grace; its (partial) armour is not used and the plain text does
// not stay behind.
TEST_F(PgpTest, HungPgpIsStoppedAtItsTimeLimit) {
  const struct {
    const char* name;
    const char* script;
  } cases[] = {
      {"hangs", "printf partial > \"$2.asc\"\nsleep 30\n"},
      {"ignores_sigterm", "trap '' TERM\nprintf partial > \"$2.asc\"\nwhile :; do sleep 1; done\n"},
  };
  using std::chrono::milliseconds;
  PgpEncryptor quick(env_, platform::ChildLimits{milliseconds(200), milliseconds(100)});
  for (const auto& p : cases) {
    SCOPED_TRACE(p.name);
    Install(p.script);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Armour(quick, "secret\n"), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(Entries(tmp_), Strings{});
  }
}

// pgp's messages belong in the web server's error log, never in the page.
TEST_F(PgpTest, PgpOutputStaysOutOfTheResponse) {
  Install("echo 'pgp says hello'\necho 'pgp: no key 0x9' >&2\nexit 1\n");
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Armour("secret"), std::nullopt);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  EXPECT_NE(errors.find("pgp: no key 0x9\n"), std::string::npos) << errors;
}

// Requests in separate processes share the temporary directory and start
// their numbers alike. Each must get back the armour of its own body, and
// none may lose its plain file to another's clean-up.
TEST_F(PgpTest, ConcurrentRequestsEachReadTheirOwnArmour) {
  Install("cat \"$2\" > \"$2.asc\" && rm \"$2\"\n");
  constexpr int kProcesses = 6;
  constexpr int kMails = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    if (pid == 0) {
      int bad = 0;
      for (int m = 0; m < kMails; ++m) {
        const std::string body = "process " + std::to_string(p) + " mail " + std::to_string(m);
        Result<Encryption> r = pgp_.Encrypt("key", body);
        if (!r || r->armour != body) ++bad;
      }
      ::_exit(bad == 0 ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a request lost its armour";
  }
  EXPECT_EQ(Entries(tmp_), Strings{});
}

// The shipped adapter with real GnuPG: a throwaway keyring, a key without
// passphrase, encryption through tools/pgp.exe, decryption with gpg.
class GnuPgTest : public ::testing::Test {
 protected:
  static bool Gpg(const std::string& args) {
    return platform::RunShellCommand("gpg --batch --quiet --no-tty " + args + " 2>/dev/null", {})
        .Succeeded();
  }
  void TearDown() override {
    platform::RunShellCommand("gpgconf --kill gpg-agent 2>/dev/null", {});
  }

  TempDir home_, tmp_;
  testing::ScopedEnv gnupgHome_{"GNUPGHOME", home_.path()};
  testing::ScopedEnv path_{"PATH", testing::SourceDir() + "/tools:" + std::getenv("PATH")};
};

TEST_F(GnuPgTest, EncryptsForKeyAndDecryptsToTextModeBody) {
  ASSERT_TRUE(
      Gpg("--passphrase '' --quick-gen-key 'Veltrano Test <pgp@example.org>' "
          "default default never"));
  testing::MapEnvironment env;
  env.vars["TEMP"] = tmp_.path();
  PgpEncryptor pgp(env);
  const std::string body = "Name: Ann\n.\n..dots\n100% %s\n";
  Result<Encryption> r = pgp.Encrypt("pgp@example.org", body);
  ASSERT_TRUE(r && r->armour) << (r ? r->problem : LogText(r.failure()));
  EXPECT_EQ(r->armour->rfind("-----BEGIN PGP MESSAGE-----\n", 0), 0u);
  EXPECT_EQ(r->armour->find('\r'), std::string::npos);
  EXPECT_EQ(Entries(tmp_), Strings{});

  home_.Write("mail.asc", *r->armour);
  ASSERT_TRUE(
      Gpg("--output '" + home_.path() + "/mail' --decrypt '" + home_.path() + "/mail.asc'"));
  EXPECT_EQ(home_.Read("mail"), testing::Crlf(body));

  // A PGP/MIME entity, given in pieces, decrypts to the entity whole, in
  // canonical form (CR LF), however large its file.
  const std::string file = "%PDF-1.7\n" + std::string(300000, '\x9c');
  const std::vector<Attachment> files = {
      {"cv.pdf", std::make_shared<const std::string>(Base64Lines(file))}};
  MailHeader header{};
  header.boundary = "=_b";
  const MimeEntity entity = EncryptedEntity(header, "Dear\n.\nyou\n", files);
  Result<Encryption> mime = pgp.Encrypt("pgp@example.org", entity.Texts());
  ASSERT_TRUE(mime && mime->armour) << (mime ? mime->problem : LogText(mime.failure()));
  home_.Write("entity.asc", *mime->armour);
  ASSERT_TRUE(
      Gpg("--output '" + home_.path() + "/entity' --decrypt '" + home_.path() + "/entity.asc'"));
  std::string whole;
  for (std::string_view text : entity.Texts()) whole += text;
  EXPECT_EQ(home_.Read("entity"), testing::Crlf(whole));

  // An unknown key leaves no armour and no file behind.
  Result<Encryption> unknown = pgp.Encrypt("nobody@example.org", body);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->armour, std::nullopt);
  EXPECT_EQ(Entries(tmp_), Strings{});
}

}  // namespace
}  // namespace veltrano
