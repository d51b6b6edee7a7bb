#pragma once

#include <string>

#include "app/Mode.h"

namespace RazaDedeZuzev {

// One run of the program: the arguments, then one mode on one job file.
class RazaDedeZuzevApplication {
 public:
  RazaDedeZuzevApplication() = default;
  virtual ~RazaDedeZuzevApplication() = default;

  // Takes the mode word and the job file path; false after the usage text or
  // an unknown mode word on standard output.
  bool ParseArguments(int argc, const char* const* argv);

  // Loads the job, opens the output file and runs the mode's handler. False
  // when the job could not be loaded, the output file not opened, or the
  // handler failed; the reason is in the error file.
  bool Run();

  Mode GetMode() const { return mode; }

 private:
  Mode mode = Mode::BatchCopyToResourceStore;
  std::string inputFilePath;
};

}  // namespace RazaDedeZuzev
