#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace RazaDedeZuzev {

struct ModeDescription;

// One run of the program: the arguments, then one mode on one job file.
class RazaDedeZuzevApplication {
 public:
  RazaDedeZuzevApplication() = default;
  virtual ~RazaDedeZuzevApplication() = default;

  // Takes the mode word and the job file path from the arguments (the
  // program name first); false after the usage text or an unknown mode word
  // on standard output.
  bool ParseArguments(const std::vector<std::u16string>& arguments);

  // Loads the job, opens the output file and runs the mode's handler. False
  // when the job could not be loaded, the output file not opened or written,
  // or the handler failed; the reason is in the error file.
  bool Run();

  // Runs the job as Run does, in a worker process watched for the time a
  // stalled file system may hold it (NUV_RAZADEDEZUZEV_STALL_SECONDS, 60 by
  // default, 0 for none); returns the exit code.
  int RunWatched();

 private:
  // Adds to the error file why the run was given up.
  void reportStall(std::uint64_t stallSeconds, std::uint64_t workerId) const;

  const ModeDescription* mode = nullptr;
  std::u16string inputFilePath;
};

}  // namespace RazaDedeZuzev
