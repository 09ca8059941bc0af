#include "support/python_mail.hpp"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "support/cgi_runner.hpp"
#include "text/text.hpp"

namespace veltrano::testing {

namespace {

std::string FromHex(std::string_view hex) {
  std::string out;
  if (hex == "-") return out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return out;
}

}  // namespace

std::optional<std::string> ReadMail::Header(std::string_view name) const {
  for (const auto& [n, value] : headers) {
    if (EqualsNoCase(n, name)) return value;
  }
  return std::nullopt;
}

std::vector<ReadMail> ReadMailsWithPython(const std::string& conversation) {
  TempDir dir;
  dir.Write("conversation", conversation);
  const std::string command = "/usr/bin/python3 '" + SourceDir() +
                              "/tests/support/read_mail.py' '" + dir.path() + "/conversation'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) output.append(buf, n);
  if (::pclose(pipe) != 0) throw std::runtime_error("read_mail.py failed: " + command);

  std::vector<ReadMail> mails;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string key, a, b;
    words >> key >> a >> b;
    if (key == "mail") mails.emplace_back();
    if (mails.empty()) continue;
    ReadMail& mail = mails.back();
    if (key == "longest") mail.longest = std::stoul(a);
    if (key == "seven-bit") mail.sevenBit = a == "1";
    if (key == "defects") mail.defects = std::stoi(a);
    if (key == "header") mail.headers.emplace_back(FromHex(a), FromHex(b));
    if (key == "charset") mail.charset = a == "-" ? "" : a;
    if (key == "body") mail.body = FromHex(a);
    if (key == "part") {
      std::string bytes;
      words >> bytes;
      mail.parts.push_back({FromHex(a), FromHex(b), FromHex(bytes)});
    }
  }
  return mails;
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  for (char c : latin1) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

}  // namespace veltrano::testing
