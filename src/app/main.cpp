#include "app/Application.h"
#include "platform/System.h"

int main(int argc, char** argv) {
  RazaDedeZuzev::platform::prepareProcess();
  RazaDedeZuzev::RazaDedeZuzevApplication application;
  if (!application.ParseArguments(RazaDedeZuzev::platform::commandLineArguments(argc, argv))) {
    return 1;
  }
  return application.RunWatched();
}
