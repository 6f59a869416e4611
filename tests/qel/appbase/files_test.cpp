// Files at offsets, comma-separated tables and the error log, in a fresh
// working folder per test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "qel/appbase/qelcsvtable.h"
#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelfile.h"
#include "tests/support/test_util.h"

namespace {

using nura::test::ReadFileBytes;
using nura::test::WriteFileBytes;
using nura::test::WriteFileText;

class InTempDir : public testing::Test {
 protected:
  nura::test::TempDir m_dir;
  nura::test::ScopedChdir m_cd{m_dir.path()};
};

std::string ReadText(const std::string& path) {
  auto bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// --- C_File -----------------------------------------------------------------

using File = InTempDir;

TEST_F(File, WritesAndReadsAtOffsets) {
  C_File f;
  ASSERT_TRUE(f.Open("data.bin", false, CREATE_ALWAYS));
  EXPECT_EQ(f.GetName(), "data.bin");
  const char hello[] = "hello";
  EXPECT_TRUE(f.Write(hello, 5, 10));
  EXPECT_EQ(f.GetWrittenCount(), 5u);
  EXPECT_TRUE(f.Write("AB", 2, 0));
  EXPECT_EQ(f.GetSize(nullptr), 15u);
  f.Close();
  EXPECT_EQ(f.GetName(), "");
  EXPECT_EQ(f.GetHandle(), nullptr);

  auto bytes = ReadFileBytes("data.bin");
  ASSERT_EQ(bytes.size(), 15u);
  EXPECT_EQ(bytes[0], 'A');
  EXPECT_EQ(bytes[5], 0) << "the gap is zero-filled";
  EXPECT_EQ(std::string(bytes.begin() + 10, bytes.end()), "hello");

  ASSERT_TRUE(f.Open("data.bin", true, OPEN_EXISTING));
  char buf[8] = {};
  EXPECT_TRUE(f.Read(buf, 5, 10));
  EXPECT_EQ(f.GetReadCount(), 5u);
  EXPECT_EQ(std::string(buf, 5), "hello");
  // At the end a read succeeds with a short count.
  EXPECT_TRUE(f.Read(buf, 8, 12));
  EXPECT_EQ(f.GetReadCount(), 3u);
}

TEST_F(File, ReadsLittleEndianWordsAndBytes) {
  WriteFileBytes("w.bin", std::vector<std::uint8_t>{0x34, 0x12, 0xFF, 0xEE, 0x7F});
  C_File f;
  ASSERT_TRUE(f.Open("w.bin", true, OPEN_EXISTING));
  EXPECT_EQ(f.ReadU16(0), 0x1234);
  EXPECT_EQ(f.ReadU16(2), 0xEEFF);
  EXPECT_EQ(f.ReadU16(1), 0xFF12);
  EXPECT_EQ(f.ReadByte(4), 0x7F);
  EXPECT_EQ(f.ReadByte(5), 0) << "past the end";
  EXPECT_EQ(f.ReadU16(4), 0x007F) << "the high byte lies past the end";
}

TEST_F(File, AFailedOpenKeepsNoName) {
  C_File f;
  ASSERT_TRUE(f.Open("a.txt", false, CREATE_ALWAYS));
  EXPECT_FALSE(f.Open("missing.txt", true, OPEN_EXISTING));
  EXPECT_EQ(f.GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(f.GetName(), "");
  // The first file was closed by the second Open.
  EXPECT_TRUE(f.Open("a.txt", false, OPEN_EXISTING));
}

TEST_F(File, OpenAlwaysCreatesAndDeleteRemoves) {
  C_File f;
  ASSERT_TRUE(f.Open("made.txt", true, OPEN_ALWAYS));
  EXPECT_EQ(f.GetSize(nullptr), 0u);
  EXPECT_TRUE(f.Delete());
  EXPECT_EQ(f.GetHandle(), nullptr);
  C_File again;
  EXPECT_FALSE(again.Open("made.txt", true, OPEN_EXISTING));
}

// --- C_CsvTable -------------------------------------------------------------

using Csv = InTempDir;

std::vector<std::vector<std::string>> Cells(const C_CsvTable& t, std::uint32_t columns) {
  std::vector<std::vector<std::string>> rows;
  for (std::uint32_t r = 0; r < t.GetRowCount(); ++r) {
    rows.emplace_back();
    for (std::uint32_t c = 0; c < columns; ++c) rows.back().push_back(t.GetCell(r, c));
  }
  return rows;
}

using Rows = std::vector<std::vector<std::string>>;

TEST_F(Csv, SplitsLinesAtCrLfAndCellsAtCommas) {
  const struct {
    const char* text;
    Rows rows;  // three columns of each
  } cases[] = {
      {"1,2\r\n3,4\r\n", {{"1", "2", ""}, {"3", "4", ""}}},
      {"1,2\r\n3", {{"1", "2", ""}, {"3", "", ""}}},  // a last line without its end counts
      {"a\r\n,", {{"a", "", ""}, {"", "", ""}}},      // so does one of a lone comma
      {"a,,b\r\n\r\nx,\r\n", {{"a", "", "b"}, {"", "", ""}, {"x", "", ""}}},
      // A lone LF, a tab and UTF-8 text stay in the cell.
      {"a\nb,\t\xE3\x81\xAC\r\n", {{"a\nb", "\t\xE3\x81\xAC", ""}}},
      // A CR skips only a following LF.
      {"1\r2\r\r\n3\r\n", {{"1", "", ""}, {"2", "", ""}, {"", "", ""}, {"3", "", ""}}},
  };
  for (const auto& c : cases) {
    WriteFileText("t.dat", c.text);
    C_CsvTable t;
    ASSERT_EQ(t.Load("t.dat"), 1);
    EXPECT_EQ(Cells(t, 3), c.rows) << c.text;
    // Cells outside the table or a short row are empty.
    EXPECT_EQ(t.GetCell(t.GetRowCount(), 0), "");
    EXPECT_EQ(t.GetCell(0xFFFFFFFFu, 0xFFFFFFFFu), "");
  }
}

TEST_F(Csv, EmptyAndMissingFilesHaveNoRows) {
  WriteFileText("empty.dat", "");
  C_CsvTable t;
  EXPECT_EQ(t.Load("empty.dat"), 1);
  EXPECT_EQ(t.GetRowCount(), 0u);
  EXPECT_EQ(t.GetCell(0, 0), "");

  C_CsvTable m;
  EXPECT_EQ(m.Load("missing.dat"), 0);
  EXPECT_EQ(m.GetRowCount(), 0u);
  EXPECT_EQ(m.GetCell(0, 0), "");
}

TEST_F(Csv, LoadsAppendRows) {
  WriteFileText("a.dat", "1\r\n2\r\n");
  WriteFileText("b.dat", "3\r\n");
  C_CsvTable t;
  t.Load("a.dat");
  t.Load("b.dat");
  EXPECT_EQ(Cells(t, 1), (Rows{{"1"}, {"2"}, {"3"}}));
  EXPECT_EQ(t.Load("missing.dat"), 0);
  EXPECT_EQ(t.GetRowCount(), 3u);
}

TEST_F(Csv, ReadsALargeTable) {
  std::string text;
  for (int r = 0; r < 3000; ++r) text += std::to_string(r) + "," + std::to_string(r * 7) + ",x\r\n";
  WriteFileText("big.dat", text);
  C_CsvTable t;
  t.Load("big.dat");
  ASSERT_EQ(t.GetRowCount(), 3000u);
  for (std::uint32_t r = 0; r < 3000; r += 97) {
    EXPECT_EQ(t.GetCell(r, 0), std::to_string(r));
    EXPECT_EQ(t.GetCell(r, 1), std::to_string(r * 7));
    EXPECT_EQ(t.GetCell(r, 2), "x");
  }
}

// A file whose lines end with LF alone is told from one cut inside a line:
// only a last line without any line end may have been cut short, and not in
// a file whose lines all end with LF alone, which its line ends say is wrong.
TEST_F(Csv, LineEndsWithoutCRAreToldFromACutLine) {
  const struct {
    const char* text;
    bool withoutCR;
    bool cutShort;
  } cases[] = {
      {"1,2\n3,4\n", true, false},    {"1,2\n3", true, false},
      {"1,2\r\n3,4\r\n", false, false}, {"1,2\r\n3,4\n", false, false},
      {"1,2\r\n3", false, true},      {"1,2\r3,4\r", false, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "t" + std::to_string(n++) + ".dat";
    WriteFileText(name, c.text);
    C_CsvTable t;
    ASSERT_EQ(t.Load(name.c_str()), 1);
    EXPECT_EQ(t.LinesEndWithoutCR(), c.withoutCR) << c.text;
    EXPECT_EQ(g_ErrorLog.GetLastText() == name + " ends inside a line: it may have been cut short", c.cutShort)
        << c.text;
  }
}

// --- C_ErrorLog --------------------------------------------------------------

class ErrorLog : public InTempDir {
 protected:
  void SetUp() override {
    platform::test::UseFakeClock();
    SYSTEMTIME base{};
    base.wYear = 2005;
    base.wMonth = 3;
    base.wDay = 22;
    base.wHour = 14;
    base.wMinute = 7;
    base.wSecond = 9;
    platform::test::SetWallClockBase(base);
  }
};

TEST_F(ErrorLog, AppendsTimeStampedLines) {
  C_ErrorLog log;
  EXPECT_EQ(log.Write("first"), 0);
  platform::test::AdvanceClock(61000);
  EXPECT_EQ(log.Printf("second %d %s", 2, "x"), 0);
  EXPECT_EQ(ReadText("ErrorLog.txt"), "03/22/05 14:07:09 : first\r\n03/22/05 14:08:10 : second 2 x\r\n");
  EXPECT_EQ(log.GetLastText(), "second 2 x");
}

TEST_F(ErrorLog, LinesHaveTheDateTimeFormat) {
  C_ErrorLog log;
  for (DWORD step : {0u, 3600000u, 86400000u * 30u}) {
    platform::test::AdvanceClock(step);
    log.WriteInt(-5);
  }
  // "MM/DD/YY HH:MM:SS : text" with CR LF, an hour and a month on.
  EXPECT_EQ(ReadText("ErrorLog.txt"),
            "03/22/05 14:07:09 : -5\r\n03/22/05 15:07:09 : -5\r\n04/21/05 15:07:09 : -5\r\n");
}

TEST_F(ErrorLog, LongTextIsKeptWhole) {
  C_ErrorLog log;
  std::string text(2000, 'x');
  text[0] = 'A';
  text[1999] = 'Z';
  log.Write(text);
  EXPECT_EQ(ReadText("ErrorLog.txt"), "03/22/05 14:07:09 : " + text + "\r\n");
  // Printf's formatter stops at its own limit of about 1,024 characters; the
  // line carries all that it made.
  log.Printf("%s", std::string(1500, 'y').c_str());
  const std::string last = log.GetLastText();
  EXPECT_GE(last.size(), 1023u);
  EXPECT_LE(last.size(), 1024u);
  EXPECT_EQ(last, std::string(last.size(), 'y'));
  EXPECT_EQ(ReadText("ErrorLog.txt"),
            "03/22/05 14:07:09 : " + text + "\r\n03/22/05 14:07:09 : " + last + "\r\n");
}

TEST_F(ErrorLog, ModeOtherThanOneWritesNothing) {
  C_ErrorLog log;
  EXPECT_EQ(log.SetMode(0), 0);
  log.Write("quiet");
  EXPECT_EQ(log.GetLastText(), "quiet");
  C_File probe;
  EXPECT_FALSE(probe.Open("ErrorLog.txt", true, OPEN_EXISTING));
  log.SetMode(2);
  log.Write("still quiet");
  EXPECT_FALSE(probe.Open("ErrorLog.txt", true, OPEN_EXISTING));
  log.SetMode(1);
  log.Write("loud");
  EXPECT_EQ(ReadText("ErrorLog.txt"), "03/22/05 14:07:09 : loud\r\n");
}

// A line the file cannot take is not lost: it goes to standard error with
// the reason, and the next line tries the file again.
TEST_F(ErrorLog, AnUnwritableLogSendsTheLineToStandardError) {
  const struct {
    const char* name;
    void (*prepare)();
    const char* reason;
  } cases[] = {
      {"a folder in the way", [] { std::filesystem::create_directory("ErrorLog.txt"); }, "ERROR_DIRECTORY"},
      {"a read-only folder", [] { chmod(".", 0555); }, "ERROR_ACCESS_DENIED"},
      {"a full disk", [] { std::filesystem::create_symlink("/dev/full", "ErrorLog.txt"); }, "ERROR_DISK_FULL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nura::test::TempDir dir;
    nura::test::ScopedChdir cd(dir.path());
    c.prepare();
    C_ErrorLog log;
    testing::internal::CaptureStderr();
    {
      nura::test::AsNobody nobody;
      EXPECT_EQ(log.Write("not lost"), 0);
      EXPECT_EQ(log.GetLastText(), "not lost");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("ErrorLog.txt could not be written (") + c.reason + "): 03/22/05 14:07:09 : not lost\n");
    chmod(".", 0700);
    std::error_code ignored;
    std::filesystem::remove("ErrorLog.txt", ignored);
    testing::internal::CaptureStderr();
    log.Write("again");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ReadText("ErrorLog.txt"), "03/22/05 14:07:09 : again\r\n");
  }
}

TEST_F(ErrorLog, TheGlobalLogWritesToTheFile) {
  g_ErrorLog.Printf("C_FloorData: stage %d", 12);
  EXPECT_EQ(ReadText("ErrorLog.txt"), "03/22/05 14:07:09 : C_FloorData: stage 12\r\n");
}

}  // namespace
