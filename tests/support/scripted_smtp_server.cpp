#include "support/scripted_smtp_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltrano::testing {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kChunkPause{40};

// Takes a free port of 127.0.0.1 (the kernel picks it), listening or only
// bound: a bound port that does not listen refuses connections. Returns the
// fd and the address as SMTPSERVER names it ("127.0.0.1:PORT"), or -1 with
// `error` set.
int TakeFreeLoopback(bool listening, std::string& address, std::string& error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
      (listening && ::listen(fd, 8) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    error = std::string("no loopback port: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  address = "127.0.0.1:" + std::to_string(ntohs(sin.sin_port));
  return fd;
}

std::string CommandKey(const std::string& line) {
  std::string verb;
  for (char c : line) {
    if (c == ' ' || c == ':' || c == '\r' || c == '\n') break;
    verb += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return verb;
}

std::string DefaultReply(const std::string& key) {
  if (key == "GREETING") return "220 test.invalid ready\r\n";
  if (key == "DATA") return "354 go ahead\r\n";
  if (key == ".") return "250 queued\r\n";
  if (key == "QUIT") return "221 bye\r\n";
  if (key == "HELO" || key == "MAIL" || key == "RCPT" || key == "RSET") return "250 ok\r\n";
  return "500 unknown command\r\n";
}

}  // namespace

SmtpAction Reply(std::string text) {
  return SmtpAction{{std::move(text)}, false, false};
}
SmtpAction Chunks(std::vector<std::string> pieces) {
  return SmtpAction{std::move(pieces), false, false};
}
SmtpAction CloseAfter(std::string text) {
  SmtpAction a;
  if (!text.empty()) a.chunks.push_back(std::move(text));
  a.close = true;
  return a;
}
SmtpAction Stall() {
  SmtpAction a;
  a.stall = true;
  return a;
}

ScriptedSmtpServer::ScriptedSmtpServer(SmtpScript script) : script_(std::move(script)) {
  listener_ = TakeFreeLoopback(/*listening=*/true, address_, error_);
  if (listener_ < 0) return;
  thread_ = std::thread([this] { Run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
  Finish();
  if (listener_ >= 0) ::close(listener_);
}

std::string ScriptedSmtpServer::Finish() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  return firstConnection_;
}

void ScriptedSmtpServer::Run() {
  const auto end = SteadyClock::now() + kLifetime;
  while (SteadyClock::now() < end) {
    const bool stopping = stop_;
    pollfd p{listener_, POLLIN, 0};
    // Once stopping, only a connection already waiting is still taken.
    if (::poll(&p, 1, stopping ? 0 : 20) <= 0) {
      if (stopping) return;
      continue;
    }
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++connections_;
    Serve(fd);
    ::close(fd);
  }
}

void ScriptedSmtpServer::Serve(int fd) {
  const auto end = SteadyClock::now() + kLifetime;
  std::string received;
  std::size_t parsed = 0;  // bytes of `received` already acted on
  bool inData = false;
  std::map<std::string, std::size_t> seen;
  const bool first = connections_ == 1;

  enum class State { kTalking, kStalled, kClosed };

  // Runs the action for `key`: sends its chunks and says how to go on.
  auto act = [&](const std::string& key) {
    const std::size_t k = seen[key]++;
    auto it = script_.find(key);
    const bool scripted = it != script_.end() && k < it->second.size();
    SmtpAction action = scripted ? it->second[k] : Reply(DefaultReply(key));
    if (key == "QUIT" && !scripted) action.close = true;
    for (std::size_t i = 0; i < action.chunks.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(kChunkPause);
      ::send(fd, action.chunks[i].data(), action.chunks[i].size(), MSG_NOSIGNAL);
    }
    if (key == "DATA" && !action.chunks.empty() && action.chunks[0].rfind("354", 0) == 0) {
      inData = true;
    }
    if (action.close) return State::kClosed;
    return action.stall ? State::kStalled : State::kTalking;
  };

  State state = act("GREETING");
  // A stalled server keeps reading (and recording) without answering.
  while (state != State::kClosed && SteadyClock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) {
      if (stop_) break;  // the client is done and nothing more is in flight
      continue;
    }
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    received.append(buf, static_cast<std::size_t>(n));
    if (first) firstConnection_ = received;
    while (state == State::kTalking) {
      if (inData) {
        // The end-of-data mark is CR LF "." CR LF; its first CR LF may be
        // the one that ended the DATA command.
        std::size_t from = parsed >= 2 ? parsed - 2 : 0;
        std::size_t mark = received.find("\r\n.\r\n", from);
        if (mark == std::string::npos) break;
        parsed = mark + 5;
        inData = false;
        state = act(".");
      } else {
        std::size_t eol = received.find('\n', parsed);
        if (eol == std::string::npos) break;
        std::string line = received.substr(parsed, eol + 1 - parsed);
        parsed = eol + 1;
        state = act(CommandKey(line));
      }
    }
  }
}

ClosedSmtpAddress::ClosedSmtpAddress() {
  std::string error;
  fd_ = TakeFreeLoopback(/*listening=*/false, address_, error);
}

ClosedSmtpAddress::~ClosedSmtpAddress() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace veltrano::testing
