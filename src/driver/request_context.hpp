// The one record of a request: the debug switch, the template's location and
// text, one text per template section, the working directory and the field
// list. Subsystems read and write its fields directly; it owns everything it
// holds, so a run that ends early releases it all on the way out.
//
// A section that the template does not have (or that is not looked for) is
// none; see template/sections.hpp for which section fills which field.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/system.hpp"
#include "template/form_field.hpp"

namespace veltrano {

struct RequestContext {
  explicit RequestContext(platform::System& sys) : system(sys) {}
  RequestContext(const RequestContext&) = delete;
  RequestContext& operator=(const RequestContext&) = delete;

  platform::System& system;  // environment, standard streams, clock

  bool debugMode = false;                         // second query token contains "debug"
  std::optional<std::string> dataFileFormat;      // DFILEFORMAT
  std::optional<std::string> responseSubject;     // RSUBJECT
  bool hasFieldErrors = false;                    // any field failed a check
  std::string templatePath;                       // query name, then the resolved path
  std::string templateText;                       // the template without comment tails
  std::optional<std::string> messageBody;         // MSGBODY
  std::optional<std::string> successPageFile;     // SUCCEEDMSGFILE, extracted at completion
  std::optional<std::string> subject;             // SUBJECT
  std::optional<std::string> responseBody;        // RMSGBODY
  std::string fieldSection;                       // FORMDATA
  std::string errorPageFile;                      // ERRMSGFILE
  std::optional<std::string> smtpServer;          // SMTPSERVER, as extracted
  std::optional<std::string> sender;              // SENDER
  std::optional<std::string> appendDataFile;      // DFILE APPEND, trimmed
  std::optional<std::string> truncateDataFile;    // DFILE TRUNCATE, trimmed
  std::optional<std::string> executeCommand;      // EXECUTE; the expanded line once run
  std::optional<std::string> addressFile;         // ADRFILE, trimmed; resolved when read
  std::string workingDirectory;                   // directory of the executable
  std::optional<std::string> mailHeader;          // MAILHDR, trimmed
  std::optional<std::string> responseMailHeader;  // RMAILHDR, trimmed
  std::vector<FormField> fields;                  // FORMDATA entries in template order
};

}  // namespace veltrano
