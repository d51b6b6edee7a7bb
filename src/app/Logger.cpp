#include "app/Logger.h"

#include <cstring>

#include "platform/System.h"

namespace RazaDedeZuzev {

Logger& Logger::GetInstance() {
  // Created on first use and never destroyed: messages may be written until
  // the very end of the process.
  static Logger* instance = new Logger();
  return *instance;
}

Logger::Logger() : file(stdout) {}

void Logger::write(std::string_view text) {
  // Text ends at its first NUL byte, as formatted printing of "%s" would.
  text = text.substr(0, text.find('\0'));
  if (!errorFilePath.empty() && !openErrorFile()) {
    unwritten.append(text);
    return;
  }
  if (file != nullptr) std::fwrite(text.data(), 1, text.size(), file);
}

bool Logger::openErrorFile() {
  if (file != nullptr && file != stdout) return true;
  file = std::fopen(errorFilePath.c_str(), "w");  // null if it cannot be created
  if (file == nullptr) return false;
  std::fwrite(unwritten.data(), 1, unwritten.size(), file);
  unwritten.clear();
  return true;
}

Logger& Logger::operator<<(const char* text) {
  write(text);
  return *this;
}

Logger& Logger::operator<<(const std::string& text) {
  write(text);
  return *this;
}

Logger& Logger::operator<<(std::uint32_t value) {
  write(std::to_string(value));
  return *this;
}

Logger& Logger::operator<<(std::uint64_t value) {
  write(std::to_string(value));
  return *this;
}

AutoCloseLogger::~AutoCloseLogger() {
  Logger& logger = Logger::GetInstance();
  if (!logger.unwritten.empty() && !logger.errorFilePath.empty()) logger.openErrorFile();
  logger.unwritten.clear();
  if (logger.file != nullptr && logger.file != stdout) {
    std::fclose(logger.file);
  }
  logger.file = stdout;
  logger.errorFilePath.clear();
}

AutoCloseFile::~AutoCloseFile() {
  if (stream != nullptr && *stream != nullptr) {
    std::fclose(*stream);
    *stream = nullptr;
  }
  stream = nullptr;
}

std::string GetLastErrorMessage(const std::error_code& error) {
  return platform::systemErrorText(error);
}

}  // namespace RazaDedeZuzev
