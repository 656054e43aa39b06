#include "app/run_refresh.h"
#include "platform/windows_platform_ops.h"

// The command line is ignored: every run does the same fixed pass.
int main() {
  plenvor::WindowsPlatformOps ops;
  const int status = static_cast<int>(plenvor::RunRefresh(ops));
  ops.EndRun(status);
  return status;
}
