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
#include "platform/Supervisor.h"
#include "platform/System.h"
#include "platform/WorkerPool.h"

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

namespace {

// How long the file systems may keep every call of the run waiting before
// the caller is answered: longer than a network client's own time-outs
// (GlusterFS gives a server up after 42 s), so that a server the client
// recovers from never fails a run.
constexpr std::uint64_t kDefaultStallSeconds = 60;

std::uint64_t stallSeconds() {
  const auto value = platform::getEnvironmentVariable("NUV_RAZADEDEZUZEV_STALL_SECONDS");
  if (!value || value->empty() || value->find_first_not_of("0123456789") != std::string::npos) {
    return kDefaultStallSeconds;
  }
  return std::stoull(value->substr(0, 9));
}

}  // namespace

int RazaDedeZuzevApplication::RunWatched() {
  const std::uint64_t seconds = stallSeconds();
  return platform::runSupervised(
      seconds,
      [&] {
        const bool succeeded = Run();
        // Every thread the run used ends here, before the process does.
        platform::WorkerPool::Get().Shutdown();
        return succeeded ? 0 : 2;
      },
      [&](std::uint64_t workerId) { reportStall(seconds, workerId); });
}

void RazaDedeZuzevApplication::reportStall(std::uint64_t seconds, std::uint64_t workerId) const {
  const std::string message = "no file system call of the run returned for " + std::to_string(seconds) +
                              " s: a file system stopped answering; the run is given up (its worker process " +
                              std::to_string(workerId) + " ends when the file system lets it go)\n" +
                              mode->failureMessage;
  platform::UniqueFile errors;
  std::size_t written = 0;
  if (!platform::openFileForAppend(inputFilePath + u".err", errors)) {
    platform::writeFile(errors.get(), message.data(), message.size(), written);
  }
}

}  // namespace RazaDedeZuzev
