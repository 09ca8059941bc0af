#include "platform/net.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nss.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/files.hpp"

namespace veltrano::platform {

namespace {

// Set by UseBuiltInHostLookup, acted on at the first host-name lookup: most
// requests name their server by its dotted address and need none.
bool builtInHostLookup = false;

// Waits until `fd` is ready for `events` or the deadline passes; false on a
// time-out or a poll failure. A signal that interrupts the wait resumes it
// with the time that is left.
bool WaitFor(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, deadline.MillisecondsLeft());
    if (n > 0) return true;  // ready, or an error/hang-up the next call reports
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

std::uint32_t ResolveIpv4(std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return 0;
  const std::string text(name);
  in_addr_t dotted = ::inet_addr(text.c_str());
  if (dotted != INADDR_NONE) return dotted;
  if (text == "255.255.255.255") return INADDR_NONE;  // all bits set, the same value

  if (builtInHostLookup) {
    ::__nss_configure_lookup("hosts", "files dns");
    builtInHostLookup = false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 0;
  std::uint32_t address = 0;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      sockaddr_in sin{};
      std::memcpy(&sin, a->ai_addr, sizeof sin);
      address = sin.sin_addr.s_addr;
      break;
    }
  }
  ::freeaddrinfo(found);
  return address;
}

void UseBuiltInHostLookup() {
  builtInHostLookup = true;
}

std::optional<std::string> LocalHostName() {
  char name[HOST_NAME_MAX + 2] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::nullopt;
  return std::string(name, ::strnlen(name, sizeof name));
}

bool TcpSocket::Fail(std::string why) {
  error_ = std::move(why);
  Close();
  return false;
}

bool TcpSocket::Bound(int option, int& currentMs, const Deadline& deadline) {
  const int left = deadline.MillisecondsLeft();
  if (left <= 0) return false;
  // Linux ends a socket time-out late by up to an eighth of it (the coarse
  // levels of its timer wheel: 30 s measured 30.9 s). The time-out is
  // therefore seven eighths of the time left, so it ends before the
  // deadline, and the call it ends early resumes with what is left then,
  // whose rounding is finer: the wait ends within milliseconds of the
  // deadline. A time-out up to kTimeoutSlackMs shorter is kept.
  const int target = std::max(1, left - left / 8);  // 0 would mean no time-out at all
  if (currentMs > 0 && currentMs <= target && currentMs + kTimeoutSlackMs >= target) return true;
  timeval tv{target / 1000, (target % 1000) * 1000};
  if (::setsockopt(fd_.get(), SOL_SOCKET, option, &tv, sizeof tv) != 0) return false;
  currentMs = target;
  return true;
}

bool TcpSocket::Connect(std::uint32_t address, std::uint16_t port, const Deadline& deadline) {
  Close();
  if (address == 0) return Fail("the server name does not resolve to an IPv4 address");
  // Blocking calls, each bounded by the socket's own time-outs: one system
  // call per command and per reply, where waiting in poll would take two.
  fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd_.valid()) return Fail(ErrorText(errno));
  receiveTimeoutMs_ = sendTimeoutMs_ = 0;
  // The mail text goes out in pieces with no reply between them; with
  // Nagle's algorithm a later piece would wait for the server's delayed ACK.
  int one = 1;
  ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = address;
  // Linux bounds a blocking connect by the send time-out.
  if (!Bound(SO_SNDTIMEO, sendTimeoutMs_, deadline)) return Fail("connection timed out");
  if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) return true;
  if (errno != EINPROGRESS && errno != EINTR) return Fail(ErrorText(errno));
  // Timed out short of the deadline, or interrupted: the connection goes on
  // being made, so its outcome is waited for until the deadline.
  if (!WaitFor(fd_.get(), POLLOUT, deadline)) return Fail("connection timed out");
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
  return error == 0 || Fail(ErrorText(error));
}

bool TcpSocket::SendAll(std::string_view bytes, const Deadline& deadline) {
  if (!fd_.valid()) return false;
  while (!bytes.empty()) {
    if (!Bound(SO_SNDTIMEO, sendTimeoutMs_, deadline)) {
      error_ = "sending timed out";
      return false;
    }
    ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    error_ = n < 0 ? ErrorText(errno) : "the connection was closed";
    return false;
  }
  return true;
}

ReceiveStatus TcpSocket::Receive(std::string& out, std::size_t maxBytes, const Deadline& deadline) {
  if (!fd_.valid()) return ReceiveStatus::kFailed;
  char buf[4096];
  if (maxBytes > sizeof buf) maxBytes = sizeof buf;
  for (;;) {
    if (!Bound(SO_RCVTIMEO, receiveTimeoutMs_, deadline)) return ReceiveStatus::kTimedOut;
    ssize_t n = ::recv(fd_.get(), buf, maxBytes, 0);
    if (n > 0) {
      out.append(buf, static_cast<std::size_t>(n));
      return ReceiveStatus::kData;
    }
    if (n == 0) return ReceiveStatus::kClosed;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    error_ = ErrorText(errno);
    return ReceiveStatus::kFailed;
  }
}

}  // namespace veltrano::platform
