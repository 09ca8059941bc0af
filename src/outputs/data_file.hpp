// The data-file record of an accepted submission.
//
// StoreDataRecord is the whole step: without DFILEFORMAT the request ends
// with "Error writing to file" (kNoDataFileFormat); otherwise the file's
// name goes through the aliases (template/aliases.hpp), DFILEFORMAT is
// expanded with expand/escapers.hpp's DataRecord (so the record is one line
// and its quoted fields hold; with DFILEGUARD, values a spreadsheet would
// run as formulas are defused), and WriteDataFile stores it.
//
// WriteDataFile stores one record, trimmed and ended with one line end, in
// the file the template names: at the end for DFILE APPEND, or as the
// file's only content for DFILE TRUNCATE. The file is written in text mode,
// so every LF is stored as CR LF, and concurrent requests never interleave
// or lose records (platform/record_file.hpp). The file's lock is waited for
// until the request's budget ends. A record that could not be stored leaves
// a line in the log; the request goes on to its success page.
#pragma once

#include <string>
#include <string_view>

#include "expand/placeholders.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "model/template.hpp"
#include "platform/deadline.hpp"
#include "template/aliases.hpp"

namespace veltrano {

Status StoreDataRecord(const DataFileSections& dataFile, bool spreadsheetGuard,
                       const PathAliases& aliases, std::string_view templatePath,
                       const PlaceholderValues& values, Notices& notices,
                       const platform::Deadline& budget = platform::Deadline::Never());

void WriteDataFile(const std::string& path, DataFileMode mode, std::string record, Notices& notices,
                   const platform::Deadline& budget = platform::Deadline::Never());

}  // namespace veltrano
