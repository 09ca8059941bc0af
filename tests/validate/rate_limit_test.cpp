#include "validate/rate_limit.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/fd.hpp"
#include "support/cgi_runner.hpp"
#include "validate/rate_limit_internal.hpp"

namespace veltrano {
namespace {

using Outcome = RateVerdict::Outcome;

TEST(UpdateRateStateTest, CountsRecentSubmissionsOfTheClient) {
  const RateLimit limit{"/x", 2, 100};
  const struct {
    const char* name;
    std::string state;
    std::string client;
    bool refused;
    std::string want;
    std::size_t dropped;
  } cases[] = {
      {"first", "", "1.2.3.4", false, "1000 100 1.2.3.4\n", 0},
      {"second", "950 100 1.2.3.4\n", "1.2.3.4", false, "950 100 1.2.3.4\n1000 100 1.2.3.4\n", 0},
      {"over_the_limit", "950 100 a\n990 100 a\n", "a", true, "950 100 a\n990 100 a\n", 0},
      {"other_client", "950 100 a\n990 100 a\n", "b", false, "950 100 a\n990 100 a\n1000 100 b\n",
       0},
      // A line whose own window has passed goes; one still in its window
      // (another template's longer one) stays but is not counted here.
      {"aged_out", "900 100 a\n890 500 a\n990 100 a\n", "a", false,
       "890 500 a\n990 100 a\n1000 100 a\n", 0},
      {"no_remote_addr", "990 100 -\n", "", false, "990 100 -\n1000 100 -\n", 0},
      {"odd_bytes_in_client", "", "a b\nc", false, "1000 100 a_b_c\n", 0},
      {"corrupt_lines_dropped", "garbage\n990 100 a\n1 2\nx 100 a\n\x01\n990 100", "a", false,
       "990 100 a\n1000 100 a\n", 5},
  };
  for (const auto& c : cases) {
    RateUpdate u = UpdateRateState(c.state, limit, c.client, 1000);
    EXPECT_EQ(u.refused, c.refused) << c.name;
    EXPECT_EQ(u.state, c.want) << c.name;
    EXPECT_EQ(u.droppedLines, c.dropped) << c.name;
  }
}

// However many clients write to it, the state stays under its bound, and a
// new client is counted, not refused for lack of room.
TEST(UpdateRateStateTest, StaysBoundedWithManyClients) {
  const RateLimit limit{"/x", 1, 3600};
  std::string state;
  for (int i = 0; i < 100000; ++i) {
    state += "1000 3600 10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) +
             "." + std::to_string(i % 256) + "\n";
  }
  ASSERT_GT(state.size(), kMaxRateState);
  RateUpdate u = UpdateRateState(state, limit, "192.0.2.1", 2000);
  EXPECT_FALSE(u.refused);
  EXPECT_LE(u.state.size(), kMaxRateState);
  EXPECT_TRUE(u.state.ends_with("2000 3600 192.0.2.1\n"));
  EXPECT_TRUE(u.state.starts_with("1000 3600 10.")) << "the oldest lines made room";
  EXPECT_TRUE(UpdateRateState(u.state, limit, "192.0.2.1", 2001).refused);
}

// Requests at the same time from one client: exactly COUNT get through.
TEST(CountSubmissionTest, ConcurrentRequestsCountExactly) {
  testing::TempDir dir;
  const RateLimit limit{dir.path() + "/state", 5, 3600};
  for (bool oneClient : {true, false}) {
    std::vector<pid_t> children;
    for (int i = 0; i < 20; ++i) {
      pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        std::string client = oneClient ? "198.51.100.7" : "203.0.113." + std::to_string(i);
        ::_exit(static_cast<int>(CountSubmission(limit, client, 5000).outcome));
      }
      children.push_back(pid);
    }
    int accepted = 0;
    for (pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      accepted += WEXITSTATUS(status) == static_cast<int>(Outcome::kAccepted);
    }
    EXPECT_EQ(accepted, oneClient ? 5 : 20);
  }
}

// Only a state file is counted in and rewritten. Anything else lets the
// submission through, saying why, and is left byte for byte as it is.
TEST(CountSubmissionTest, OnlyAStateFileIsRewritten) {
  testing::TempDir dir;
  const std::string data = "12/07/26 14:05:09,\"Ann\"\r\n1000 60 a\r\n";
  dir.Write("data.csv", data);
  dir.Write("crlf", "990 60 a\r\n");
  dir.Write("sub/x", "");
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("data.csv", (dir.path() + "/link").c_str()), 0);
  ASSERT_EQ(::symlink("new", (dir.path() + "/dangling").c_str()), 0);
  ASSERT_EQ(::symlink("data.csv", (dir.path() + "/state2.lock").c_str()), 0);
  dir.Write("state", "990 60 a\n");
  dir.Write("empty", "");
  const struct {
    const char* file;
    Outcome outcome;
    std::string problem;  // after "<path>: "
  } cases[] = {
      {"missing/state", Outcome::kUnusable, "No such file or directory"},
      {"sub", Outcome::kUnusable, "not a regular file"},
      {"fifo", Outcome::kUnusable, "not a regular file"},
      {"link", Outcome::kUnusable, "a symbolic link, not followed"},
      {"dangling", Outcome::kUnusable, "a symbolic link, not followed"},
      {"state2", Outcome::kUnusable, "its lock file {path}.lock: a symbolic link, not followed"},
      {"data.csv", Outcome::kUnusable, "not a rate-limit state file, left as it is"},
      {"crlf", Outcome::kUnusable, "not a rate-limit state file, left as it is"},
      {"empty", Outcome::kAccepted, ""},
      {"state", Outcome::kRefused, ""},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path() + "/" + c.file;
    RateVerdict v = CountSubmission(RateLimit{path, 1, 60}, "a", 1000);
    EXPECT_EQ(v.outcome, c.outcome) << c.file;
    std::string problem = c.problem;
    if (auto at = problem.find("{path}"); at != std::string::npos) problem.replace(at, 6, path);
    EXPECT_EQ(v.problem, problem.empty() ? "" : path + ": " + problem) << c.file;
  }
  EXPECT_EQ(dir.Read("data.csv"), data);
  EXPECT_EQ(dir.Read("crlf"), "990 60 a\r\n");
  EXPECT_FALSE(dir.Exists("new"));
  EXPECT_EQ(dir.Read("empty"), "1000 60 a\n");
  EXPECT_EQ(dir.Read("state"), "990 60 a\n");
}

