// PGP encryption of a mail body through the external program pgp.exe.
//
// Encrypt writes the body to a new temporary file (text mode: the LF line
// ends the caller passes are stored as CR LF), runs `pgp.exe -eaw FILE KEYID`
// (each a single argument; standard input and output on
// /dev/null, its standard error the program's own, so pgp's messages reach
// the web server's error log), and reads back FILE.asc in text mode, so the
// armour comes back with LF line ends; the caller sends it through the
// shared wire preparation. Neither file outlives the call, nor a termination
// of the program: the plain file is removed once pgp has ended (and on every
// early exit), the armoured file once it has been read. The name rule of
// platform/temp_file.hpp never reuses a name whose .asc exists, so an old
// armoured file is never read as the new one.
//
// The result has no armour when no temporary file could be made, or pgp
// left no readable, non-empty FILE.asc, or ran past its time limit (its
// exit status is not examined otherwise: the armour is the proof); `problem`
// then says why, for the administrator's log. A pgp.exe that cannot be
// started at all is a failure (kPgpNotStarted). The key identifier is
// passed as it stands; what it names is pgp's business.
//
// pgp.exe is the one in the encryptor's program directory (the install's own,
// fixed when the program is built) when that holds one, else the first on
// PATH.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/result.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

namespace veltrano {

struct Encryption {
  std::optional<std::string> armour;
  std::string problem;  // set when there is no armour
};

class PgpEncryptor {
 public:
  // Reads the temporary-directory variables ($TMP, $TEMP or $temp, $TMPDIR).
  // An empty programDirectory: pgp.exe is looked for on PATH only.
  explicit PgpEncryptor(const platform::Environment& env, platform::ChildLimits limits = {},
                        std::string programDirectory = {});

  Result<Encryption> Encrypt(std::string_view keyId, std::string_view body);

 private:
  platform::ChildOutcome RunPgp(const std::string& file, std::string_view keyId,
                                std::string& where) const;

  std::vector<std::optional<std::string>> tempDirectories_;
  platform::ChildLimits limits_;
  std::string programDirectory_;
};

}  // namespace veltrano
