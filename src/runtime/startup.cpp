#include "runtime/startup.h"

#include <cstdint>

#include "runtime/arguments.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"
#include "runtime/text_file.h"

namespace velk {

// A routine of its own in every build (not placed inside main), so that a
// back-trace ends with the point in it to which the driver returns.
[[gnu::noinline]] void RuntimeStartup(int argc, char** argv, DriverProcedure driver) {
  // Fault handling first: a fault in any later step is reported like any other.
  InstallFaultHandling();
  SetUpStandardChannels();
  BuildArgumentList(argc, argv);
  IoErrorCode = 0;
  // The driver's frame is the last of every back-trace.
  SetOutermostFrame(PlatformCallerFrame());
  driver();
  ExitStatus = 0;
  RuntimeShutdown();
}

}  // namespace velk
