#include "zip/FileInStream.h"

#include <algorithm>
#include <iterator>

#include "app/Logger.h"
#include "copy/TextEncoding.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

bool FileInStream::OpenFile() {
  const std::error_code error = platform::openFileForRead(path, handle);
  if (!error) return true;
  Logger::GetInstance() << "CreateFileW failed for " << toMultiByteString(path, kCodePageUtf8)
                        << ": " << GetLastErrorMessage(error) << "\n";
  return false;
}

FileInStream::~FileInStream() { platform::closeFile(handle); }

HRESULT FileInStream::QueryInterface(const GUID& iid, void** object) {
  *object = nullptr;
  if (!(iid == IID_IUnknown || iid == IID_IInStream)) return E_NOINTERFACE;
  *object = static_cast<IInStream*>(this);
  AddRef();
  return S_OK;
}

HRESULT FileInStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
  if (processedSize != nullptr) *processedSize = 0;
  auto* cursor = static_cast<unsigned char*>(data);
  std::uint32_t remaining = size;
  while (remaining > 0) {
    std::size_t bytesRead = 0;
    const std::error_code error =
        platform::readFile(handle, cursor, std::min(remaining, kMaxReadChunk), bytesRead);
    if (error) {
      Logger::GetInstance() << "ReadFile failed: " << GetLastErrorMessage(error) << "\n";
      return E_FAIL;
    }
    if (bytesRead == 0) break;  // end of file
    const auto count = static_cast<std::uint32_t>(bytesRead);
    cursor += count;
    remaining -= count;
    if (processedSize != nullptr) *processedSize += count;
  }
  return S_OK;
}

HRESULT FileInStream::Seek(std::int64_t offset, std::uint32_t seekOrigin,
                           std::uint64_t* newPosition) {
  static constexpr platform::SeekOrigin kOrigins[] = {
      platform::SeekOrigin::Begin, platform::SeekOrigin::Current, platform::SeekOrigin::End};
  if (seekOrigin >= std::size(kOrigins)) {
    Logger::GetInstance() << "Seek failed, unknown seekOrigin: " << seekOrigin << "\n";
    return E_FAIL;
  }
  std::uint64_t position = 0;
  const std::error_code error = platform::seekFile(handle, offset, kOrigins[seekOrigin], position);
  if (error) {
    Logger::GetInstance() << "SetFilePointerEx failed: " << GetLastErrorMessage(error) << "\n";
    return E_FAIL;
  }
  if (newPosition != nullptr) *newPosition = position;
  return S_OK;
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
