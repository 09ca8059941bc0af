#include "mail/pgp_encryptor.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/process.hpp"
#include "response/response.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

namespace fs = std::filesystem;
using testing::MapEnvironment;
using testing::TempDir;

// Sets an environment variable of the test process for one scope; pgp.exe
// is found on, and inherits, the process's own environment.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::vector<std::string> Entries(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A stand-in pgp.exe: a shell script in a directory put first on PATH.
class FakePgpTest : public ::testing::Test {
 protected:
  void Install(const std::string& script) {
    bin_.Write("pgp.exe", "#!/bin/sh\n" + script);
    fs::permissions(bin_.path() + "/pgp.exe", fs::perms::owner_all);
  }
  std::optional<std::string> Encrypt(std::string_view key, std::string_view body) {
    return pgp_.Encrypt(key, body);
  }

  TempDir bin_, tmp_;
  ScopedEnv path_{"PATH", bin_.path() + ":" + std::getenv("PATH")};
  MapEnvironment env_ = [this] {
    MapEnvironment e;
    e.vars["TMP"] = tmp_.path();
    return e;
  }();
  PgpEncryptor pgp_{env_};
};

TEST_F(FakePgpTest, ArmourComesBackWithLfAndBothFilesGo) {
  // Keeps the plain file (as a failing pgp would) and records its arguments.
  Install("printf '%s|' \"$@\" > \"" + bin_.path() +
          "/args\"\n"
          "cp \"$2\" \"" +
          bin_.path() +
          "/plain\"\n"
          "printf -- '-----BEGIN PGP MESSAGE-----\\r\\n\\r\\nabc\\r\\n' > \"$2.asc\"\n");
  std::optional<std::string> armour = Encrypt("Ann Example <ann@example.org>", "a\n.b\n100%\n");
  EXPECT_EQ(armour, "-----BEGIN PGP MESSAGE-----\n\nabc\n");
  EXPECT_EQ(bin_.Read("plain"), "a\r\n.b\r\n100%\r\n");
  EXPECT_EQ(bin_.Read("args"), "-eaw|" +
                                   pgp_.tempFileName().substr(0, pgp_.tempFileName().size() - 4) +
                                   "|Ann Example <ann@example.org>|");
  EXPECT_EQ(Entries(tmp_), std::vector<std::string>{});
}

TEST_F(FakePgpTest, MissingOrEmptyArmourGivesNone) {
  for (const char* script : {"exit 0\n", "exit 1\n", ": > \"$2.asc\"\n", "mkdir \"$2.asc\"\n"}) {
    Install(script);
    EXPECT_EQ(Encrypt("key", "body\n"), std::nullopt) << script;
    fs::remove(pgp_.tempFileName());  // the directory case: not ours to remove
    EXPECT_EQ(Entries(tmp_), std::vector<std::string>{}) << script;
  }
}

TEST_F(FakePgpTest, StaleArmourIsNeverRead) {
  Install("printf 'new\\n' > \"$2.asc\"\n");
  ASSERT_TRUE(Encrypt("key", "one"));
  std::string first = pgp_.tempFileName();
  unsigned long n = std::stoul(fs::path(first).filename().string().substr(3));
  tmp_.Write("kov" + std::to_string(n + 1) + ".asc", "stale\n");
  EXPECT_EQ(Encrypt("key", "two"), "new\n");
  EXPECT_EQ(tmp_.Read("kov" + std::to_string(n + 1) + ".asc"), "stale\n");
  EXPECT_GT(std::stoul(fs::path(pgp_.tempFileName()).filename().string().substr(3)), n + 1);
}

TEST_F(FakePgpTest, PgpThatCannotStartEndsRequestAndLeavesNothing) {
  ScopedEnv emptyPath("PATH", tmp_.path() + "/nowhere");
  try {
    Encrypt("key", "secret");
    FAIL() << "no fatal error";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, std::nullopt);
    EXPECT_EQ(e.message, "pgp didn't run");
  }
  EXPECT_EQ(Entries(tmp_), std::vector<std::string>{});
}

TEST_F(FakePgpTest, NoWritableTempDirectoryGivesNone) {
  MapEnvironment env;
  env.vars["TMP"] = "/proc";  // exists, but takes no files
  env.vars["TMPDIR"] = tmp_.path();
  Install("echo ran > \"" + bin_.path() + "/ran\"\n");
  PgpEncryptor pgp(env);
  EXPECT_EQ(pgp.Encrypt("key", "body"), std::nullopt);
  EXPECT_FALSE(bin_.Exists("ran"));
}

// Requests in separate processes share the temporary directory and start
// their numbers alike. Each must get back the armour of its own body, and
// none may lose its plain file to another's clean-up.
TEST_F(FakePgpTest, ConcurrentRequestsEachReadTheirOwnArmour) {
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
        if (Encrypt("key", body) != body) ++bad;
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
  EXPECT_EQ(Entries(tmp_), std::vector<std::string>{});
}

// The shipped adapter with real GnuPG: a throwaway keyring, a key without
// passphrase, encryption through tools/pgp.exe, decryption with gpg.
class GnuPgTest : public ::testing::Test {
 protected:
  static int Gpg(const std::string& args) {
    return platform::RunShellCommand("gpg --batch --quiet --no-tty " + args + " 2>/dev/null");
  }
  void TearDown() override { platform::RunShellCommand("gpgconf --kill gpg-agent 2>/dev/null"); }

  TempDir home_, tmp_;
  ScopedEnv gnupgHome_{"GNUPGHOME", home_.path()};
  ScopedEnv path_{"PATH", testing::SourceDir() + "/tools:" + std::getenv("PATH")};
};

TEST_F(GnuPgTest, EncryptsForKeyAndDecryptsToTextModeBody) {
  ASSERT_EQ(Gpg("--passphrase '' --quick-gen-key 'Veltrano Test <pgp@example.org>' "
                "default default never"),
            0);
  MapEnvironment env;
  env.vars["TEMP"] = tmp_.path();
  PgpEncryptor pgp(env);
  const std::string body = "Name: Ann\n.\n..dots\n100% %s\n";
  std::optional<std::string> armour = pgp.Encrypt("pgp@example.org", body);
  ASSERT_TRUE(armour);
  EXPECT_EQ(armour->rfind("-----BEGIN PGP MESSAGE-----\n", 0), 0u);
  EXPECT_EQ(armour->find('\r'), std::string::npos);
  EXPECT_EQ(Entries(tmp_), std::vector<std::string>{});

  home_.Write("mail.asc", *armour);
  ASSERT_EQ(Gpg("--output '" + home_.path() + "/mail' --decrypt '" + home_.path() + "/mail.asc'"),
            0);
  EXPECT_EQ(home_.Read("mail"), testing::Crlf(body));

  // An unknown key leaves no armour and no file behind.
  EXPECT_EQ(pgp.Encrypt("nobody@example.org", body), std::nullopt);
  EXPECT_EQ(Entries(tmp_), std::vector<std::string>{});
}

}  // namespace
}  // namespace veltrano
