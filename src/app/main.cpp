#include "app/Application.h"
#include "platform/System.h"
#include "platform/WorkerPool.h"

int main(int argc, char** argv) {
  RazaDedeZuzev::platform::prepareProcess();
  RazaDedeZuzev::RazaDedeZuzevApplication application;
  if (!application.ParseArguments(RazaDedeZuzev::platform::commandLineArguments(argc, argv))) {
    return 1;
  }
  const bool succeeded = application.Run();
  // Every thread the run used ends here, before the process does.
  RazaDedeZuzev::platform::WorkerPool::Get().Shutdown();
  return succeeded ? 0 : 2;
}
