// A parsed template: every section the request uses, read once and never
// changed afterwards. Texts are the administrator's, as they stand between
// their tags (trimmed where noted); placeholders in them are expanded only
// where they are used.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/failure.hpp"
#include "model/fields.hpp"

namespace veltrano {

// The sections that exist only with SMTPSERVER, as one group.
struct MailSections {
  std::string server;                             // SMTPSERVER, not trimmed: "host" or "host:port"
  std::string sender;                             // SENDER
  std::string subject;                            // SUBJECT
  std::string messageBody;                        // MSGBODY
  std::optional<std::string> mailHeader;          // MAILHDR, trimmed
  std::optional<std::string> responseMailHeader;  // RMAILHDR, trimmed
  std::optional<std::string> replyTo;             // REPLYTO
};

enum class DataFileMode { kAppend, kTruncate };

struct DataFileSections {
  std::string name;  // DFILE APPEND or, without it, DFILE TRUNCATE; trimmed
  DataFileMode mode = DataFileMode::kAppend;
  std::optional<std::string> format;  // DFILEFORMAT
};

// RATELIMIT: at most `count` accepted submissions per client address within
// `seconds`, counted in the state file at `path`.
struct RateLimit {
  std::string path;
  long long count = 0;
  long long seconds = 0;
};

// The abuse controls a template may turn on; each is off without its section.
struct AbuseControls {
  // RECIPIENTS: the addresses ("a@b.example") and domains ("@b.example")
  // sendto values must match; none lets every value through.
  std::optional<std::vector<std::string>> recipients;
  std::optional<RateLimit> rateLimit;
  bool debugAllowed = true;    // DEBUG off turns the query string's switch off
  bool dataFileGuard = false;  // DFILEGUARD on
};

// ALLOWORIGIN: the origins whose pages may post to the form and read its
// answers, each as browsers write it (text/web_address.hpp), or any origin
// ("*").
struct CrossOrigin {
  bool any = false;
  std::vector<std::string> origins;
};

// An on/off section as written: its tag ("DEBUG") and its word, trimmed.
// Only "on" and "off" (any case) are words; any other text leaves the
// switch as it is without the section.
struct SwitchSection {
  std::string tag;
  std::string word;
};
// MAXUPLOAD without its section: the bytes the attached files of one
// submission may hold together.
inline constexpr std::size_t kDefaultMaxUpload = 5 * 1024 * 1024;
// The largest MAXUPLOAD. With the 1 MiB a form's other fields may take, a
// body stays within the 64 MiB the program reads of a body at most.
inline constexpr std::size_t kMaxUploadCeiling = 63 * 1024 * 1024;

struct Template {
  std::string path;  // as resolved and read
  std::optional<MailSections> mail;
  std::string errorPageFile;                   // ERRMSGFILE
  std::optional<std::string> responseSubject;  // RSUBJECT
  std::optional<std::string> responseBody;     // RMSGBODY
  std::optional<std::string> executeCommand;   // EXECUTE
  std::optional<std::string> addressFile;      // ADRFILE, trimmed
  std::optional<DataFileSections> dataFile;
  std::vector<FieldDefinition> fields;  // FORMDATA entries in template order
  AbuseControls abuse;
  std::vector<SwitchSection> switches;        // every on/off section the template holds
  std::size_t maxUpload = kDefaultMaxUpload;  // MAXUPLOAD, for the fields with ATTACH
  bool pgpMime = false;  // PGPMIME on: every encrypted main mail as RFC 3156 PGP/MIME
  // SUCCEEDMSGFILE, or the "Tag missing" failure that is reported only at
  // the end of an accepted request; never missing with SUCCEEDURL, which
  // answers success in its place.
  std::optional<std::string> successPageFile;
  std::optional<Failure> successPageMissing;
  std::optional<std::string> successUrl;       // SUCCEEDURL, trimmed
  std::optional<std::string> failurePageFile;  // FATALMSGFILE, trimmed
  std::optional<CrossOrigin> allowOrigin;      // ALLOWORIGIN
};

}  // namespace veltrano
