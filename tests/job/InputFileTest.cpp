// Reading job files: lines, fields, records and parameters, and the cells a
// mode reads by column name.

#include "job/InputFile.h"

#include <gtest/gtest.h>

#include "job/LineReader.h"
#include "support/TestSupport.h"

using namespace RazaDedeZuzev;
using testsupport::captureLog;
using Rows = std::vector<std::vector<std::string>>;

namespace {

// A job file loaded from `content`: its records, whether it loaded, and the messages.
struct Loaded {
  InputFile job;
  bool ok = false;
  std::string log;
  Rows rows;
  explicit Loaded(const std::string& content) {
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir / "job", content);
    log = captureLog([&] { ok = job.Load((dir / "job").u16string()); });
    for (std::uint64_t r = 0; r < job.GetRowCount(); ++r) {
      rows.emplace_back();
      InputFile::Fields fields;
      job.SplitRecord(r, fields);  // the program's own reading of a record
      rows.back().assign(fields.field, fields.field + fields.count);
    }
  }
};

}  // namespace

TEST(JobFile, SplitsLinesAtTabsIntoRecordsAndParameters) {
  const std::pair<std::string, Rows> cases[] = {
      {"file\ta\t\tb\nfile\ta\t\nfile\ta\t\t\n", {{"file", "a", "", "b"}, {"file", "a"}, {"file", "a", ""}}},
      {"k\tv\r\nfile\ta\tb\r\n", {{"file", "a", "b"}}},                         // CR LF as LF
      {"file\ta\rb\tc\r\nfile\td\r", {{"file", "a\rb", "c"}, {"file", "d\r"}}},  // a lone CR stays
      {std::string("file\ta\0ignored\tmore\nfile\tb\n", 27), {{"file", "a"}, {"file", "b"}}},
      {"file\t" + std::string(1017, 'x') + "\r\n", {{"file", std::string(1017, 'x')}}},
      // 1,023-byte pieces: the tail of a longer line is a line of its own.
      {"file\t" + std::string(1018, 'a') + "file\tb\n", {{"file", std::string(1018, 'a')}, {"file", "b"}}},
  };
  for (const auto& [content, rows] : cases) {
    const Loaded loaded(content);
    EXPECT_EQ(loaded.rows, rows) << content.substr(0, 40);
    EXPECT_TRUE(loaded.ok && loaded.log.empty()) << loaded.log;
  }
  Loaded parameters("key\tfirst\nempty\t\t\n\tnokey\nkey\tsecond\nFILE\tx\n\xEF\xBB\xBF" "file\ty\n");
  EXPECT_TRUE(parameters.rows.empty());
  // Only "file" starts a record, and a byte-order mark is no line end.
  for (const auto& [key, value] : {std::pair{"key", "second"}, {"empty", ""}, {"", "nokey"}, {"FILE", "x"},
                                   {"\xEF\xBB\xBF" "file", "y"}, {"no", ""}}) {
    EXPECT_EQ(parameters.job.GetParameter(key), value);
  }
}

TEST(JobFile, MalformedLinesFailWithoutLineEndKeepingEarlierRecords) {
  for (const std::string& content : std::vector<std::string>{"file\ta\n\n", "file\tx\nfile\t\n", "key\t\n",
                                                             "single\n", "file\t" + std::string(1018, 'x') + "\n"}) {
    const Loaded loaded(content);
    EXPECT_EQ(std::to_string(loaded.ok) + loaded.log, "0input file format error, # of column must be > 2") << content;
  }
  const Loaded loaded("file\tkept\nkey\ta\tb\nfile\tnever\n");
  EXPECT_EQ(loaded.rows, (Rows{{"file", "kept"}}));
  EXPECT_EQ(std::to_string(loaded.ok) + loaded.log, "0input file format error");
}

