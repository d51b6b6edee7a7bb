#include "job/InputFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

#include "base/Logger.h"
#include "base/TextEncoding.h"
#include "job/LineReader.h"
#include "platform/System.h"

namespace RazaDedeZuzev {
namespace {

constexpr const char* kRetryVariable = "NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION";
constexpr std::int64_t kDefaultRetryLimit = 20;
constexpr std::int64_t kUnlimited = std::numeric_limits<std::int32_t>::max();

// The line's text: up to its first NUL, without its LF and a CR right before it.
std::string_view cutLineEnd(std::string_view piece) {
  const std::size_t nul = piece.find('\0');
  if (nul != std::string_view::npos) piece = piece.substr(0, nul);
  if (!piece.empty() && piece.back() == '\n') {
    piece.remove_suffix(1);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
  }
  return piece;
}

// The position of the first tab from `start`, or the line's size: eight
// bytes at a time, as fields are short and a library search per tab costs
// more than the search itself.
std::size_t findTab(std::string_view line, std::size_t start) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kTabs = kOnes * '\t';
  std::size_t i = start;
  for (; i + 8 <= line.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, line.data() + i, sizeof word);
    const std::uint64_t tabs = word ^ kTabs;  // a zero byte where a tab was
    if (((tabs - kOnes) & ~tabs & (kOnes << 7)) != 0) break;
  }
  while (i < line.size() && line[i] != '\t') ++i;
  return i;
}

std::size_t countFields(std::string_view line) {
  if (line.empty()) return 0;
  // A plain loop: fields are short, and a library search per tab costs more.
  std::size_t tabs = 0;
  for (const char c : line) tabs += c == '\t' ? 1 : 0;
  return line.back() == '\t' ? tabs : tabs + 1;
}

// Only a regular file is a job file: a directory, a pipe or a device is
// taken for a job file that cannot be opened (yet).
bool openWithRetry(const std::u16string& path, platform::UniqueFile& file) {
  bool opened = !platform::openFileForRead(path, file);
  // Waits of 1, 2, 4, ... seconds, each shorter than the limit. The wait is
  // 64-bit and only doubles while below a 32-bit limit, so nothing overflows.
  std::int64_t waitSeconds = 1;
  while (!opened) {
    const auto value = platform::getEnvironmentVariable(kRetryVariable);
    const std::int64_t limit = retryLimitFromEnvironmentValue(value ? value->c_str() : nullptr);
    if (waitSeconds >= limit) break;
    platform::sleepMilliseconds(static_cast<std::uint64_t>(waitSeconds) * 1000);
    opened = !platform::openFileForRead(path, file);
    waitSeconds *= 2;
  }
  return opened;
}

}  // namespace

std::int64_t retryLimitFromEnvironmentValue(const char* value) {
  if (value == nullptr) return kDefaultRetryLimit;
  // atoi's reading: blanks, an optional sign, digits up to the first other
  // character; saturated to the 32-bit range instead of overflowing.
  const char* p = value;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::int64_t magnitude = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    magnitude = std::min<std::int64_t>(magnitude * 10 + (*p - '0'), kUnlimited + 1);
    ++p;
  }
  if (negative) return magnitude == 0 ? 0 : kUnlimited;
  return std::min(magnitude, kUnlimited);
}

std::optional<std::string_view> fieldAt(std::string_view line, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t skipped = 0; skipped < index; ++skipped) {
    const std::size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) return std::nullopt;
    start = tab + 1;
  }
  const std::size_t end = line.find('\t', start);
  if (end == std::string_view::npos) {
    // The piece after the last tab is a field only when it is not empty.
    if (start == line.size()) return std::nullopt;
    return line.substr(start);
  }
  return line.substr(start, end - start);
}

