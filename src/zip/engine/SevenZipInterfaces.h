#pragma once

// The 7-Zip engine's binary interfaces, as far as this program uses them:
// the COM-style objects it exchanges with the engine library, their
// interface ids, the property ids it reads and the value holder it receives.
//
// The layouts here are a binary contract with a library built elsewhere: the
// order of the virtual methods, their argument types and the field layout of
// the value holder must match the engine exactly. Each interface's table is
// QueryInterface, AddRef, Release, then its own methods in the order given
// below. The interfaces carry no virtual destructor (the engine refuses
// objects of that older convention, and so do we: see SevenZipEngine).
//
// Nothing outside src/zip/ includes this header.

#include <cstdint>

namespace RazaDedeZuzev::SevenZipArchiveImpl {

#if defined(_WIN32) && !defined(_WIN64)
#define SEVENZIP_CALL __stdcall
#else
#define SEVENZIP_CALL
#endif

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;
// The engine's wide text: 2-byte UTF-16 on Windows, 4-byte UTF-32 elsewhere.
using BSTR = wchar_t*;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

struct GUID {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

inline bool operator==(const GUID& left, const GUID& right) {
  if (left.data1 != right.data1 || left.data2 != right.data2 || left.data3 != right.data3) {
    return false;
  }
  for (int i = 0; i < 8; ++i) {
    if (left.data4[i] != right.data4[i]) return false;
  }
  return true;
}

// Every engine interface id reads {23170F69-40C1-278A-0000-00gg00ii0000}, with
// the interface's group gg and number ii.
constexpr GUID engineInterfaceId(std::uint8_t group, std::uint8_t number) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0, 0, 0, group, 0, number, 0, 0}};
}

inline constexpr GUID IID_IUnknown{0x00000000, 0x0000, 0x0000,
                                   {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IProgress = engineInterfaceId(0x00, 0x05);
inline constexpr GUID IID_ISequentialInStream = engineInterfaceId(0x03, 0x01);
inline constexpr GUID IID_ISequentialOutStream = engineInterfaceId(0x03, 0x02);
inline constexpr GUID IID_IInStream = engineInterfaceId(0x03, 0x03);
inline constexpr GUID IID_ICryptoGetTextPassword = engineInterfaceId(0x05, 0x10);
inline constexpr GUID IID_IArchiveOpenCallback = engineInterfaceId(0x06, 0x10);
inline constexpr GUID IID_IArchiveExtractCallback = engineInterfaceId(0x06, 0x20);
inline constexpr GUID IID_IInArchive = engineInterfaceId(0x06, 0x60);
inline constexpr GUID IID_ISetProperties = engineInterfaceId(0x06, 0x03);

// The class id of the engine's zip format handler.
inline constexpr GUID CLSID_ZipFormat{0x23170F69, 0x40C1, 0x278A,
                                      {0x10, 0x00, 0x00, 0x01, 0x10, 0x01, 0x00, 0x00}};

// Value types of the value holder.
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_UI8 = 21,
};

// Item properties.
enum : PROPID {
  kpidPath = 3,
  kpidIsDir = 6,
  kpidSize = 7,
  kpidPackSize = 8,
  kpidAttrib = 9,
  kpidMethod = 22,
  kpidHostOS = 23,
  kpidCharacts = 47,
};

// Properties of the engine module itself (GetModuleProp).
enum : PROPID {
  kModulePropInterfaceType = 0,
  kModulePropVersion = 1,
};

// What the engine asks an extraction callback's stream for.
enum : std::int32_t {
  kAskModeExtract = 0,
  kAskModeTest = 1,
  kAskModeSkip = 2,
};

// Outcome of one item's extraction, told through SetOperationResult.
enum : std::int32_t {
  kOperationOk = 0,
  kOperationUnsupportedMethod = 1,
  kOperationDataError = 2,
  kOperationCrcError = 3,
  kOperationWrongPassword = 9,
};

// The value holder: a 16-bit type tag, three reserved 16-bit fields, then the
// value at offset 8. The engine's holder is 16 bytes on Linux; Windows's is 24
// on 64-bit systems (its union has a pointer-and-size member). A holder is only
// ever passed singly, so ours takes the larger size everywhere.
struct PropBlob {
  std::uint32_t size;
  void* data;
};

struct PROPVARIANT {
  VARTYPE vt;
  std::uint16_t reserved1;
  std::uint16_t reserved2;
  std::uint16_t reserved3;
  union {
    std::int16_t boolVal;  // VARIANT_BOOL: 0 false, -1 true
    std::uint8_t bVal;
    std::uint16_t uiVal;
    std::uint32_t ulVal;
    std::uint64_t uhVal;
    BSTR bstrVal;
    PropBlob blob;
  };
};

// The interfaces. Destructors are protected and not virtual: objects are
// destroyed through Release only, and a virtual destructor would add a slot
// that the engine does not expect.

class IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL QueryInterface(const GUID& iid, void** object) = 0;
  virtual ULONG SEVENZIP_CALL AddRef() = 0;
  virtual ULONG SEVENZIP_CALL Release() = 0;

 protected:
  ~IUnknown() = default;
};

