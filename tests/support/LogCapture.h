#pragma once

// Collects what the Logger writes while `action` runs, by attaching a scratch
// error file the way a run does.

#include <functional>
#include <string>

#include "base/Logger.h"
#include "support/TestSupport.h"

namespace testsupport {

inline std::string captureLog(const std::function<void()>& action) {
  ScratchDir dir;
  const fs::path errorFile = dir / "log.err";
  RazaDedeZuzev::Logger::GetInstance().errorFilePath = errorFile.u16string();
  {
    RazaDedeZuzev::AutoCloseLogger guard;
    action();
  }
  return pathExists(errorFile) ? readFile(errorFile) : std::string();
}

}  // namespace testsupport
