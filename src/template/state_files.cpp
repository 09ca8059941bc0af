#include "template/state_files.hpp"

#include "platform/files.hpp"
#include "platform/state_file.hpp"

namespace veltrano {

Status CheckStateFiles(const Template& t, const PathAliases& aliases) {
  if (!t.dataFile || !t.abuse.rateLimit) return {};
  Result<std::string> data = aliases.Resolve(t.dataFile->name, t.path);
  if (!data) return data.failure();
  const std::string& state = t.abuse.rateLimit->path;
  using platform::StateFile;
  for (const std::string& file :
       {state, StateFile::LockPath(state), StateFile::TemporaryPath(state)}) {
    if (platform::SameFile(file, *data)) {
      return Fail(FailureKind::kStateFileIsDataFile, {}, "RATELIMIT " + state + ", DFILE " + *data);
    }
  }
  return {};
}

}  // namespace veltrano
