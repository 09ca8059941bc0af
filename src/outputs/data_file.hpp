// The data-file record of an accepted submission.
//
// WriteDataFile writes one record to the file named by the DFILE APPEND
// section (added at the end) or, without it, the DFILE TRUNCATE section (the
// file is emptied first and holds only the latest record). The name goes
// through ResolveTemplatePath, so alias names work as for templates. The
// record is DFILEFORMAT expanded (no escaping: values go in as submitted,
// commas and quotes included), trimmed, and ended with one line end; the file
// is written in text mode, so every LF is stored as CR LF.
//
// Order and failures: without DFILEFORMAT the request ends with "Error
// writing to file". A file that cannot be opened is skipped without a word.
// The file is opened before the expansion, so an expansion over the length
// limit leaves a truncate-mode file empty. Concurrent requests never
// interleave or lose records (platform/record_file.hpp); a record that could
// not be stored is not reported, and the request goes on to its success page.
#pragma once

#include "driver/request_context.hpp"

namespace veltrano {

void WriteDataFile(RequestContext& ctx);

}  // namespace veltrano
