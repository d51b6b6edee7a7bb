#pragma once

// A copy command whose source is one entry of an open zip archive: the
// engine decompresses the entry straight into the destination and the hash.

#include <string>

#include "transfer/FileCopyCommand.h"
#include "zip/ZipArchive.h"

namespace RazaDedeZuzev {

class ZipFileCopyCommand : public AbstractFileCopyCommand {
 public:
  // The archive outlives the command.
  explicit ZipFileCopyCommand(ZipArchive& archive);
  ~ZipFileCopyCommand() override = default;

  // Selects the entry of exactly this name and takes its size; false after
  // the not-found message.
  bool SetZipEntryName(const std::string& name);

 protected:
  bool WriteToHandle(platform::FileHandle file) override;

 private:
  ZipArchive& archive;
  ZipArchiveState& archiveState;
};

}  // namespace RazaDedeZuzev
