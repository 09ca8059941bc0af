// PGP encryption of a mail body through the external program pgp.exe.
//
// Encrypt makes a directory of its own for the call inside the temporary
// directory (platform/temp_file.hpp: mode 0700, no other user can enter
// it), writes the body to FILE there (text mode: the LF line ends the
// caller passes are stored as CR LF), runs `pgp.exe -eaw FILE KEYID` (each
// a single argument; standard input and output on /dev/null, its standard
// error the program's own, so pgp's messages reach the web server's error
// log), and reads back FILE.asc in text mode, so the armour comes back with
// LF line ends; the caller sends it through the shared wire preparation.
// Nothing outlives the call, nor a termination of the program: the plain
// file is removed once pgp has ended (and on every early exit), the
// armoured file once it has been read, the directory with anything else in
// it last. Only this call's pgp can have written FILE.asc, so the armour
// read is ours.
//
// The result has no armour when no temporary directory or file could be
// made, or pgp left no readable, non-empty FILE.asc, or ran past its time
// limit or the request's budget (its exit status is not examined
// otherwise: the armour is the proof); `problem` then says why, for the
// administrator's log. A pgp.exe that cannot be started at all is a
// failure (kPgpNotStarted). The key identifier is passed as it stands; what
// it names is pgp's business.
//
// pgp.exe is the one in the encryptor's program directory (the install's own,
// fixed when the program is built) whenever anything is at that path (one
// that can't be run is the administrator's to fix, and the log names it),
// else the first on PATH (PgpLookup).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/result.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

namespace veltrano {

inline constexpr std::string_view kPgpProgram = "pgp.exe";

// Where Encrypt looks for pgp.exe, in order: the program directory's
// (`installed`, none without a program directory), decisive whenever
// anything is at that path; then, only when nothing is, pgp.exe in each
// directory of `searchPath`, a PATH value (an empty entry is the current
// directory).
struct PgpPlaces {
  std::optional<std::string> installed;
  std::vector<std::string> onPath;
};
PgpPlaces PgpLookup(std::string_view programDirectory, std::string_view searchPath);

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

  // Encrypts `texts` one after the other, as one file (a MIME entity's
  // pieces, written a piece at a time).
  Result<Encryption> Encrypt(std::string_view keyId, const std::vector<std::string_view>& texts);
  Result<Encryption> Encrypt(std::string_view keyId, std::string_view body) {
    return Encrypt(keyId, std::vector<std::string_view>{body});
  }

 private:
  platform::ChildOutcome RunPgp(const std::string& file, std::string_view keyId,
                                std::string& where) const;

  std::vector<std::optional<std::string>> tempDirectories_;
  platform::ChildLimits limits_;
  std::string programDirectory_;
};

}  // namespace veltrano
