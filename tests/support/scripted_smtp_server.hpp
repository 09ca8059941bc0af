// A scripted SMTP server for black-box tests: it listens on a port of
// 127.0.0.1 that the kernel picks, so tests running in parallel never share
// one and no privilege is needed; address() is "127.0.0.1:PORT", as
// SMTPSERVER names it. It records every byte it receives and answers each
// command from a script, falling back to a well-behaved server's replies.
// Every wait inside is bounded; the server gives up after kLifetime.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace veltrano::testing {

// What the server does when a command (or the greeting moment) arrives.
struct SmtpAction {
  std::vector<std::string> chunks;  // sent in order, with a short pause between
  bool close = false;               // then close the connection
  bool stall = false;               // send nothing more, ever
};

SmtpAction Reply(std::string text);
SmtpAction Chunks(std::vector<std::string> pieces);
SmtpAction CloseAfter(std::string text = "");
SmtpAction Stall();

// Script keys: "GREETING", "HELO", "MAIL", "RCPT", "DATA", "." (end of
// data), "RSET", "QUIT". The k-th arrival of a command takes the k-th
// action listed under its key; later arrivals get the default reply.
using SmtpScript = std::map<std::string, std::vector<SmtpAction>>;

class ScriptedSmtpServer {
 public:
  static constexpr std::chrono::seconds kLifetime{20};

  explicit ScriptedSmtpServer(SmtpScript script = {});
  ~ScriptedSmtpServer();
  ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
  ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

  // Empty when the server could not listen (then error() says why).
  const std::string& address() const { return address_; }
  const std::string& error() const { return error_; }

  // Lets the server read what is still in flight, stops it and returns the
  // bytes of the first connection. Call it after the client is done.
  std::string Finish();
  int connections() const { return connections_; }

 private:
  void Run();
  void Serve(int fd);

  SmtpScript script_;
  std::string address_;
  std::string error_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::string firstConnection_;
  std::thread thread_;
};

// An address whose port refuses connections: bound, never listening.
class ClosedSmtpAddress {
 public:
  ClosedSmtpAddress();
  ~ClosedSmtpAddress();
  ClosedSmtpAddress(const ClosedSmtpAddress&) = delete;
  ClosedSmtpAddress& operator=(const ClosedSmtpAddress&) = delete;
  const std::string& address() const { return address_; }

 private:
  int fd_ = -1;
  std::string address_;
};

}  // namespace veltrano::testing

// Skips the test (saying why) when the server cannot listen, e.g. when the
// machine has no loopback network.
#define SKIP_WITHOUT_SERVER(server) \
  if ((server).address().empty()) GTEST_SKIP() << (server).error()
