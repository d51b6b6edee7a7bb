#include "job/InputFile.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "job/LineReader.h"
#include "support/LogCapture.h"

using namespace RazaDedeZuzev;
using testsupport::captureLog;
using testsupport::ScratchDir;

namespace {

struct Loaded {
  bool ok = false;
  std::string log;
  std::vector<std::vector<std::string>> rows;
};

Loaded load(const std::string& content, InputFile& job) {
  ScratchDir dir;
  testsupport::writeFile(dir / "job", content);
  Loaded result;
  result.log = captureLog([&] { result.ok = job.Load((dir / "job").u16string()); });
  for (std::uint64_t r = 0; r < job.GetRowCount(); ++r) {
    std::vector<std::string> fields;
    for (std::string_view f : job.GetRowFields(r)) fields.emplace_back(f);
    result.rows.push_back(fields);
  }
  return result;
}

Loaded load(const std::string& content) {
  InputFile job;
  return load(content, job);
}

using Rows = std::vector<std::vector<std::string>>;

}  // namespace

TEST(InputFileLoad, SplitsRecordsAtTabsAndDropsOnlyAnEmptyLastPiece) {
  const Loaded loaded = load("file\ta\t\tb\nfile\ta\t\nfile\ta\t\t\nfile\tx\n");
  ASSERT_TRUE(loaded.ok) << loaded.log;
  EXPECT_EQ(loaded.rows, (Rows{{"file", "a", "", "b"}, {"file", "a"}, {"file", "a", ""}, {"file", "x"}}));
  EXPECT_EQ(loaded.log, "");
}

TEST(InputFileLoad, KeyValueLinesSetParametersAndTheLastOneWins) {
  InputFile job;
  const Loaded loaded = load("key\tfirst\nempty\t\t\n\tnokey\nkey\tsecond\nFILE\tx\n", job);
  ASSERT_TRUE(loaded.ok) << loaded.log;
  EXPECT_EQ(job.GetParameter("key"), "second");
  EXPECT_EQ(job.GetParameter("empty"), "");
  EXPECT_EQ(job.GetParameter(""), "nokey");
  EXPECT_EQ(job.GetParameter("FILE"), "x");  // only "file" starts a record
  EXPECT_EQ(job.GetRowCount(), 0u);
}

TEST(InputFileLoad, EmptyFileHasNothing) {
  InputFile job;
  const Loaded loaded = load("", job);
  EXPECT_TRUE(loaded.ok);
  EXPECT_EQ(job.GetRowCount(), 0u);
}

TEST(InputFileLoad, LinesWithFewerThanTwoFieldsFailWithoutLineEnd) {
  for (const char* content : {"file\ta\n\n", "\n", "file\tx\nfile\t\n", "key\t\n", "single\n",
                              "file\ta\nlast\n\n"}) {
    const Loaded loaded = load(content);
    EXPECT_FALSE(loaded.ok) << content;
    EXPECT_EQ(loaded.log, "input file format error, # of column must be > 2") << content;
  }
}

TEST(InputFileLoad, ThreeFieldsWithoutFileFailAndEarlierRecordsStay) {
  const Loaded loaded = load("file\tkept\nkey\ta\tb\nfile\tnever\n");
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.log, "input file format error");
  EXPECT_EQ(loaded.rows, (Rows{{"file", "kept"}}));
}

TEST(InputFileLoad, CrLfAndLfReadAlikeButALoneCrStays) {
  const Loaded lf = load("k\tv\nfile\ta\tb\n");
  const Loaded crlf = load("k\tv\r\nfile\ta\tb\r\n");
  EXPECT_EQ(lf.rows, crlf.rows);
  const Loaded lone = load("file\ta\rb\tc\r\nfile\td\r");
  ASSERT_TRUE(lone.ok) << lone.log;
  EXPECT_EQ(lone.rows, (Rows{{"file", "a\rb", "c"}, {"file", "d\r"}}));
}

TEST(InputFileLoad, NulEndsTheLineTextAndNoByteOrderMarkIsRecognised) {
  const Loaded nul = load(std::string("file\ta\0ignored\tmore\nfile\tb\n", 27));
  ASSERT_TRUE(nul.ok) << nul.log;
  EXPECT_EQ(nul.rows, (Rows{{"file", "a"}, {"file", "b"}}));
  InputFile job;
  const Loaded bom = load("\xEF\xBB\xBF" "file\tx\n", job);
  EXPECT_TRUE(bom.ok);
  EXPECT_EQ(job.GetRowCount(), 0u);
  EXPECT_EQ(job.GetParameter("\xEF\xBB\xBF" "file"), "x");
}