// A state that can't be replaced (no room for the file to grow, as root
// too) lets submissions through, saying why, and keeps its old lines whole.
TEST(CountSubmissionTest, UnwritableStateKeepsItsLines) {
  testing::TempDir dir;
  const std::string state = "990 60 b\n995 60 c\n";
  dir.Write("state", state);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit small{10, 10};
    ::setrlimit(RLIMIT_FSIZE, &small);
    RateVerdict v = CountSubmission(RateLimit{dir.path() + "/state", 1, 60}, "a", 1000);
    ::_exit(v.outcome == Outcome::kUnusable &&
                    v.problem.ends_with("File too large, its 2 lines kept as they were")
                ? 0
                : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(dir.Read("state"), state);
  EXPECT_FALSE(dir.Exists("state.tmp"));
}

// A lock held elsewhere is waited for briefly, not for the request's
// budget: the limit then steps aside.
TEST(CountSubmissionTest, HeldLockIsWaitedForBriefly) {
  testing::TempDir dir;
  dir.Write("state.lock", "");
  platform::UniqueFd holder(::open((dir.path() + "/state.lock").c_str(), O_RDWR));
  ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  RateVerdict v =
      CountSubmission(RateLimit{dir.path() + "/state", 1, 60}, "a", 1000,
                      platform::Deadline(std::chrono::seconds(30)), std::chrono::milliseconds(100));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(v.outcome, Outcome::kUnusable);
  EXPECT_EQ(v.problem, dir.path() + "/state: no lock within 100 ms");
}

// Whoever reads the state while requests replace it sees a whole state,
// never an emptied or half-written one.
TEST(CountSubmissionTest, StateIsReplacedWhole) {
  testing::TempDir dir;
  std::string state;
  for (int i = 0; i < 500; ++i) state += "1000 3600 10.0.0." + std::to_string(i) + "\n";
  dir.Write("state", state);
  const RateLimit limit{dir.path() + "/state", 5, 3600};
  std::vector<pid_t> children;
  for (int i = 0; i < 20; ++i) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int j = 0; j < 5; ++j) CountSubmission(limit, "203.0.113." + std::to_string(i), 2000);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  std::size_t reads = 0, lines = 500;
  for (bool running = true; running; ++reads) {
    running = false;
    for (pid_t& pid : children) {
      if (pid != 0 && ::waitpid(pid, nullptr, WNOHANG) == pid) pid = 0;
      running = running || pid != 0;
    }
    const std::string now = dir.Read("state");
    const std::size_t count = static_cast<std::size_t>(std::count(now.begin(), now.end(), '\n'));
    ASSERT_TRUE(now.ends_with('\n')) << "after " << reads << " reads";
    ASSERT_GE(count, lines) << "after " << reads << " reads";
    lines = count;
  }
  EXPECT_EQ(lines, 600u);
}

TEST(CountSubmissionTest, CorruptStateIsRepaired) {
  testing::TempDir dir;
  dir.Write("state", std::string("1 2 b\n\x01\x02garbage\n1 2 3 4\n", 23));
  RateVerdict v = CountSubmission(RateLimit{dir.path() + "/state", 1, 60}, "a", 1000);
  EXPECT_EQ(v.outcome, Outcome::kAccepted);
  EXPECT_EQ(v.droppedLines, 2u);
  EXPECT_EQ(dir.Read("state"), "1000 60 a\n");
  EXPECT_EQ(CountSubmission(RateLimit{dir.path() + "/state", 1, 60}, "a", 1001).outcome,
            Outcome::kRefused);
}

}  // namespace
}  // namespace veltrano
