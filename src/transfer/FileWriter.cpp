#include "transfer/FileWriter.h"

#include "base/Logger.h"

namespace RazaDedeZuzev {

bool FileWriter::Write(const void* data, std::size_t size, std::error_code& error) {
  std::size_t count = 0;
  error = platform::writeFile(file, data, size, count);
  if (error || count != size) return false;
  written += size;
  if (written - writebackStart >= kWritebackStep) StartWriteback();
  return true;
}

void FileWriter::StartWriteback() {
  if (written == writebackStart) return;
  platform::startWriteback(file, writebackStart, written - writebackStart);
  writebackStart = written;
}

std::string writeFailureMessage(const char* failurePrefix, const std::error_code& error) {
  if (!error) return "written size is different from read size\n";
  return failurePrefix + GetLastErrorMessage(error) + "\n";
}

}  // namespace RazaDedeZuzev
