#include "job/InputFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "base/Logger.h"
#include "base/TextEncoding.h"
#include "job/LineReader.h"
#include "platform/System.h"

namespace RazaDedeZuzev {
namespace {

constexpr const char* kRetryVariable = "NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION";
constexpr std::int64_t kDefaultRetryLimit = 20;
constexpr std::int64_t kUnlimited = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t kRowBlockSize = 1 << 20;

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

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) break;
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  if (start < line.size()) fields.push_back(line.substr(start));
  return fields;
}

InputFile::LineResult InputFile::storeLine(std::string_view text) {
  // Most lines are records: "file", a tab and more is one of at least two
  // fields, without counting them.
  if (text.size() > 5 && text.starts_with("file\t")) {
    rows.push_back(keepRowText(text));
    return LineResult::Stored;
  }
  const std::size_t fieldCount = countFields(text);
  if (fieldCount < 2) return LineResult::TooFewFields;
  const std::size_t firstTab = text.find('\t');
  const std::string_view first = text.substr(0, firstTab);
  if (first == "file") {
    rows.push_back(keepRowText(text));
    return LineResult::Stored;
  }
  if (fieldCount == 2) {
    std::string_view value = text.substr(firstTab + 1);
    if (!value.empty() && value.back() == '\t') value.remove_suffix(1);
    parameters.insert_or_assign(std::string(first), std::string(value));
    return LineResult::Stored;
  }
  return LineResult::BadLine;
}

std::string_view InputFile::keepRowText(std::string_view text) {
  if (rowBlocks.empty() || kRowBlockSize - blockUsed < text.size()) {
    rowBlocks.push_back(std::make_unique_for_overwrite<char[]>(kRowBlockSize));
    blockUsed = 0;
  }
  char* kept = rowBlocks.back().get() + blockUsed;
  std::memcpy(kept, text.data(), text.size());
  blockUsed += text.size();
  return {kept, text.size()};
}

bool InputFile::readLines(platform::FileHandle file) {
  LineReader reader(file);
  std::string piece;
  while (reader.NextPiece(piece)) {
    switch (storeLine(cutLineEnd(piece))) {
      case LineResult::Stored:
        break;
      case LineResult::TooFewFields:
        Logger::GetInstance() << "input file format error, # of column must be > 2";
        return false;
      case LineResult::BadLine:
        Logger::GetInstance() << "input file format error";
        return false;
    }
  }
  return true;
}

bool InputFile::Load(const std::u16string& path) {
  platform::UniqueFile file;
  if (!openWithRetry(path, file)) {
    Logger::GetInstance() << "failed to open input file: " << asUtf8(path) << "\n";
    return false;
  }
  return readLines(file.get());
}

void InputFile::AddColumn(const std::string& name) {
  const std::uint64_t index = columnIndexes.size() + 1;
  columnIndexes.insert_or_assign(name, index);
}

std::vector<std::string_view> InputFile::GetRowFields(std::uint64_t row) const {
  return splitFields(rows[row]);
}

InputFile::Column InputFile::FindColumn(const std::string& name) const {
  const auto found = columnIndexes.find(name);
  return {name, found == columnIndexes.end() ? 0 : found->second};
}

std::string_view InputFile::GetCellView(std::uint64_t row, const Column& column) const {
  if (row >= GetRowCount()) {
    Logger::GetInstance() << "invalid row given: " << row << "\n";
    return {};
  }
  if (column.index == 0) {
    Logger::GetInstance() << "invalid column given: " << column.name << "\n";
    return {};
  }
  const std::optional<std::string_view> field = fieldAt(rows[row], column.index);
  if (!field) {
    Logger::GetInstance() << "invalid column index: " << column.name << "\n";
    return {};
  }
  return *field;
}

void InputFile::SplitRecord(std::uint64_t row, Fields& fields) const {
  fields.row = row;
  fields.count = 0;
  if (row >= GetRowCount()) return;
  const std::string_view line = rows[row];
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
  return GetCellView(fields.row, column);  // the slow way, with its message
}

std::string InputFile::GetCell(std::uint64_t row, const std::string& column) const {
  return std::string(GetCellView(row, FindColumn(column)));
}

const std::string& InputFile::GetParameter(const std::string& key) {
  return parameters.try_emplace(key).first->second;
}

}  // namespace RazaDedeZuzev
