// The SMTP client.
// TODO(mail): contract.
#pragma once

#include <string>

namespace veltrano {

class SmtpClient {
 public:
  SmtpClient() = default;
  // Ends the conversation; sends nothing when it never connected.
  int Quit() { return 0; }
  // The conversation so far, as HTML.
  const std::string& GetTranscript() const { return transcript_; }

 private:
  std::string transcript_;
};

}  // namespace veltrano
