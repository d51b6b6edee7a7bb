#include "base/Logger.h"

#include <utility>

#include "base/TextWriter.h"
#include "platform/System.h"

namespace RazaDedeZuzev {
namespace {

// Where this thread's messages are held, if they are (HeldMessages).
thread_local std::string* heldMessages = nullptr;

}  // namespace

Logger& Logger::GetInstance() {
  // Created on first use and never destroyed: messages may be written until
  // the very end of the process.
  static Logger* instance = new Logger();
  return *instance;
}

Logger::Logger() = default;
Logger::~Logger() = default;

void Logger::write(std::string_view text) {
  // Text ends at its first NUL byte, as formatted printing of "%s" would.
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return;  // no message: no error file
  if (heldMessages != nullptr) {
    heldMessages->append(text);
    return;
  }
  if (errorFilePath.empty()) {
    // Outside a run: standard output, at once (the usage text).
    TextWriter(platform::standardOutput(), 0).Write(text);
    return;
  }
  if (!openErrorFile()) {
    unwritten.append(text);
    return;
  }
  errorWriter->Write(text);
}

bool Logger::openErrorFile() {
  if (errorFile) return true;
  if (platform::createOrTruncateFile(errorFilePath, errorFile)) return false;
  errorWriter = std::make_unique<TextWriter>(errorFile.get());
  errorWriter->Write(unwritten);
  unwritten.clear();
  return true;
}

void Logger::closeErrorFile() {
  errorWriter.reset();  // writes what it holds
  errorFile.reset();
}

Logger& Logger::operator<<(std::string_view text) {
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
  logger.closeErrorFile();
  logger.errorFilePath.clear();
}

HeldMessages::HeldMessages(std::string& text) : outer(std::exchange(heldMessages, &text)) {}

HeldMessages::~HeldMessages() { heldMessages = outer; }

std::string GetLastErrorMessage(const std::error_code& error) {
  return platform::systemErrorText(error);
}

}  // namespace RazaDedeZuzev
