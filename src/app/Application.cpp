#include "app/Application.h"

#include "base/Durability.h"
#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/ModeTable.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {

bool RazaDedeZuzevApplication::ParseArguments(const std::vector<std::u16string>& arguments) {
  if (arguments.size() < 3) {
    Logger::GetInstance() << "usage: razadedezuzev.exe <mode> <input file>\n";
    return false;
  }
  inputFilePath = arguments[2];
  mode = findMode(arguments[1]);
  if (mode == nullptr) {
    Logger::GetInstance() << "unknown mode: " << asUtf8(arguments[1]) << "\n";
    return false;
  }
  return !mode->readsArchives || checkArchiveSettings();
}

bool RazaDedeZuzevApplication::Run() {
  Logger& logger = Logger::GetInstance();
  logger.errorFilePath = inputFilePath + u".err";
  AutoCloseLogger loggerGuard;

  InputFile job;
  if (!job.Load(inputFilePath)) return false;

  const std::u16string outputFilePath = inputFilePath + u".out";
  platform::UniqueFile outputFile;
  if (platform::createOrTruncateFile(outputFilePath, outputFile)) {
    logger << "failed to open file: " << asUtf8(outputFilePath) << "\n";
    return false;
  }

  bool written = false;
  bool result = false;
  {
    TextWriter output(outputFile.get());
    result = mode->handler(job, output);
    if (!result) logger << mode->failureMessage;
    written = output.Flush();
  }
  // A result line that did not reach the disk must not pass for one that
  // did: a failed write, sync or close fails the run. The file's name is
  // made durable too, as every name the program creates.
  if (written && durableWritesWanted()) {
    written = !platform::syncFileData(outputFile.get()) && !platform::syncDirectory(directoryOfFile(outputFilePath));
  }
  const bool closed = !platform::closeFile(outputFile);
  if (!written || !closed) {
    logger << "failed to write file: " << asUtf8(outputFilePath) << "\n";
    if (result) logger << mode->failureMessage;
    return false;
  }
  return result;
}

}  // namespace RazaDedeZuzev
