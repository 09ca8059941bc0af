// An IPv4 TCP client for the SMTP conversation: address resolution, the
// local host name, and one connected socket whose every wait is bounded.
//
// ResolveIpv4 answers 0 for a name it cannot resolve; 0 is never a usable
// server address, so a connection to it always fails. Dotted addresses are
// parsed by inet_addr (which, like the C library everywhere, accepts the
// short forms "127.1" and white space after the address) before any name
// lookup; the one dotted address inet_addr cannot report, "255.255.255.255",
// is recognised by name. Names go through getaddrinfo, IPv4 only. A name
// holding a NUL byte cannot be handed to the C library and resolves to 0.
//
// Writes never raise SIGPIPE. Every call waits at most until its deadline:
// the socket's own time-outs bound the waits (set short of the deadline,
// since the kernel ends a long one late, and resumed with the time left),
// and they are changed only when they would end after the deadline or more
// than kTimeoutSlackMs before it, so a conversation with the same limit for
// every reply sets each once. A failure leaves its reason in error(), for
// the administrator's log; code above this layer never sees errno.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.hpp"
#include "platform/fd.hpp"

namespace veltrano::platform {

// Host names are looked up in /etc/hosts and then DNS, whatever
// nsswitch.conf says: those two are built into glibc, while any other
// lookup module would have to be loaded at run time, which a statically
// linked program cannot do safely. Called once, by a static program.
void UseBuiltInHostLookup();

// The IPv4 address of `name` in network byte order, or 0.
std::uint32_t ResolveIpv4(std::string_view name);

// This machine's host name (gethostname), or none when it cannot be read.
std::optional<std::string> LocalHostName();

enum class ReceiveStatus { kData, kClosed, kTimedOut, kFailed };

inline constexpr int kTimeoutSlackMs = 1000;

// One TCP connection; closes its descriptor when destroyed.
class TcpSocket {
 public:
  // Connects to `address` (network byte order) and `port` with TCP_NODELAY
  // set; false on any failure, an address of 0 included.
  bool Connect(std::uint32_t address, std::uint16_t port, const Deadline& deadline);

  // Sends every byte of `bytes`; false when the connection fails or the
  // peer has not taken them all by the deadline.
  bool SendAll(std::string_view bytes, const Deadline& deadline);

  // Appends at most `maxBytes` received bytes to `out`, waiting for the first
  // of them until the deadline.
  ReceiveStatus Receive(std::string& out, std::size_t maxBytes, const Deadline& deadline);

  bool IsOpen() const { return fd_.valid(); }
  void Close() { fd_.Reset(); }
  // Why the last failed call failed.
  const std::string& error() const { return error_; }

 private:
  bool Fail(std::string why);
  // Makes the blocking calls of `option` (SO_RCVTIMEO, SO_SNDTIMEO) end by
  // the deadline; false when it has passed.
  bool Bound(int option, int& currentMs, const Deadline& deadline);

  UniqueFd fd_;
  std::string error_;
  int receiveTimeoutMs_ = 0;  // 0: not set
  int sendTimeoutMs_ = 0;
};

}  // namespace veltrano::platform
