#include "support/scripted_peer.hpp"

#include <algorithm>
#include <cctype>
#include <thread>

namespace veltrano::testing {

namespace {

PeerAction DefaultAction(const std::string& key) {
  if (key == "GREETING") return Reply("220 test.invalid ready\r\n");
  if (key == "DATA") return Reply("354 go ahead\r\n");
  if (key == ".") return Reply("250 queued\r\n");
  if (key == "QUIT") return CloseAfter({"221 bye\r\n"});
  if (key == "HELO" || key == "MAIL" || key == "RCPT" || key == "RSET") return Reply("250 ok\r\n");
  return Reply("500 unknown command\r\n");
}

}  // namespace

bool ScriptedPeer::Connect(const std::string& host, std::uint16_t port) {
  connectedTo = {host, port};
  if (!connectError.empty()) return false;
  ++connections;
  Act("GREETING");
  return true;
}

void ScriptedPeer::Act(const std::string& key) {
  const std::size_t k = seen_[key]++;
  auto it = script_.find(key);
  const PeerAction a =
      it != script_.end() && k < it->second.size() ? it->second[k] : DefaultAction(key);
  for (std::size_t i = 0; i < a.chunks.size(); ++i) {
    pending_.emplace_back(i == 0 ? std::chrono::milliseconds{0} : a.pause, a.chunks[i]);
  }
  inData_ = key == "DATA" && !a.chunks.empty() && a.chunks[0].starts_with("354");
  state_ = a.then;
}

bool ScriptedPeer::Send(std::string_view bytes, const platform::Deadline&) {
  if (state_ == PeerAction::kClose || state_ == PeerAction::kFail) return false;
  sent += bytes;
  while (state_ == PeerAction::kTalk) {  // a silent peer takes bytes, never acts
    std::string key;
    if (inData_) {
      // CR LF "." CR LF; its first CR LF may be the one that ended DATA.
      std::size_t mark = sent.find("\r\n.\r\n", parsed_ >= 2 ? parsed_ - 2 : 0);
      if (mark == std::string::npos) break;
      parsed_ = mark + 5;
      key = ".";
    } else {
      std::size_t eol = sent.find('\n', parsed_);
      if (eol == std::string::npos) break;
      key = sent.substr(parsed_, sent.find_first_of(" :\r\n", parsed_) - parsed_);  // the verb
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      parsed_ = eol + 1;
    }
    Act(key);
  }
  return true;
}

platform::ReceiveStatus ScriptedPeer::Receive(std::string& out, std::size_t maxBytes,
                                              const platform::Deadline& deadline) {
  if (pending_.empty()) {
    if (state_ == PeerAction::kClose) return platform::ReceiveStatus::kClosed;
    if (state_ == PeerAction::kFail) return platform::ReceiveStatus::kFailed;
    return platform::ReceiveStatus::kTimedOut;
  }
  auto& [pause, chunk] = pending_.front();
  if (pause.count() > 0) {
    std::this_thread::sleep_for(pause);
    pause = {};
    if (deadline.Passed()) return platform::ReceiveStatus::kTimedOut;
  }
  const std::size_t n = std::min(maxBytes, chunk.size());
  out += chunk.substr(0, n);
  chunk.erase(0, n);
  if (chunk.empty()) pending_.pop_front();
  return platform::ReceiveStatus::kData;
}

}  // namespace veltrano::testing
