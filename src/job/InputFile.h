#pragma once

// The loaded job file: its records (lines whose first field is "file") and its
// key/value parameters, and access to cells by record number and by the
// column names that a mode declares.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace RazaDedeZuzev {

class InputFile {
 public:
  InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  virtual ~InputFile();

  // Opens the job file (waiting while it cannot be opened, as long as the
  // retry limit allows) and reads every line. False after a message.
  bool Load(const std::u16string& path);

  // Declares the next column: the first declared name is field 1.
  void AddColumn(const std::string& name);
  std::uint64_t GetRowCount() const;
  // A copy of the cell; empty, after a message, for a bad record or column.
  std::string GetCell(std::uint64_t row, const std::string& column) const;

  // A declared column, looked up once for a loop over many records.
  struct Column {
    std::string name;
    std::uint64_t index = 0;  // 0: not declared
  };
  Column FindColumn(const std::string& name) const;
  // A record's fields split once, for reading several of its cells. Its
  // views stay valid as long as it does, whatever other records are read
  // meanwhile, on any thread.
  struct Fields {
    static constexpr std::size_t kMost = 16;
    std::uint64_t row = 0;
    std::string_view line;  // the whole record
    std::string_view field[kMost];
    std::size_t count = 0;
    std::shared_ptr<const void> keeps;  // the text the views are into
  };
  void SplitRecord(std::uint64_t row, Fields& fields) const;
  // A cell of a split record, without a copy; empty, after the messages of
  // GetCell, for a bad record or column.
  std::string_view GetCellView(const Fields& fields, const Column& column) const;
  // The value of a parameter; a missing key reads as empty text.
  const std::string& GetParameter(const std::string& key);

  // The records are held in blocks of this many; a job of more than
  // kBlocksHeld blocks is read again, a block at a time, as its records are
  // asked for, so that memory follows the records in use, not the job.
  static constexpr std::size_t kRecordsPerBlock = 1024;
  static constexpr std::size_t kBlocksHeld = 16;

 private:
  struct Records;
  bool readLines(platform::UniqueFile& file, const std::u16string& path);

  std::map<std::string, std::string> parameters;
  std::map<std::string, std::uint64_t> columnIndexes;
  std::unique_ptr<Records> records;
};

// Field `index` of a line, or nothing when the line has fewer fields.
std::optional<std::string_view> fieldAt(std::string_view line, std::size_t index);

// The retry limit in seconds, from the value of the environment variable
// (absent: 20; negative: without limit in practice).
std::int64_t retryLimitFromEnvironmentValue(const char* value);

}  // namespace RazaDedeZuzev
