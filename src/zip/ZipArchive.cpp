#include "zip/ZipArchive.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string_view>

#include "base/Logger.h"
#include "base/TextEncoding.h"
#include "platform/Text.h"
#include "zip/EntryNames.h"
#include "zip/engine/ArchiveExtractCallback.h"
#include "zip/engine/ArchiveOpenCallback.h"
#include "zip/engine/SequentialOutStreams.h"
#include "zip/engine/ZipArchiveState.h"

namespace RazaDedeZuzev {

using namespace SevenZipArchiveImpl;

namespace {

// Method texts of the encryption methods the engine names.
constexpr std::u16string_view kEncryptionMethodMarks[] = {u"AES", u"ZipCrypto", u"StrongCrypto"};

// Answers to the engine's reads while it extracts only the start of an entry.
constexpr std::uint32_t kStartOfEntryRead = 16 << 10;

// Bit of the DOS attributes that hides a file.
constexpr std::uint64_t kHiddenAttribute = 0x2;

bool namesEncryptionMethod(std::u16string_view method) {
  for (std::u16string_view mark : kEncryptionMethodMarks) {
    if (method.find(mark) != std::u16string_view::npos) return true;
  }
  return false;
}

// Reads the properties of one item in the order the engine is asked for
// them. False when one of them has a type the engine does not promise.
class ItemReader {
 public:
  ItemReader(ZipArchiveState& state, platform::CodePageDecoder* legacyNames) : state(state), legacyNames(legacyNames) {}
  ItemReader(const ItemReader&) = delete;
  ItemReader& operator=(const ItemReader&) = delete;
  ~ItemReader() { clearValue(state.engine, value); }

  bool Read(std::uint32_t index, ZipEntry& entry) {
    std::uint64_t attributes = 0;
    std::u16string method;
    EngineEntryName name;
    if (!readProperty(index, kpidIsDir, readBoolValue, name.isDirectory) ||
        !readProperty(index, kpidAttrib, readUnsignedValue, attributes) ||
        !readProperty(index, kpidMethod, readTextValue, method) ||
        !readProperty(index, kpidSize, readUnsignedValue, entry.size) ||
        !readProperty(index, kpidPackSize, readUnsignedValue, entry.packedSize) ||
        !readProperty(index, kpidPath, readTextValue, name.path) ||
        !readProperty(index, kpidCharacts, readTextValue, name.characteristics) ||
        !readProperty(index, kpidHostOS, readTextValue, name.hostSystem)) {
      return false;
    }
    entry.isHidden = (attributes & kHiddenAttribute) != 0;
    entry.isEncrypted = namesEncryptionMethod(method);
    entry.isDirectory = name.isDirectory;
    entry.name = entryNameByRule(name, *legacyNames);
    entry.index = index;
    return true;
  }

  bool IsEncrypted(std::uint32_t index) {
    std::u16string method;
    return readProperty(index, kpidMethod, readTextValue, method) && namesEncryptionMethod(method);
  }

 private:
  template <typename Result>
  bool readProperty(std::uint32_t index, PROPID property,
                    bool (*read)(const PROPVARIANT&, Result&), Result& result) {
    state.inArchive->GetProperty(index, property, &value);  // a failure leaves VT_EMPTY
    const bool typeExpected = read(value, result);
    clearValue(state.engine, value);
    return typeExpected;
  }