namespace {

enum class LineKind { Record, Parameter, TooFewFields, BadLine };

// What a line is; for a parameter, its key and value.
LineKind classifyLine(std::string_view text, std::string_view& key, std::string_view& value) {
  // Most lines are records: "file", a tab and more is one of at least two
  // fields, without counting them.
  if (text.size() > 5 && text.starts_with("file\t")) return LineKind::Record;
  const std::size_t fieldCount = countFields(text);
  if (fieldCount < 2) return LineKind::TooFewFields;
  const std::size_t firstTab = text.find('\t');
  key = text.substr(0, firstTab);
  if (key == "file") return LineKind::Record;
  if (fieldCount != 2) return LineKind::BadLine;
  value = text.substr(firstTab + 1);
  if (!value.empty() && value.back() == '\t') value.remove_suffix(1);
  return LineKind::Parameter;
}

// The line texts of up to kRecordsPerBlock records, back to back.
struct RecordBlock {
  std::string text;
  std::vector<std::uint32_t> ends;  // where each line ends in `text`

  void Append(std::string_view line) {
    text.append(line);
    ends.push_back(static_cast<std::uint32_t>(text.size()));
  }
  std::size_t Lines() const { return ends.size(); }
  std::string_view Line(std::size_t i) const {
    const std::uint32_t start = i == 0 ? 0 : ends[i - 1];
    return std::string_view(text).substr(start, ends[i] - start);
  }
};

}  // namespace

// The records of a job. A job of up to kBlocksHeld blocks stays in memory
// whole, as it was read. A larger one is read a second time, from its start,
// a block at a time, as its records are asked for: the modes ask for them in
// order, a few blocks ahead at most, so memory holds the last kBlocksHeld
// blocks and the job file is read twice. A block asked for again after it
// was let go costs a new reading from the start.
struct InputFile::Records {
  std::uint64_t count = 0;
  std::vector<std::shared_ptr<const RecordBlock>> whole;
  std::shared_ptr<RecordBlock> filling;
  bool streamed = false;

  // The first reading: every record line, in order.
  void Add(std::string_view line) {
    ++count;
    if (streamed) return;
    if (!filling) filling = std::make_shared<RecordBlock>();
    filling->Append(line);
    if (filling->Lines() < kRecordsPerBlock) return;
    whole.push_back(std::move(filling));
    if (whole.size() > kBlocksHeld) {
      streamed = true;
      whole.clear();
    }
  }
  void Finish(platform::UniqueFile& jobFile, const std::u16string& jobPath) {
    if (streamed) {
      file = std::move(jobFile);
      path = jobPath;
    } else if (filling) {
      whole.push_back(std::move(filling));
    }
  }

  // The block that holds `row`, or null (after a message) where a job read
  // again no longer holds it.
  std::shared_ptr<const RecordBlock> BlockOf(std::uint64_t row) {
    const std::uint64_t block = row / kRecordsPerBlock;
    if (!streamed) return block < whole.size() ? whole[block] : nullptr;
    const std::lock_guard lock(mutex);
    if (const auto found = held.find(block); found != held.end()) return found->second;
    if (block < nextBlock || !reader) startOver();
    while (reader && nextBlock <= block) readNextBlock();
    const auto found = held.find(block);
    if (found != held.end() && row % kRecordsPerBlock < found->second->Lines()) return found->second;
    if (!changeReported) {
      Logger::GetInstance() << "input file changed while it was read: " << asUtf8(path) << "\n";
      changeReported = true;
    }
    return nullptr;
  }

 private:
  void startOver() {
    std::uint64_t position = 0;
    reader.reset();
    nextBlock = 0;
    held.clear();
    if (!platform::seekFile(file.get(), 0, platform::SeekOrigin::Begin, position)) {
      reader = std::make_unique<LineReader>(file.get());
    }
  }
  // Reads the next block's records; the reader ends where the file ends, or
  // where a line no longer is what it was at the first reading.
  void readNextBlock() {
    auto next = std::make_shared<RecordBlock>();
    std::string_view key, value;
    while (next->Lines() < kRecordsPerBlock) {
      if (!reader->NextPiece(piece)) {
        reader.reset();
        break;
      }
      const std::string_view text = cutLineEnd(piece);
      const LineKind kind = classifyLine(text, key, value);
      if (kind == LineKind::Record) {
        next->Append(text);
      } else if (kind != LineKind::Parameter) {
        reader.reset();
        break;
      }
    }
    held.emplace(nextBlock++, std::move(next));
    while (held.size() > kBlocksHeld) held.erase(held.begin());
  }

