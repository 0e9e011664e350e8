// Black-box tests of the finder that need no console: the log file, exit
// codes, ExitProgram's report on standard output and the temporary file.
// They run against the native program and, registered as Wine tests, against
// dupehunt.exe (see testing/program_under_test.h); the paths in the log are
// then spelled the Win32 way.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testing/program_under_test.h"
#include "testing/test_support.h"

namespace {

const ProgramUnderTest& Under() { return ProgramUnderTest::Current(); }

// Two start paths whose files form one group; each holds a file of the same
// size with other contents, and one an empty file. The group's order is the
// order of the start paths on every platform.
class FinderRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(work / "one/a.txt", "hello\n");
    WriteFile(work / "one/b.txt", "other\n");
    WriteFile(work / "one/empty", "");
    WriteFile(work / "two/deep/a.txt", "hello\n");
  }

  RunResult Run(const std::vector<std::string>& args, const std::string& tempDir) {
    RunOptions options;
    options.args = args;
    options.cwd = work.path();
    options.tempDir = tempDir;
    return Under().Run(Program::kDupehunt, options);
  }

  std::string Path(const std::string& path) const { return Under().Path(path); }

  // The section that a run over one and two appends to the log.
  std::string ExpectedSection() const {
    const std::string sep(1, Under().separator());
    return "\r\nDUPEHUNT comparing log:\r\n \r\n" + Path(work / "one") + sep + "a.txt\r\n" +
           Path(work / "two") + sep + "deep" + sep +
           "a.txt\r\n \r\nSummary:\r\n"
           "  Total files..........4\r\n"
           "    Empty files........1\r\n"
           "  Duplicated files.....2\r\n"
           "    Duplicated bytes...12\r\n"
           "  Waste files..........1\r\n"
           "    Waste bytes........6\r\n"
           "    Space wasted.......4096 bytes for cluster size==4096\r\n\r\n";
  }

  TempDir work;
  TempDir temp;
};

TEST_F(FinderRunTest, LogGetsOneSectionWithThePlatformsPathsAfterEarlierContents) {
  SCOPED_TRACE(Under().name());
  WriteFile(work / "log.txt", "earlier run\r\n");
  const RunResult r = Run({Path(work / "one"), "/L=log.txt", Path(work / "two")}, temp.path());
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(work / "log.txt"), "earlier run\r\n" + ExpectedSection());
  EXPECT_TRUE(ListDir(temp.path()).empty());
}

TEST_F(FinderRunTest, ExitCodesAndFatalReportsOnStandardOutput) {
  SCOPED_TRACE(Under().name());
  std::vector<std::string> tooMany(128, "one");
  const struct {
    const char* what;
    std::vector<std::string> args;
    int code;
    std::string out;
    std::string log;  // what log.txt holds afterwards; "-": no log.txt
  } cases[] = {
      {"no start path", {}, 1, "", "-"},
      {"128 start paths", tooMany, 1, "", "-"},
      {"log option given twice",
       {"/L=log.txt", "/l=other.txt", "one"},
       121,
       "[EXECUTION ERROR]\r\nLog file already opened in TLogOutput::AppendFile().\r\n",
       ""},
      {"log file in a missing directory",
       {"/L=" + Path(work / "missing/log.txt"), "one"},
       2,
       "",
       "-"},
      {"start path not found: nothing compared", {"one", "nowhere", "/L=log.txt"}, 0, "", ""},
      {"relative start paths", {"one", "two", "/L=log.txt"}, 0, "", ExpectedSection()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const RunResult r = Run(c.args, tmp.path());
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    if (c.log == "-") {
      EXPECT_FALSE(FileExists(work / "log.txt"));
    } else {
      EXPECT_EQ(ReadFile(work / "log.txt"), c.log);
    }
    EXPECT_FALSE(FileExists(work / "other.txt"));
    EXPECT_TRUE(ListDir(tmp.path()).empty());
    std::remove((work / "log.txt").c_str());
  }
}

TEST_F(FinderRunTest, TemporaryFileTakesAFreeNameAndIsRemoved) {
  SCOPED_TRACE(Under().name());
  WriteFile(temp / "~ZORB1", "someone else's");
  const RunResult r = Run({"one", "two", "/L=log.txt"}, temp.path());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(work / "log.txt"), ExpectedSection());
  EXPECT_EQ(ListDir(temp.path()), std::vector<std::string>{"~ZORB1"});
  EXPECT_EQ(ReadFile(temp / "~ZORB1"), "someone else's");
}

TEST_F(FinderRunTest, MissingTemporaryDirectoryFallsBackAndLeavesNothing) {
  SCOPED_TRACE(Under().name());
  const std::string missing = temp / "missing";
  const RunResult r = Run({"one", "two", "/L=log.txt"}, missing);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(work / "log.txt"), ExpectedSection());
  EXPECT_FALSE(FileExists(missing));
  EXPECT_TRUE(ListDir(temp.path()).empty());
}

}  // namespace
