// The files a template keeps state in (RATELIMIT's) may not be its data
// file, nor the lock or temporary file of one (platform/state_file.hpp):
// records would be rewritten as state or dropped as unreadable lines, and
// the state replaced by records. Names are compared as the request uses
// them, after the aliases, and as files: two names of one existing file are
// one file.
//
// CheckStateFiles is the rule, for the request (before anything is sent)
// and veltrano-check alike: kStateFileIsDataFile, or an alias that names no
// file (template/aliases.hpp).
#pragma once

#include "model/result.hpp"
#include "model/template.hpp"
#include "template/aliases.hpp"

namespace veltrano {

Status CheckStateFiles(const Template& t, const PathAliases& aliases);

}  // namespace veltrano