  platform::UniqueFile file;
  std::u16string path;
  std::mutex mutex;
  std::unique_ptr<LineReader> reader;
  std::string piece;
  std::uint64_t nextBlock = 0;  // the block the reader reads next
  std::map<std::uint64_t, std::shared_ptr<const RecordBlock>> held;
  bool changeReported = false;
};

InputFile::InputFile() : records(std::make_unique<Records>()) {}
InputFile::~InputFile() = default;

std::uint64_t InputFile::GetRowCount() const { return records->count; }

bool InputFile::readLines(platform::UniqueFile& file, const std::u16string& path) {
  LineReader reader(file.get());
  std::string piece;
  std::string_view key, value;
  const char* formatError = nullptr;
  while (formatError == nullptr && reader.NextPiece(piece)) {
    const std::string_view text = cutLineEnd(piece);
    switch (classifyLine(text, key, value)) {
      case LineKind::Record:
        records->Add(text);
        break;
      case LineKind::Parameter:
        parameters.insert_or_assign(std::string(key), std::string(value));
        break;
      case LineKind::TooFewFields:
        formatError = "input file format error, # of column must be > 2";
        break;
      case LineKind::BadLine:
        formatError = "input file format error";
        break;
    }
  }
  // The records before a format error stay, as they were read.
  records->Finish(file, path);
  if (formatError == nullptr) return true;
  Logger::GetInstance() << formatError;
  return false;
}

bool InputFile::Load(const std::u16string& path) {
  platform::UniqueFile file;
  if (!openWithRetry(path, file)) {
    Logger::GetInstance() << "failed to open input file: " << asUtf8(path) << "\n";
    return false;
  }
  return readLines(file, path);
}

void InputFile::AddColumn(const std::string& name) {
  const std::uint64_t index = columnIndexes.size() + 1;
  columnIndexes.insert_or_assign(name, index);
}

InputFile::Column InputFile::FindColumn(const std::string& name) const {
  const auto found = columnIndexes.find(name);
  return {name, found == columnIndexes.end() ? 0 : found->second};
}

void InputFile::SplitRecord(std::uint64_t row, Fields& fields) const {
  fields.row = row;
  fields.count = 0;
  fields.line = {};
  fields.keeps.reset();
  if (row >= GetRowCount()) return;
  std::shared_ptr<const RecordBlock> block = records->BlockOf(row);
  if (!block) return;
  const std::string_view line = block->Line(static_cast<std::size_t>(row % kRecordsPerBlock));
  fields.line = line;
  fields.keeps = std::move(block);
  for (std::size_t start = 0; fields.count < Fields::kMost;) {
    const std::size_t tab = findTab(line, start);
    // The piece after the last tab is a field only when it is not empty.
    if (tab == line.size() && start == tab) break;
    fields.field[fields.count++] = line.substr(start, tab - start);
    if (tab == line.size()) break;
    start = tab + 1;
  }
}

std::string_view InputFile::GetCellView(const Fields& fields, const Column& column) const {
  if (column.index != 0 && column.index < fields.count) return fields.field[column.index];
  if (fields.row >= GetRowCount()) {
    Logger::GetInstance() << "invalid row given: " << fields.row << "\n";
    return {};
  }
  if (column.index == 0) {
    Logger::GetInstance() << "invalid column given: " << column.name << "\n";
    return {};
  }
  // Fields past the first kMost are found in the whole line.
  if (fields.count == Fields::kMost) {
    if (const std::optional<std::string_view> field = fieldAt(fields.line, column.index)) return *field;
  }
  Logger::GetInstance() << "invalid column index: " << column.name << "\n";
  return {};
}

std::string InputFile::GetCell(std::uint64_t row, const std::string& column) const {
  Fields fields;
  SplitRecord(row, fields);
  return std::string(GetCellView(fields, FindColumn(column)));
}

const std::string& InputFile::GetParameter(const std::string& key) {
  return parameters.try_emplace(key).first->second;
}

}  // namespace RazaDedeZuzev
