// An in-memory SMTP server behind the SmtpTransport seam: it records every
// byte sent to it and answers each command from a script, else as a
// well-behaved server would. Nothing waits: a peer that will not answer
// reports a time-out at once.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "mail/transport.hpp"

namespace veltrano::testing {

// The answer to one command: `chunks`, one per Receive, each but the first
// after `pause` (a chunk that arrives after the reader's deadline comes too
// late); then the peer goes on as `then` says.
struct PeerAction {
  enum Then { kTalk, kClose, kFail, kSilent };
  std::vector<std::string> chunks;
  Then then = kTalk;
  std::chrono::milliseconds pause{0};
};

inline PeerAction Reply(std::string text) {
  return {{std::move(text)}};
}
inline PeerAction CloseAfter(std::vector<std::string> chunks = {}) {
  return {std::move(chunks), PeerAction::kClose};
}
inline PeerAction FailAfter(std::vector<std::string> chunks = {}) {
  return {std::move(chunks), PeerAction::kFail};
}
inline PeerAction Silent() {
  return {{}, PeerAction::kSilent};
}

// Keys: "GREETING", "HELO", "MAIL", "RCPT", "DATA", "." (end of data),
// "RSET", "QUIT". The k-th arrival of a command takes the k-th action under
// its key; later arrivals get the default reply.
using PeerScript = std::map<std::string, std::vector<PeerAction>>;

class ScriptedPeer final : public SmtpTransport {
 public:
  explicit ScriptedPeer(PeerScript script = {}) : script_(std::move(script)) {}

  std::optional<std::string> LocalHostName() override { return hostName; }
  bool Connect(const std::string& host, std::uint16_t port) override;
  bool Send(std::string_view bytes, const platform::Deadline& until) override;
  platform::ReceiveStatus Receive(std::string& out, std::size_t maxBytes,
                                  const platform::Deadline& deadline) override;
  void Close() override { closed = true; }
  std::string error() const override { return connectError; }

  std::optional<std::string> hostName = "client.test";
  std::string connectError;  // set: Connect fails with it
  std::string sent;          // every byte the client sent
  int connections = 0;
  std::pair<std::string, int> connectedTo;  // host and port of the last Connect
  bool closed = false;

 private:
  void Act(const std::string& key);

  PeerScript script_;
  std::map<std::string, std::size_t> seen_;
  std::deque<std::pair<std::chrono::milliseconds, std::string>> pending_;  // pause, chunk
  PeerAction::Then state_ = PeerAction::kTalk;
  std::size_t parsed_ = 0;  // bytes of `sent` already acted on
  bool inData_ = false;
};

}  // namespace veltrano::testing
