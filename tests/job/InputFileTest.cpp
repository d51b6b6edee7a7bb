// Reading job files: lines, fields, records and parameters, and the cells a
// mode reads by column name.

#include "job/InputFile.h"

#include <gtest/gtest.h>

#include "job/LineReader.h"
#include "support/LogCapture.h"

using namespace RazaDedeZuzev;
using testsupport::captureLog;
using testsupport::ScratchDir;
using Rows = std::vector<std::vector<std::string>>;

namespace {

struct Loaded {
  bool ok = false;
  std::string log;
  Rows rows;
};

Loaded load(const std::string& content, InputFile& job) {
  ScratchDir dir;
  testsupport::writeFile(dir / "job", content);
  Loaded result;
  result.log = captureLog([&] { result.ok = job.Load((dir / "job").u16string()); });
  for (std::uint64_t r = 0; r < job.GetRowCount(); ++r) {
    result.rows.emplace_back();
    for (std::string_view f : job.GetRowFields(r)) result.rows.back().emplace_back(f);
  }
  return result;
}

Loaded load(const std::string& content) {
  InputFile job;
  return load(content, job);
}

const std::string kTooFew = "input file format error, # of column must be > 2";

}  // namespace

TEST(JobFile, SplitsLinesAtTabsAndDropsOnlyAnEmptyLastPiece) {
  struct Case {
    std::string content;
    Rows rows;
  };
  const Case cases[] = {
      {"file\ta\t\tb\nfile\ta\t\nfile\ta\t\t\n", {{"file", "a", "", "b"}, {"file", "a"}, {"file", "a", ""}}},
      {"k\tv\r\nfile\ta\tb\r\n", {{"file", "a", "b"}}},                     // CR LF as LF
      {"file\ta\rb\tc\r\nfile\td\r", {{"file", "a\rb", "c"}, {"file", "d\r"}}},  // a lone CR stays
      {std::string("file\ta\0ignored\tmore\nfile\tb\n", 27), {{"file", "a"}, {"file", "b"}}},
      {"\xEF\xBB\xBF" "file\tx\n", {}},  // no byte-order mark: a parameter
      {"file\t" + std::string(1017, 'x') + "\r\n", {{"file", std::string(1017, 'x')}}},
      // 1,023-byte pieces: the tail of a long line is a line of its own.
      {"file\t" + std::string(1018, 'a') + "file\tb\n", {{"file", std::string(1018, 'a')}, {"file", "b"}}},
  };
  for (const Case& c : cases) {
    const Loaded loaded = load(c.content);
    EXPECT_TRUE(loaded.ok) << loaded.log;
    EXPECT_EQ(loaded.rows, c.rows) << c.content.substr(0, 40);
    EXPECT_EQ(loaded.log, "");
  }
}

TEST(JobFile, KeyValueLinesSetParametersAndTheLastOneWins) {
  InputFile job;
  ASSERT_TRUE(load("key\tfirst\nempty\t\t\n\tnokey\nkey\tsecond\nFILE\tx\n", job).ok);
  EXPECT_EQ(job.GetParameter("key"), "second");
  EXPECT_EQ(job.GetParameter("empty"), "");
  EXPECT_EQ(job.GetParameter(""), "nokey");
  EXPECT_EQ(job.GetParameter("FILE"), "x");  // only "file" starts a record
  EXPECT_EQ(job.GetParameter("absent"), "");
  EXPECT_EQ(job.GetRowCount(), 0u);
}

TEST(JobFile, MalformedLinesFailWithoutLineEndKeepingEarlierRecords) {
  for (const std::string& content : std::vector<std::string>{"file\ta\n\n", "file\tx\nfile\t\n", "key\t\n", "single\n",
                                    "file\t" + std::string(1018, 'x') + "\n"}) {
    const Loaded loaded = load(content);
    EXPECT_FALSE(loaded.ok) << content;
    EXPECT_EQ(loaded.log, kTooFew) << content;
  }
  const Loaded bad = load("file\tkept\nkey\ta\tb\nfile\tnever\n");
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.log, "input file format error");
  EXPECT_EQ(bad.rows, (Rows{{"file", "kept"}}));
  EXPECT_TRUE(load("").ok);
}

TEST(JobFile, CrLfSplitAcrossReadChunksIsStillOneLineEnd) {
  ScratchDir dir;
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
  InputFile job;
  ASSERT_TRUE(load("file\tA\tB\t\nfile\tC\t\n", job).ok);
  job.AddColumn("uuid");
  job.AddColumn("file_name");
  const std::string log = captureLog([&] {
    EXPECT_EQ(job.GetCell(0, "uuid"), "A");
    EXPECT_EQ(job.GetCell(0, "file_name"), "B");
    EXPECT_EQ(job.GetCell(1, "file_name"), "");  // a trailing tab gave no field
    EXPECT_EQ(job.GetCell(0, "UUID"), "");
    EXPECT_EQ(job.GetCell(2, "uuid"), "");
  });
  EXPECT_EQ(log, "invalid column index: file_name\ninvalid column given: UUID\ninvalid row given: 2\n");
}

TEST(RetryLimit, ReadsTheVariableAsAtoiWouldWithoutOverflow) {
  EXPECT_EQ(retryLimitFromEnvironmentValue(nullptr), 20);
  EXPECT_EQ(retryLimitFromEnvironmentValue("abc"), 0);
  EXPECT_EQ(retryLimitFromEnvironmentValue("  +7x"), 7);
  EXPECT_EQ(retryLimitFromEnvironmentValue("-5"), 2147483647);
  EXPECT_EQ(retryLimitFromEnvironmentValue("-0"), 0);
  EXPECT_EQ(retryLimitFromEnvironmentValue("99999999999999999999999"), 2147483647);
}