TEST(InputFileLoad, LongLinesAreReadInPiecesOf1023Bytes) {
  // 1022 bytes of content and its LF fit one piece.
  const std::string fits = "file\t" + std::string(1017, 'x');
  const Loaded one = load(fits + "\n");
  ASSERT_TRUE(one.ok) << one.log;
  EXPECT_EQ(one.rows[0][1].size(), 1017u);
  // The same with CR LF still fits: CR LF counts as LF.
  EXPECT_TRUE(load(fits + "\r\n").ok);
  // One more byte and the LF is left over as an empty piece.
  const Loaded split = load(fits + "y\n");
  EXPECT_FALSE(split.ok);
  EXPECT_EQ(split.log, "input file format error, # of column must be > 2");
  // A long record whose tail holds a tab becomes two records' worth of pieces.
  const Loaded tail = load("file\t" + std::string(1018, 'a') + "file\tb\n");
  ASSERT_TRUE(tail.ok) << tail.log;
  EXPECT_EQ(tail.rows.size(), 2u);
  EXPECT_EQ(tail.rows[1], (std::vector<std::string>{"file", "b"}));
}

TEST(LineReader, CrLfSplitAcrossReadChunksIsStillOneLineEnd) {
  ScratchDir dir;
  // Put the CR as the last byte of the first 64 KiB chunk.
  std::string content;
  while (content.size() < 65535 - 20) content += "file\t0123456789\n";
  content += std::string(65535 - content.size(), 'z');
  content += "\r\nfile\tend\n";
  testsupport::writeFile(dir / "job", content);
  platform::UniqueFile file;
  ASSERT_FALSE(platform::openFileForRead((dir / "job").u16string(), file));
  LineReader reader(file.get());
  std::string piece, last, beforeLast;
  while (reader.NextPiece(piece)) {
    beforeLast = last;
    last = piece;
  }
  EXPECT_EQ(last, "file\tend\n");
  EXPECT_EQ(beforeLast.back(), '\n');
  EXPECT_EQ(beforeLast.find('\r'), std::string::npos);
}

TEST(InputFileCells, ColumnsAreNamedInDeclarationOrder) {
  InputFile job;
  ASSERT_TRUE(load("file\tA\tB\t\nfile\tC\t\n", job).ok);
  job.AddColumn("uuid");
  job.AddColumn("file_name");
  std::string cell;
  const std::string log = captureLog([&] {
    EXPECT_EQ(job.GetCell(0, "uuid"), "A");
    EXPECT_EQ(job.GetCell(0, "file_name"), "B");
    EXPECT_EQ(job.GetCell(1, "uuid"), "C");
    EXPECT_EQ(job.GetCell(1, "file_name"), "");   // too short: trailing tab gave no field
    EXPECT_EQ(job.GetCell(0, "UUID"), "");        // names are case-sensitive
    EXPECT_EQ(job.GetCell(2, "uuid"), "");        // no such record
  });
  EXPECT_EQ(log,
            "invalid column index: file_name\n"
            "invalid column given: UUID\n"
            "invalid row given: 2\n");
}

TEST(InputFileCells, RedeclaringAColumnMovesItAndMissingParametersAreSilent) {
  InputFile job;
  ASSERT_TRUE(load("file\tA\tB\tC\n", job).ok);
  job.AddColumn("a");
  job.AddColumn("b");
  job.AddColumn("a");  // takes the next position, 3
  const std::string log = captureLog([&] {
    EXPECT_EQ(job.GetCell(0, "a"), "C");
    EXPECT_EQ(job.GetParameter("absent"), "");
    EXPECT_EQ(job.GetParameter("absent"), "");
  });
  EXPECT_EQ(log, "");
}

TEST(RetryLimit, ReadsTheVariableAsAtoiWouldWithoutOverflow) {
  EXPECT_EQ(retryLimitFromEnvironmentValue(nullptr), 20);
  EXPECT_EQ(retryLimitFromEnvironmentValue("0"), 0);
  EXPECT_EQ(retryLimitFromEnvironmentValue("abc"), 0);
  EXPECT_EQ(retryLimitFromEnvironmentValue("  +7x"), 7);
  EXPECT_EQ(retryLimitFromEnvironmentValue("-5"), 2147483647);
  EXPECT_EQ(retryLimitFromEnvironmentValue("-0"), 0);
  EXPECT_EQ(retryLimitFromEnvironmentValue("99999999999999999999999"), 2147483647);
}