TEST(JobFile, CrLfSplitAcrossReadChunksIsStillOneLineEnd) {
  testsupport::ScratchDir dir;
  std::string content;
  while (content.size() < 65535 - 20) content += "file\t0123456789\n";
  content += std::string(65535 - content.size(), 'z') + "\r\nfile\tend\n";  // CR ends a chunk
  testsupport::writeFile(dir / "job", content);
  platform::UniqueFile file;
  ASSERT_FALSE(platform::openFileForRead((dir / "job").u16string(), file));
  LineReader reader(file.get());
  std::string piece, last, beforeLast;
  while (reader.NextPiece(piece)) beforeLast = std::exchange(last, piece);
  EXPECT_EQ(last, "file\tend\n");
  EXPECT_EQ(beforeLast.find('\r'), std::string::npos);
}

TEST(JobCells, ColumnsAreNamedInDeclarationOrderAndBadAccessIsReported) {
  Loaded loaded("file\tA\tB\t\nfile\tC\t\n");
  InputFile& job = loaded.job;
  job.AddColumn("uuid");
  job.AddColumn("file_name");
  const std::string log = captureLog([&] {
    EXPECT_EQ(job.GetCell(0, "uuid"), "A");
    EXPECT_EQ(job.GetCell(0, "file_name"), "B");
    for (const auto& [row, column] : {std::pair{1, "file_name"}, {0, "UUID"}, {2, "uuid"}}) {
      EXPECT_EQ(job.GetCell(row, column), "");
    }
  });
  EXPECT_EQ(log, "invalid column index: file_name\ninvalid column given: UUID\ninvalid row given: 2\n");
}

// A job too large to hold is read again as its records are asked for: the
// records are the ones of the first reading, in any order of asking, and a
// file changed in between is said to be.
TEST(JobFile, ALargeJobReadAgainGivesTheSameRecords) {
  testsupport::ScratchDir dir;
  const std::size_t count = (InputFile::kBlocksHeld + 4) * InputFile::kRecordsPerBlock;
  std::string content;
  for (std::size_t n = 0; n < count; ++n) {
    if (n % 5000 == 7) content += "file\t" + std::string(1018, 'L');  // 1,023 bytes: a piece of its own
    content += "file\t" + std::to_string(n) + "\r\n";
    if (n % 3000 == 0) content += "key" + std::to_string(n) + "\tvalue\n";  // parameters between records
  }
  testsupport::writeFile(dir / "job", content);
  InputFile job;
  ASSERT_TRUE(job.Load((dir / "job").u16string()));
  job.AddColumn("n");
  // A line of over 1,022 bytes reads as pieces: here, two records.
  const std::size_t records = count + count / 5000 + 1;
  ASSERT_EQ(job.GetRowCount(), records);
  EXPECT_EQ(job.GetParameter("key18000"), "value");
  const std::string log = captureLog([&] {
    const std::pair<std::uint64_t, std::string> cells[] = {
        {0, "0"}, {7, std::string(1018, 'L')}, {8, "7"}, {records - 1, std::to_string(count - 1)}, {1, "1"}};
    for (const auto& [row, cell] : cells) EXPECT_EQ(job.GetCell(row, "n"), cell) << row;
    InputFile::Fields held;
    job.SplitRecord(2, held);
    for (std::uint64_t row = 3; row < records; ++row) job.GetCell(row, "n");  // every block, in turn
    EXPECT_EQ(job.GetCellView(held, job.FindColumn("n")), "2");  // still there
  });
  EXPECT_EQ(log, "");
  std::filesystem::resize_file(dir / "job", content.size() / 2);
  EXPECT_EQ(captureLog([&] { EXPECT_EQ(job.GetCell(0, "n"), "0"); EXPECT_EQ(job.GetCell(records - 1, "n"), ""); }),
            "input file changed while it was read: " + (dir / "job").string() + "\ninvalid column index: n\n");
}

TEST(RetryLimit, ReadsTheVariableAsAtoiWouldWithoutOverflow) {
  const std::pair<const char*, std::int64_t> cases[] = {{nullptr, 20}, {"abc", 0},          {"  +7x", 7},
                                                        {"-5", 2147483647}, {"-0", 0}, {"99999999999999999999999", 2147483647}};
  for (const auto& [value, limit] : cases) EXPECT_EQ(retryLimitFromEnvironmentValue(value), limit);
}
