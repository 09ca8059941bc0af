// The byte stream under the SMTP client, behind a small interface so that
// the client's whole conversation can be tested against an in-memory peer.
// SocketTransport is the real one: IPv4 TCP (platform/net.hpp), with the
// connection and every send bounded by SocketTimeouts: each by its own
// limit and by the request's budget, whichever ends first. Once the budget
// is spent no connection is tried, and a connection the budget ended says
// so in error().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.hpp"
#include "platform/net.hpp"

namespace veltrano {

class SmtpTransport {
 public:
  virtual ~SmtpTransport() = default;
  // This end's host name for HELO; none when it can't be read.
  virtual std::optional<std::string> LocalHostName() = 0;
  // Opens the connection; false with error() saying why.
  virtual bool Connect(const std::string& host, std::uint16_t port) = 0;
  // Sends every byte, by `until` at the latest; false when the connection
  // failed or the time ran out first.
  virtual bool Send(std::string_view bytes, const platform::Deadline& until) = 0;
  // Appends at most `maxBytes` received bytes to `out`, waiting for the
  // first of them until the deadline.
  virtual platform::ReceiveStatus Receive(std::string& out, std::size_t maxBytes,
                                          const platform::Deadline& deadline) = 0;
  virtual void Close() = 0;
  virtual std::string error() const = 0;
};

struct SocketTimeouts {
  // A mail server that neither accepts nor refuses within this time is
  // treated as unreachable.
  std::chrono::milliseconds connect{30000};
  // Longest wait for one text to be taken by the server.
  std::chrono::milliseconds send{30000};
  // The request's time budget, which no wait outlasts.
  platform::Deadline budget = platform::Deadline::Never();
};

class SocketTransport final : public SmtpTransport {
 public:
  explicit SocketTransport(SocketTimeouts timeouts = {}) : timeouts_(timeouts) {}

  std::optional<std::string> LocalHostName() override { return platform::LocalHostName(); }
  bool Connect(const std::string& host, std::uint16_t port) override {
    budgetSpent_ = timeouts_.budget.Passed();
    if (!budgetSpent_ && socket_.Connect(platform::ResolveIpv4(host), port,
                                         timeouts_.budget.Within(timeouts_.connect))) {
      return true;
    }
    budgetSpent_ = timeouts_.budget.Passed();
    return false;
  }
  bool Send(std::string_view bytes, const platform::Deadline& until) override {
    return socket_.SendAll(bytes, timeouts_.budget.Within(timeouts_.send)
                                      .Within(std::chrono::milliseconds(until.MillisecondsLeft())));
  }
  platform::ReceiveStatus Receive(std::string& out, std::size_t maxBytes,
                                  const platform::Deadline& deadline) override {
    return socket_.Receive(out, maxBytes, deadline);
  }
  void Close() override { socket_.Close(); }
  std::string error() const override {
    return budgetSpent_ ? "no connection " + platform::WithinBudget(timeouts_.budget)
                        : socket_.error();
  }

 private:
  SocketTimeouts timeouts_;
  platform::TcpSocket socket_;
  bool budgetSpent_ = false;  // the last Connect failed for the budget
};

}  // namespace veltrano