class ISequentialInStream : public IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL Read(void* data, std::uint32_t size,
                                     std::uint32_t* processedSize) = 0;

 protected:
  ~ISequentialInStream() = default;
};

class IInStream : public ISequentialInStream {
 public:
  virtual HRESULT SEVENZIP_CALL Seek(std::int64_t offset, std::uint32_t seekOrigin,
                                     std::uint64_t* newPosition) = 0;

 protected:
  ~IInStream() = default;
};

class ISequentialOutStream : public IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL Write(const void* data, std::uint32_t size,
                                      std::uint32_t* processedSize) = 0;

 protected:
  ~ISequentialOutStream() = default;
};

class IProgress : public IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL SetTotal(std::uint64_t total) = 0;
  virtual HRESULT SEVENZIP_CALL SetCompleted(const std::uint64_t* completeValue) = 0;

 protected:
  ~IProgress() = default;
};

class IArchiveExtractCallback : public IProgress {
 public:
  virtual HRESULT SEVENZIP_CALL GetStream(std::uint32_t index, ISequentialOutStream** outStream,
                                          std::int32_t askExtractMode) = 0;
  virtual HRESULT SEVENZIP_CALL PrepareOperation(std::int32_t askExtractMode) = 0;
  virtual HRESULT SEVENZIP_CALL SetOperationResult(std::int32_t operationResult) = 0;

 protected:
  ~IArchiveExtractCallback() = default;
};

// Options of a format handler, set before the archive is opened.
class ISetProperties : public IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL SetProperties(const wchar_t* const* names, const PROPVARIANT* values,
                                              std::uint32_t count) = 0;

 protected:
  ~ISetProperties() = default;
};

class ICryptoGetTextPassword : public IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL CryptoGetTextPassword(BSTR* password) = 0;

 protected:
  ~ICryptoGetTextPassword() = default;
};

class IArchiveOpenCallback : public IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) = 0;
  virtual HRESULT SEVENZIP_CALL SetCompleted(const std::uint64_t* files,
                                             const std::uint64_t* bytes) = 0;

 protected:
  ~IArchiveOpenCallback() = default;
};

class IInArchive : public IUnknown {
 public:
  virtual HRESULT SEVENZIP_CALL Open(IInStream* stream, const std::uint64_t* maxCheckStartPosition,
                                     IArchiveOpenCallback* openCallback) = 0;
  virtual HRESULT SEVENZIP_CALL Close() = 0;
  virtual HRESULT SEVENZIP_CALL GetNumberOfItems(std::uint32_t* numItems) = 0;
  virtual HRESULT SEVENZIP_CALL GetProperty(std::uint32_t index, PROPID propId,
                                            PROPVARIANT* value) = 0;
  virtual HRESULT SEVENZIP_CALL Extract(const std::uint32_t* indices, std::uint32_t numItems,
                                        std::int32_t testMode,
                                        IArchiveExtractCallback* extractCallback) = 0;
  virtual HRESULT SEVENZIP_CALL GetArchiveProperty(PROPID propId, PROPVARIANT* value) = 0;
  virtual HRESULT SEVENZIP_CALL GetNumberOfProperties(std::uint32_t* numProps) = 0;
  virtual HRESULT SEVENZIP_CALL GetPropertyInfo(std::uint32_t index, BSTR* name, PROPID* propId,
                                                VARTYPE* varType) = 0;
  virtual HRESULT SEVENZIP_CALL GetNumberOfArchiveProperties(std::uint32_t* numProps) = 0;
  virtual HRESULT SEVENZIP_CALL GetArchivePropertyInfo(std::uint32_t index, BSTR* name,
                                                       PROPID* propId, VARTYPE* varType) = 0;

 protected:
  ~IInArchive() = default;
};

// The library's exports.
using CreateObjectFunction = HRESULT(SEVENZIP_CALL*)(const GUID* classId, const GUID* interfaceId,
                                                     void** object);
using GetModulePropFunction = HRESULT(SEVENZIP_CALL*)(PROPID propId, PROPVARIANT* value);
using VariantClearFunction = HRESULT(SEVENZIP_CALL*)(PROPVARIANT* value);

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
