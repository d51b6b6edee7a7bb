#pragma once

// Scope guards for an OS file handle and a directory search. Each holds the
// address of its owner's variable, not a copy, so that the owner may close the
// resource early; the guard then finds nothing left to close.

#include "platform/File.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {

class AutoCloseHandle {
 public:
  explicit AutoCloseHandle(platform::FileHandle* handle) : handle(handle) {}
  AutoCloseHandle(const AutoCloseHandle&) = delete;
  AutoCloseHandle& operator=(const AutoCloseHandle&) = delete;
  virtual ~AutoCloseHandle() {
    if (handle != nullptr) platform::closeFile(*handle);
    handle = nullptr;
  }

 private:
  platform::FileHandle* handle;
};

class AutoCloseFind {
 public:
  explicit AutoCloseFind(platform::DirectorySearchHandle* search) : search(search) {}
  AutoCloseFind(const AutoCloseFind&) = delete;
  AutoCloseFind& operator=(const AutoCloseFind&) = delete;
  virtual ~AutoCloseFind() {
    if (search != nullptr) platform::closeDirectorySearch(*search);
    search = nullptr;
  }

 private:
  platform::DirectorySearchHandle* search;
};

}  // namespace RazaDedeZuzev
