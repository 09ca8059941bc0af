// One owning file descriptor: closed when its owner goes, moved but never
// copied. Every descriptor the platform layer opens lives in one of these.
#pragma once

#include <string_view>
#include <utility>

namespace veltrano::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor held now and takes `fd` (none by default).
  void Reset(int fd = -1);
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// Writes every byte of `bytes` to `fd`, resuming after interruptions and
// short writes; false when a write fails (errno says why) or writes nothing.
bool WriteAll(int fd, std::string_view bytes);

}  // namespace veltrano::platform
