// Where veltrano-check does its work: every template is checked in a child
// process of its own (platform/accounts.hpp). Run as root, that child has
// become the web server's user for good, has no terminal (its own session,
// standard input from /dev/null), no descriptor of root's but the pipe to
// it, an environment made for it (CheckingEnvironment) and bounded
// resources; it does every open, read, directory walk, connection and
// program start of the check. The side that stays root never opens a file
// of the site: it reads the child's findings as records (platform/
// channel.hpp), bounded in number and size, and prints them escaped.
//
// A check that ends early (an exception, memory exhausted, the child killed
// or out of time, findings that can't be read) keeps the findings that came
// before and gets a last one: "could not be checked: ...". The next
// template is checked all the same, in a child of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "check/findings.hpp"
#include "platform/accounts.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

namespace veltrano::check {

// A template's slowest checks are the mail server's (four waits of
// kSmtpWait) and gpg's (30 s per key); a check still running after this is
// stuck.
inline constexpr std::chrono::minutes kCheckTime{5};
// Some thousands of findings; a template with more is broken beyond what a
// list helps with.
inline constexpr std::size_t kMaxFindingsBytes = 1024 * 1024;

// The whole environment of the checking process: the web server's PATH,
// HOME and USER of `user`, and of `given` the variables the CGI reads for
// PGP as the web server would set them (TMP, TEMP, temp, TMPDIR,
// GNUPGHOME).
std::vector<std::string> CheckingEnvironment(const platform::Account& user,
                                             const platform::Environment& given);

// The findings `work` adds in a child set up by `setup` (its maxOutput
// taken as kMaxFindingsBytes), within `limits`.
Findings RunConfined(platform::ChildSetup setup, const std::function<void(Findings&)>& work,
                     const platform::ChildLimits& limits = {kCheckTime, std::chrono::seconds(5)});

}  // namespace veltrano::check
