#include "zip/ZipArchive.h"

#include <algorithm>
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

// A directory's name ends in `/`, whatever separator the archive used.
template <typename Text>
Text normalisedEntryPath(Text path, bool isDirectory) {
  std::replace(path.begin(), path.end(), static_cast<typename Text::value_type>('\\'),
               static_cast<typename Text::value_type>('/'));
  if (isDirectory && !path.empty() && path.back() != '/') path.push_back('/');
  return path;
}

bool beyondAscii(const std::string& name) {
  return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Gives the entries from `first` on the names their archive meant, where
// they carry no UTF-8 mark (EntryNames.h). The program reads the central
// directory itself for the stored bytes; where that directory does not
// match the engine's items one for one (count, sizes), the engine's names
// stand.
void applyNameRule(SevenZipArchiveImpl::FileInStream& stream, std::vector<ZipEntry>& list, std::size_t first) {
  const std::uint32_t codePage = zipCodePageFromEnvironment().value_or(platform::defaultLegacyCodePage());
  platform::CodePageDecoder decoder(codePage);
  const auto decode = [&](std::string_view bytes, std::string& utf8) { return decoder.Decode(bytes, utf8); };
  std::vector<std::pair<std::size_t, std::string>> renamed;
  std::size_t next = first;
  const auto visit = [&](const StoredEntry& stored) {
    if (next == list.size()) return false;
    const ZipEntry& entry = list[next];
    if (stored.size != entry.size || stored.packedSize != entry.packedSize) return false;
    if (needsNameRule(stored)) {
      const bool isDirectory = !entry.name.empty() && entry.name.back() == '/';
      renamed.emplace_back(next, normalisedEntryPath(nameByRule(stored, decode), isDirectory));
    }
    ++next;
    return true;
  };
  const ArchiveReader read = [&](std::uint64_t offset, std::size_t size, char* buffer) {
    return stream.ReadAt(offset, size, buffer);
  };
  std::uint64_t fileSize = 0;
  if (!stream.GetFileSize(fileSize) || !readCentralDirectory(read, fileSize, visit) || next != list.size()) return;
  for (auto& [index, name] : renamed) list[index].name = std::move(name);
}

// Reads the properties of one item in the order the engine is asked for
// them. False when one of them has a type the engine does not promise.
class ItemReader {
 public:
  explicit ItemReader(ZipArchiveState& state) : state(state) {}
  ItemReader(const ItemReader&) = delete;
  ItemReader& operator=(const ItemReader&) = delete;
  ~ItemReader() { clearValue(state.engine, value); }

  bool Read(std::uint32_t index, ZipEntry& entry) {
    bool isDirectory = false;
    std::uint64_t attributes = 0;
    std::u16string method;
    std::u16string path;
    if (!readProperty(index, kpidIsDir, readBoolValue, isDirectory) ||
        !readProperty(index, kpidAttrib, readUnsignedValue, attributes) ||
        !readProperty(index, kpidMethod, readTextValue, method) ||
        !readProperty(index, kpidSize, readUnsignedValue, entry.size) ||
        !readProperty(index, kpidPackSize, readUnsignedValue, entry.packedSize) ||
        !readProperty(index, kpidPath, readTextValue, path)) {
      return false;
    }
    entry.isHidden = (attributes & kHiddenAttribute) != 0;
    entry.isEncrypted = namesEncryptionMethod(method);
    entry.name = toUtf8(normalisedEntryPath(std::move(path), isDirectory));
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
  PROPVARIANT value{};
};

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
  if (ItemReader(state).IsEncrypted(state.selectedIndex)) {
    operationResult = kOperationWrongPassword;
    reportItemVerdict(operationResult);
    return S_OK;
  }

  const auto callback = makeEngineObject<ArchiveExtractCallback>(std::move(stream), &operationResult);
  const std::uint32_t indices[] = {state.selectedIndex};
  return state.inArchive->Extract(indices, 1, 0, callback.get());
}

ZipArchive::ZipArchive() : state(std::make_unique<ZipArchiveState>()) {
  state->engine = loadSevenZipEngine();
}

ZipArchive::~ZipArchive() = default;

bool ZipArchive::SetZipFilePath(const std::u16string& path) {
  Logger& logger = Logger::GetInstance();
  // A second call starts over: lookups must not find the first file's
  // entries in the second file.
  entriesByName.clear();
  state->selectedIndex = ZipArchiveState::kNoSelection;
  ComPtr<IInArchive> archive;
  if (state->engine.createObject == nullptr ||
      state->engine.createObject(&CLSID_ZipFormat, &IID_IInArchive,
                                 reinterpret_cast<void**>(archive.receive())) != S_OK ||
      !archive) {
    logger << "failed to create archive object";
    return false;
  }
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

bool ZipArchive::GetZipEntryList(std::vector<ZipEntry>& list) {
  if (!state->inArchive) return false;
  std::uint32_t count = 0;
  state->inArchive->GetNumberOfItems(&count);
  list.reserve(list.size() + count);
  const std::size_t first = list.size();
  ItemReader reader(*state);
  for (std::uint32_t index = 0; index < count; ++index) {
    ZipEntry entry;
    if (!reader.Read(index, entry)) return false;
    list.push_back(std::move(entry));
  }
  // Names of plain ASCII read alike in every code page: only an archive
  // with others is read again for its stored names.
  if (std::any_of(list.begin() + static_cast<std::ptrdiff_t>(first), list.end(),
                  [](const ZipEntry& entry) { return beyondAscii(entry.name); })) {
    applyNameRule(*state->inStream.get(), list, first);
  }
  return true;
}

bool ZipArchive::GetZipEntry(const std::string& name, ZipEntry& entry) {
  if (entriesByName.empty()) {
    std::vector<ZipEntry> list;
    GetZipEntryList(list);
    // A later item of the same name replaces an earlier one.
    for (ZipEntry& listed : list) entriesByName.insert_or_assign(listed.name, std::move(listed));
  }
  const auto found = entriesByName.find(name);
  if (found == entriesByName.end()) {
    Logger::GetInstance() << "specified name " << name << " not found in zip entry list\n";
    return false;
  }
  entry = found->second;
  return true;
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
