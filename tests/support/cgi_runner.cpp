#include "support/cgi_runner.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace veltrano::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "veltrano-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void TempDir::Write(const std::string& relative, const std::string& content) const {
  fs::path p = fs::path(path_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
}

std::string TempDir::Read(const std::string& relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TempDir::Exists(const std::string& relative) const {
  return fs::exists(fs::path(path_) / relative);
}

Site::Site() {
  fs::copy_file(ProgramUnderTest(), programPath());
  fs::permissions(programPath(), fs::perms::owner_all);
}

std::string ProgramUnderTest() {
#ifdef VELTRANO_EXE
  return VELTRANO_EXE;
#else
  throw std::runtime_error("built without VELTRANO_EXE");
#endif
}

std::string SourceDir() {
  return VELTRANO_SOURCE_DIR;
}

CgiRequest PostRequest(const std::string& query, const std::string& body) {
  CgiRequest r;
  r.env = {{"QUERY_STRING", query},
           {"REQUEST_METHOD", "POST"},
           {"CONTENT_LENGTH", std::to_string(body.size())},
           {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
           {"SERVER_SOFTWARE", "Apache/2.4.57 (Debian)"}};
  r.body = body;
  return r;
}

CgiResult RunCgi(const Site& site, const CgiRequest& request) {
  TempDir io;
  io.Write("stdin", request.body);
  std::string cwd = request.workingDirectory.empty() ? io.path() : request.workingDirectory;
  std::string argv0 = request.argv0.empty() ? site.programPath() : request.argv0;
  std::string program = site.programPath();

  std::vector<std::string> envStrings;
  if (!request.env.count("PATH")) envStrings.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
  for (const auto& [k, v] : request.env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<char*> argv{argv0.data(), nullptr};

  std::string in = io.path() + "/stdin", out = io.path() + "/stdout", err = io.path() + "/stderr";
  int pipeFds[2] = {-1, -1};
  if (request.bodyThroughPipe) {
    ::signal(SIGPIPE, SIG_IGN);  // a program that stops reading gives EPIPE, not death
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  }
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int fin = request.bodyThroughPipe ? ::dup(pipeFds[0]) : ::open(in.c_str(), O_RDONLY);
    int fout = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int ferr = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fin < 0 || fout < 0 || ferr < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(fin, 0);
    ::dup2(fout, 1);
    ::dup2(ferr, 2);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  CgiResult result;
  result.pid = pid;
  std::thread writer;
  if (request.bodyThroughPipe) {
    ::close(pipeFds[0]);
    writer = std::thread([&] {
      std::string_view left = request.body;
      while (!left.empty()) {
        ssize_t n = ::write(pipeFds[1], left.data(), left.size());
        if (n <= 0) break;
        left.remove_prefix(static_cast<std::size_t>(n));
        result.bodyBytesTaken += static_cast<std::size_t>(n);
      }
      ::close(pipeFds[1]);
    });
  }
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(request.timeoutSeconds);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (writer.joinable()) writer.join();
  result.output = io.Read("stdout");
  result.errors = io.Read("stderr");
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace veltrano::testing
