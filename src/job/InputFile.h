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
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  virtual ~InputFile() = default;

  // Opens the job file (waiting while it cannot be opened, as long as the
  // retry limit allows) and reads every line. False after a message.
  bool Load(const std::u16string& path);

  // Declares the next column: the first declared name is field 1.
  void AddColumn(const std::string& name);
  std::uint64_t GetRowCount() const { return rows.size(); }
  // A copy of the cell; empty, after a message, for a bad record or column.
  std::string GetCell(std::uint64_t row, const std::string& column) const;

  // A declared column, looked up once for a loop over many records.
  struct Column {
    std::string name;
    std::uint64_t index = 0;  // 0: not declared
  };
  Column FindColumn(const std::string& name) const;
  // GetCell without the copy: a view into the loaded job, with the same
  // messages for a bad record or column.
  std::string_view GetCellView(std::uint64_t row, const Column& column) const;
  // A record's fields split once, for reading several of its cells.
  struct Fields {
    static constexpr std::size_t kMost = 16;
    std::uint64_t row = 0;
    std::string_view field[kMost];
    std::size_t count = 0;
  };
  void SplitRecord(std::uint64_t row, Fields& fields) const;
  // GetCellView on a split record: the same cell, the same messages.
  std::string_view GetCellView(const Fields& fields, const Column& column) const;
  // The value of a parameter; a missing key reads as empty text.
  const std::string& GetParameter(const std::string& key);

  // The fields of a record, field 0 ("file") included.
  std::vector<std::string_view> GetRowFields(std::uint64_t row) const;

 private:
  enum class LineResult { Stored, TooFewFields, BadLine };
  LineResult storeLine(std::string_view text);
  bool readLines(platform::FileHandle file);
  std::string_view keepRowText(std::string_view text);

  std::map<std::string, std::string> parameters;
  std::map<std::string, std::uint64_t> columnIndexes;
  // Records are kept as their line texts, back to back in blocks that never
  // move, and split into fields when read: a line holds at most 1023 bytes,
  // and a job of a million records costs little more memory than its text,
  // whatever size the file claims.
  std::vector<std::unique_ptr<char[]>> rowBlocks;
  std::size_t blockUsed = 0;
  std::vector<std::string_view> rows;
};

// Field `index` of a line, or nothing when the line has fewer fields.
std::optional<std::string_view> fieldAt(std::string_view line, std::size_t index);

// Splits a line into fields at every tab; an empty last piece is no field.
std::vector<std::string_view> splitFields(std::string_view line);

// The retry limit in seconds, from the value of the environment variable
// (absent: 20; negative: without limit in practice).
std::int64_t retryLimitFromEnvironmentValue(const char* value);

}  // namespace RazaDedeZuzev
