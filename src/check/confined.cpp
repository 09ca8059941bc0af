#include "check/confined.hpp"

#include <exception>
#include <new>

#include "check/check.hpp"
#include "platform/channel.hpp"
#include "platform/temp_file.hpp"

namespace veltrano::check {

namespace {

// In the child: the findings of `work`, each a record, whatever ends it.
int SendFindings(int channel, const std::function<void(Findings&)>& work) {
  Findings findings;
  try {
    work(findings);
  } catch (const std::bad_alloc&) {
    findings.Unchecked("out of memory");
  } catch (const std::exception& e) {
    findings.Unchecked(e.what());
  } catch (...) {
    findings.Unchecked("an exception of no standard type");
  }
  for (const Finding& f : findings.list()) {
    if (!platform::WriteRecord(channel, static_cast<char>(f.kind), f.text)) return 1;
  }
  return 0;
}

bool IsFindingKind(char kind) {
  using enum Finding::Kind;
  for (Finding::Kind known : {kError, kWarning, kUnchecked}) {
    if (kind == static_cast<char>(known)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> CheckingEnvironment(const platform::Account& user,
                                             const platform::Environment& given) {
  std::vector<std::string> env = {"PATH=" + std::string(kWebServerPath), "HOME=" + user.home,
                                  "USER=" + user.name};
  std::vector<std::string_view> passed(std::begin(platform::kTempDirectoryVariables),
                                       std::end(platform::kTempDirectoryVariables));
  passed.push_back("GNUPGHOME");
  for (std::string_view name : passed) {
    if (std::optional<std::string> value = given.Get(std::string(name))) {
      env.push_back(std::string(name) + "=" + *value);
    }
  }
  return env;
}

Findings RunConfined(platform::ChildSetup setup, const std::function<void(Findings&)>& work,
                     const platform::ChildLimits& limits) {
  setup.maxOutput = kMaxFindingsBytes;
  platform::ChildReport child = platform::RunAs(
      setup, [&work](int channel) { return SendFindings(channel, work); }, limits);
  Findings findings;
  platform::RecordStream stream = platform::ParseRecords(child.output);
  for (const platform::Record& record : stream.records) {
    if (!IsFindingKind(record.kind)) {
      stream.whole = false;
      break;
    }
    findings.Add(static_cast<Finding::Kind>(record.kind), record.text);
  }
  if (child.outcome.ending == platform::ChildOutcome::Ending::kNotStarted) {
    findings.Unchecked(child.outcome.error);
  } else if (!child.outcome.Succeeded()) {
    findings.Unchecked("the checking process ended: " + child.outcome.Describe(limits));
  } else if (child.outputCut) {
    findings.Unchecked("over " + std::to_string(kMaxFindingsBytes) + " bytes of findings");
  } else if (!stream.whole) {
    findings.Unchecked("the checking process sent findings that can't be read");
  }
  return findings;
}

}  // namespace veltrano::check
