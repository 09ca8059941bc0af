// PGP encryption through the external pgp.exe.
// TODO(pgp): contract.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system.hpp"

namespace veltrano {

class PgpEncryptor {
 public:
  explicit PgpEncryptor(const platform::Environment&) {}
  // The ASCII-armoured encryption of `body` for `keyId`, or none.
  std::optional<std::string> Encrypt(std::string_view, std::string_view) { return std::nullopt; }
};

}  // namespace veltrano
