// The data-file record of an accepted submission.
//
// WriteDataFile stores one record, the expanded DFILEFORMAT (expanded with
// expand/escapers.hpp's DataRecord, so it is one line and its quoted fields
// hold) trimmed and ended with one line end, in the file the template names:
// at the end for DFILE APPEND, or as the file's only content for DFILE
// TRUNCATE. The file is written in text mode, so every LF is stored as CR
// LF, and concurrent requests never interleave or lose records
// (platform/record_file.hpp). The file's lock is waited for until the
// request's budget ends. A record that could not be stored leaves a line in
// the log; the request goes on to its success page.
#pragma once

#include <string>

#include "model/notices.hpp"
#include "model/template.hpp"
#include "platform/deadline.hpp"

namespace veltrano {

void WriteDataFile(const std::string& path, DataFileMode mode, std::string record, Notices& notices,
                   const platform::Deadline& budget = platform::Deadline::Never());

}  // namespace veltrano