  ZipArchiveState& state;
  platform::CodePageDecoder* legacyNames;
  PROPVARIANT value{};
};

// Asks the engine to read names without the UTF-8 mark byte for byte
// (EntryNames.h). Linux's engine does so whatever it is told; elsewhere it
// would read them in the system's code page and lose the bytes.
void askForStoredNameBytes(IInArchive& archive) {
  ComPtr<ISetProperties> options;
  if (archive.QueryInterface(IID_ISetProperties, reinterpret_cast<void**>(options.receive())) != S_OK || !options) return;
  const wchar_t* const names[] = {L"cp"};
  PROPVARIANT value{};
  value.vt = VT_UI4;
  value.ulVal = kByteForByteCodePage;
  options->SetProperties(names, &value, 1);
}

}  // namespace

HRESULT extractSelectedItem(ZipArchiveState& state, ComPtr<ISequentialOutStream> stream,
                            std::int32_t& operationResult) {
  operationResult = kOperationOk;
  // The engine trusts the index it is given: one beyond its items makes it
  // read past its own item table.
  std::uint32_t count = 0;
  state.inArchive->GetNumberOfItems(&count);
  if (state.selectedIndex >= count) return E_FAIL;
  // Without its password an encrypted item cannot be read: it gets the
  // verdict the engine gives a wrong password, without the engine's risk of
  // taking the empty password for the right one.
  if (ItemReader(state, nullptr).IsEncrypted(state.selectedIndex)) {
    operationResult = kOperationWrongPassword;
    reportItemVerdict(operationResult);
    return S_OK;
  }

  const auto callback = makeEngineObject<ArchiveExtractCallback>(std::move(stream), &operationResult);
  const std::uint32_t indices[] = {state.selectedIndex};
  return state.inArchive->Extract(indices, 1, 0, callback.get());
}

ZipArchive::ZipArchive()
    : state(std::make_unique<ZipArchiveState>()),
      // A setting that names no code page stops the run before any archive
      // is read; here it can only be a valid one or none.
      legacyNames(std::make_unique<platform::CodePageDecoder>(
          zipCodePageFromEnvironment().value_or(platform::defaultLegacyCodePage()))) {
  state->engine = loadSevenZipEngine();
}

ZipArchive::~ZipArchive() = default;

bool ZipArchive::SetZipFilePath(const std::u16string& path) {
  Logger& logger = Logger::GetInstance();
  // A second call starts over: lookups must not find the first file's
  // entries in the second file.
  itemsByNameHash.clear();
  indexed = false;
  state->selectedIndex = ZipArchiveState::kNoSelection;
  ComPtr<IInArchive> archive;
  if (state->engine.createObject == nullptr ||
      state->engine.createObject(&CLSID_ZipFormat, &IID_IInArchive,
                                 reinterpret_cast<void**>(archive.receive())) != S_OK ||
      !archive) {
    logger << "failed to create archive object";
    return false;
  }
  askForStoredNameBytes(*archive.get());
  state->inArchive = std::move(archive);
  state->inStream = makeEngineObject<FileInStream>(path);
  if (!state->inStream->OpenFile()) {
    logger << "failed to open file";
    return false;
  }
  const auto openCallback = makeEngineObject<ArchiveOpenCallback>();
  if (state->inArchive->Open(state->inStream.get(), nullptr, openCallback.get()) != S_OK) {
    logger << "failed to open archive";
    return false;
  }
  return true;
}

bool ZipArchive::readEntry(std::uint32_t index, ZipEntry& entry) {
  return ItemReader(*state, legacyNames.get()).Read(index, entry);
}

std::uint64_t ZipArchive::EntryCount() const {
  std::uint32_t count = 0;
  if (state->inArchive) state->inArchive->GetNumberOfItems(&count);
  return count;
}

bool ZipArchive::ForEachEntry(const std::function<bool(const ZipEntry&)>& visit) {
  if (!state->inArchive) return false;
  std::uint32_t count = 0;
  state->inArchive->GetNumberOfItems(&count);
  ItemReader reader(*state, legacyNames.get());
  ZipEntry entry;  // its name's storage serves every item
  for (std::uint32_t index = 0; index < count; ++index) {
    if (!reader.Read(index, entry)) return false;
    if (!visit(entry)) break;
  }
  return true;
}

bool ZipArchive::GetZipEntryList(std::vector<ZipEntry>& list) {
  return ForEachEntry([&](const ZipEntry& entry) {
    list.push_back(entry);
    return true;
  });
}

namespace {
std::uint64_t hashOfName(std::string_view name) { return std::hash<std::string_view>{}(name); }
}  // namespace

void ZipArchive::indexEntries() {
  indexed = true;
  std::uint32_t count = 0;
  if (state->inArchive) state->inArchive->GetNumberOfItems(&count);
  itemsByNameHash.reserve(count);
  ForEachEntry([&](const ZipEntry& entry) {
    itemsByNameHash.emplace_back(hashOfName(entry.name), static_cast<std::uint32_t>(entry.index));
    return true;
  });
  std::sort(itemsByNameHash.begin(), itemsByNameHash.end());
}

bool ZipArchive::GetZipEntry(const std::string& name, ZipEntry& entry) {
  if (!indexed) indexEntries();
  const std::uint64_t hash = hashOfName(name);
  auto candidate = std::upper_bound(itemsByNameHash.begin(), itemsByNameHash.end(),
                                    std::pair{hash, std::numeric_limits<std::uint32_t>::max()});
  // The last item of a name is the one found: candidates from the last on.
  while (candidate != itemsByNameHash.begin() && (--candidate)->first == hash) {
    if (readEntry(candidate->second, entry) && entry.name == name) return true;
  }
  Logger::GetInstance() << "specified name " << name << " not found in zip entry list\n";
  return false;
}

bool ZipArchive::GetZipContentData(std::uint64_t index, void* buffer, std::size_t capacity,
                                   std::uint64_t& byteCount) {
  byteCount = 0;
  if (!state->inArchive) return false;
  const auto stream = makeEngineObject<SequentialOutStreamBufferWriter>(buffer, capacity, &byteCount);
  state->selectedIndex = static_cast<std::uint32_t>(index);
  // The listing takes whatever bytes arrived: the engine's verdict on the
  // rest of the item does not matter here. The first bytes of a deflated
  // entry need its first block's tables and a few symbols: the engine is
  // fed in small answers, so that it does not read the whole packed entry.
  std::int32_t ignoredVerdict = 0;
  state->inStream->SetLargestAnswer(kStartOfEntryRead);
  const HRESULT result = extractSelectedItem(*state, stream, ignoredVerdict);
  state->inStream->SetLargestAnswer(0);
  const bool stoppedByStream = result == E_ABORT && stream->StoppedWhenFull();
  if (result != S_OK && !stoppedByStream) {
    Logger::GetInstance() << "extract failed\n";
    return false;
  }
  return true;
}

}  // namespace RazaDedeZuzev
