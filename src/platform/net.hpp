// An IPv4 TCP client for the SMTP conversation: address resolution, the
// local host name, and one connected socket with bounded waits.
//
// ResolveIpv4 answers 0 for a name it cannot resolve; 0 is never a usable
// server address, so a connection to it always fails. Dotted addresses are
// parsed by inet_addr (which, like the C library everywhere, accepts the
// short forms "127.1" and white space after the address) before any name
// lookup; the one dotted address inet_addr cannot report, "255.255.255.255",
// is recognised by name. Names go through getaddrinfo, IPv4 only. A name
// holding a NUL byte cannot be handed to the C library and resolves to 0.
//
// Every wait has a bound (SocketTimeouts), so a server that stops answering
// ends the wait with a failure instead of holding the request forever.
// Writes never raise SIGPIPE. Code above this layer never sees errno.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano::platform {

// The IPv4 address of `name` in network byte order, or 0.
std::uint32_t ResolveIpv4(std::string_view name);

// This machine's host name (gethostname), or none when it cannot be read.
std::optional<std::string> LocalHostName();

struct SocketTimeouts {
  // A mail server that neither accepts nor refuses within this time is
  // treated as unreachable.
  std::chrono::milliseconds connect{30000};
  // Longest wait for one reply to arrive whole, or for one text to be taken.
  std::chrono::milliseconds io{30000};
};

enum class ReceiveStatus { kData, kClosed, kTimedOut, kFailed };

// One TCP connection; closes its descriptor when destroyed.
class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to `address` (network byte order) and `port` with TCP_NODELAY
  // set; false on any failure, an address of 0 included.
  bool Connect(std::uint32_t address, std::uint16_t port, const SocketTimeouts& timeouts);

  // Sends every byte of `bytes`; false when the connection fails or the
  // peer has not taken them all within the io time-out.
  bool SendAll(std::string_view bytes);

  // Appends at most `maxBytes` received bytes to `out`, waiting at most
  // `timeout` for the first of them.
  ReceiveStatus Receive(std::string& out, std::size_t maxBytes, std::chrono::milliseconds timeout);

  bool IsOpen() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
  SocketTimeouts timeouts_;
};

}  // namespace veltrano::platform
