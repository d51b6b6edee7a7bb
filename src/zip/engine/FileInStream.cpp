#include "zip/engine/FileInStream.h"

#include <algorithm>
#include <iterator>

#include "base/Logger.h"
#include "base/TextEncoding.h"
#include "zip/engine/ComPtr.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

bool FileInStream::OpenFile() {
  const std::error_code error = platform::openFileForRead(path, file);
  if (!error) return true;
  Logger::GetInstance() << "CreateFileW failed for " << toUtf8(path)
                        << ": " << GetLastErrorMessage(error) << "\n";
  return false;
}

HRESULT FileInStream::QueryInterface(const GUID& iid, void** object) {
  *object = nullptr;
  if (!(iid == IID_IUnknown || iid == IID_IInStream)) return E_NOINTERFACE;
  *object = ComPtr<IInStream>::share(this).handOver();
  return S_OK;
}

HRESULT FileInStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
  if (processedSize != nullptr) *processedSize = 0;
  auto* cursor = static_cast<unsigned char*>(data);
  std::uint32_t remaining = largestAnswer == 0 ? size : std::min(size, largestAnswer);
  while (remaining > 0) {
    std::size_t bytesRead = 0;
    const std::error_code error =
        platform::readFile(file.get(), cursor, std::min(remaining, kMaxReadChunk), bytesRead);
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
  const std::error_code error = platform::seekFile(file.get(), offset, kOrigins[seekOrigin], position);
  if (error) {
    Logger::GetInstance() << "SetFilePointerEx failed: " << GetLastErrorMessage(error) << "\n";
    return E_FAIL;
  }
  if (newPosition != nullptr) *newPosition = position;
  return S_OK;
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
