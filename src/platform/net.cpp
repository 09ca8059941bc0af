#include "platform/net.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace veltrano::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until `fd` is ready for `events` or the deadline passes; false on a
// time-out or a poll failure. Signals that interrupt the wait restart it with
// the time that is left.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) left = std::chrono::milliseconds(0);
    int ms = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, ms);
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

std::optional<std::string> LocalHostName() {
  char name[HOST_NAME_MAX + 2] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::nullopt;
  return std::string(name, ::strnlen(name, sizeof name));
}

TcpSocket::~TcpSocket() {
  Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(other.fd_), timeouts_(other.timeouts_) {
  other.fd_ = -1;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    timeouts_ = other.timeouts_;
    other.fd_ = -1;
  }
  return *this;
}

void TcpSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TcpSocket::Connect(std::uint32_t address, std::uint16_t port, const SocketTimeouts& timeouts) {
  Close();
  timeouts_ = timeouts;
  if (address == 0) return false;
  // Non-blocking from the start: connect, send and receive all wait in poll,
  // which is what bounds them.
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return false;
  // The mail text and the end-of-data mark are two sends with no reply
  // between them; with Nagle's algorithm the second would wait for the
  // server's delayed ACK.
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = address;
  const auto deadline = Clock::now() + timeouts.connect;
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      Close();
      return false;
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (!WaitFor(fd_, POLLOUT, deadline) ||
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
      Close();
      return false;
    }
  }
  return true;
}

bool TcpSocket::SendAll(std::string_view bytes) {
  if (fd_ < 0) return false;
  // One bound for the whole text, so a peer that reads a byte at a time
  // cannot stretch the wait.
  const auto deadline = Clock::now() + timeouts_.io;
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd_, POLLOUT, deadline)) {
      continue;
    }
    return false;
  }
  return true;
}

ReceiveStatus TcpSocket::Receive(std::string& out, std::size_t maxBytes,
                                 std::chrono::milliseconds timeout) {
  if (fd_ < 0) return ReceiveStatus::kFailed;
  const auto deadline = Clock::now() + timeout;
  char buf[4096];
  if (maxBytes > sizeof buf) maxBytes = sizeof buf;
  for (;;) {
    if (!WaitFor(fd_, POLLIN, deadline)) return ReceiveStatus::kTimedOut;
    ssize_t n = ::recv(fd_, buf, maxBytes, 0);
    if (n > 0) {
      out.append(buf, static_cast<std::size_t>(n));
      return ReceiveStatus::kData;
    }
    if (n == 0) return ReceiveStatus::kClosed;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return ReceiveStatus::kFailed;
  }
}

}  // namespace veltrano::platform
