// veltrano2.exe: a form-to-mail gateway run by a web server as a CGI program,
// once per form submission. See driver/request.hpp for the order of a run.
#include "driver/request.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"

int main(int argc, char** argv) {
#ifdef VELTRANO_STATIC_GLIBC
  veltrano::platform::UseBuiltInHostLookup();
#endif
  veltrano::platform::InstallTerminationCleanup();
  veltrano::platform::ProcessEnvironment env;
  veltrano::platform::StdinInput input;
  veltrano::platform::StdoutOutput output;
  veltrano::platform::StderrLog log;
  veltrano::platform::SystemClock clock;
  veltrano::platform::System system{env, input, output, log, clock};
  veltrano::RunSettings settings;
  // The install's own pgp.exe comes before any on PATH.
  settings.pgpDirectory = VELTRANO_PGP_DIRECTORY;
  return veltrano::RunProgram(argc > 0 && argv[0] != nullptr ? argv[0] : "", system, settings);
}
