#pragma once

// The one writer of diagnostics. While a run is in progress it writes into
// the run's error file, which it creates only when the first message arrives;
// otherwise it writes to standard output. Nothing is added to what callers
// insert: a message ends with a line break only where the caller puts one.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/File.h"

namespace RazaDedeZuzev {

class TextWriter;

class Logger {
 public:
  static Logger& GetInstance();

  Logger& operator<<(std::string_view text);
  Logger& operator<<(const char* text) { return *this << std::string_view(text); }
  Logger& operator<<(const std::string& text) { return *this << std::string_view(text); }
  Logger& operator<<(std::uint32_t value);
  Logger& operator<<(std::uint64_t value);

  // Set by Run for the duration of a run, emptied by AutoCloseLogger.
  std::u16string errorFilePath;

  virtual ~Logger();

 private:
  friend class AutoCloseLogger;
  Logger();
  void write(std::string_view text);
  // True when the run's error file is open, holding what earlier messages
  // could not write yet.
  bool openErrorFile();
  void closeErrorFile();

  platform::UniqueFile errorFile;
  std::unique_ptr<TextWriter> errorWriter;  // while errorFile is open
  // Messages of this run that found no error file: a run that has used up
  // its file descriptors gets one back when the file it failed on closes.
  std::string unwritten;
};

// Detaches the error file from the Logger when a run ends, closing it if the
// run wrote anything. Messages that could not be written yet get a last
// attempt first, when the run's other files are closed.
class AutoCloseLogger {
 public:
  AutoCloseLogger() = default;
  AutoCloseLogger(const AutoCloseLogger&) = delete;
  AutoCloseLogger& operator=(const AutoCloseLogger&) = delete;
  virtual ~AutoCloseLogger();
};

// While it lives, the messages this thread writes are held in `text`
// instead of being written: work done before its turn keeps its messages
// until the turn comes, and drops them when it never comes.
class HeldMessages {
 public:
  explicit HeldMessages(std::string& text);
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;
  ~HeldMessages();

 private:
  std::string* outer;
};

// The system's text for an error, with its trailing line break: the middle
// part of every system error report ("prefix" + text + "\n").
std::string GetLastErrorMessage(const std::error_code& error);

}  // namespace RazaDedeZuzev
