// PGP encryption of a mail body through the external program pgp.exe.
//
// Encrypt writes the body to a new temporary file (text mode: the LF line
// ends the caller passes are stored as CR LF), runs `pgp.exe -eaw FILE KEYID`
// found on PATH (each a single argument, standard handles on /dev/null, no
// time limit), and reads back FILE.asc in text mode, so the armour comes back
// with LF line ends; the caller sends it through the shared wire preparation.
// Neither file outlives the call: the plain file is removed once pgp has
// ended (and on every early exit), the armoured file once it has been read.
// The name rule of platform/temp_file.hpp never reuses a name whose .asc
// exists, so an old armoured file is never read as the new one.
//
// Results: the armoured text; none when no temporary file could be made or
// pgp left no readable, non-empty FILE.asc (its exit status is not examined:
// the armour is the proof). A pgp.exe that cannot be started at all ends the request
// with ReportFatal (no title, "pgp didn't run"). The key identifier is passed
// as it stands; what it names is pgp's business.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.hpp"

namespace veltrano {

class PgpEncryptor {
 public:
  // Reads the temporary-directory variables ($TMP, $TEMP or $temp, $TMPDIR).
  explicit PgpEncryptor(const platform::Environment& env);

  // The ASCII-armoured encryption of `body` for `keyId`, or none.
  std::optional<std::string> Encrypt(std::string_view keyId, std::string_view body);

  // Writes `body` to a new temporary file and remembers its name; false when
  // no file could be made.
  bool WriteTempFile(std::string_view body);
  // The whole file named by tempFileName() read in text mode, or none; within
  // Encrypt, after pgp has run, that name carries the ".asc" suffix.
  std::optional<std::string> ReadArmoredFile() const;

  // Name of the current temporary file; empty before the first one.
  const std::string& tempFileName() const { return tempFileName_; }

 private:
  std::vector<std::optional<std::string>> tempDirectories_;
  std::string tempFileName_;
};

}  // namespace veltrano
