// The finder's command line, run shape, exit codes and terminal handling,
// seen from outside: console bytes from a pseudo-terminal, standard output,
// the log file and the temporary directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

const std::string kBanner =
    "DUPEHUNT 1.0 - finds files with identical contents, byte by byte\r\n"
    "Written by the dupehunt developers; free to use, copy and share.\r\n";
const std::string kUsage =
    "USAGE:   dupehunt <startpath> [<startpath>...] [/L=<dup_log>]\r\n"
    "EXAMPLE: dupehunt c:\\work /L=dups.txt\r\n";

// A run in a fresh directory with its own temporary directory.
class CliTest : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args) {
    RunOptions options;
    options.args = {DUPEHUNT_PATH};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.cwd = work.path();
    options.tempDir = temp.path();
    return RunProgram(options);
  }
  bool TempDirIsEmpty() { return ListDir(temp.path()).empty(); }

  TempDir work;
  TempDir temp;
};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(CliTest, NoArgumentShowsBannerAndUsage) {
  RunResult r = Run({});
  EXPECT_EQ(r.console, kBanner + kUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(CliTest, CommandLineErrorsEndBeforeAnythingIsScanned) {
  const struct {
    std::vector<std::string> args;
    std::string consoleAfterBanner;
    std::string out;
    int exitCode;
  } cases[] = {
      {{"/L="}, "Error opening file: \r\n", "", 2},
      {{".", "/L=missing/log.txt", "/L=second.txt"},
       "Error opening file: missing/log.txt\r\n",
       "",
       2},
      {{"/L=first.txt", ".", "/l=second.txt"},
       "",
       "[EXECUTION ERROR]\r\nLog file already opened in TLogOutput::AppendFile().\r\n",
       121},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1 % c.args.size()]);
    RunResult r = Run(c.args);
    EXPECT_EQ(r.console, kBanner + c.consoleAfterBanner);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_FALSE(FileExists(work / "second.txt"));
    EXPECT_TRUE(TempDirIsEmpty());
  }
}

TEST_F(CliTest, AcceptsAtMost127StartPaths) {
  MakeDirs(work / "d");
  std::vector<std::string> paths(127, "d");
  paths.push_back("/L=log.txt");
  RunResult accepted = Run(paths);
  EXPECT_EQ(accepted.exitCode, 0);
  EXPECT_TRUE(EndsWith(StripSpinner(accepted.console), "Done.\r\n"));

  paths.push_back("d");
  RunResult refused = Run(paths);
  EXPECT_EQ(refused.console, kBanner + "Too many paths.\r\n");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(CliTest, LogOptionAloneRunsOverAnEmptyTable) {
  RunResult r = Run({"/l=dups.txt"});
  std::string console = StripSpinner(r.console);
  EXPECT_EQ(console.substr(0, kBanner.size() + 21), kBanner + "Hit <ESC> to abort.\r\n");
  EXPECT_NE(console.find("Hit <ESC> to abort.\r\nTotal: 0 file(s)\r\n"), std::string::npos);
  EXPECT_TRUE(EndsWith(console, "Done.\r\n"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(FileExists(work / "dups.txt"));
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(CliTest, MissingSecondStartPathEndsTheRunWithoutTotal) {
  WriteFile(work / "a/one", "1");
  RunResult r = Run({"a", "nowhere", "a"});
  std::string console = StripSpinner(r.console);
  EXPECT_EQ(console, kBanner +
                         "Hit <ESC> to abort.\r\n"
                         "Scanning path: a\r\n"
                         "Scanning path: nowhere\r\n"
                         "Path not found.\r\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(CliTest, RelativeStartPathsAreTakenFromTheStartDirectory) {
  WriteFile(work / "a/one", "1");
  WriteFile(work / "b/two", "22");
  WriteFile(work / "b/three", "333");
  RunResult r = Run({"a", "b"});
  EXPECT_NE(StripSpinner(r.console).find("Total: 3 file(s)\r\n"), std::string::npos);
  EXPECT_EQ(r.exitCode, 0);
}

TEST_F(CliTest, LogIsAppendedNeverTruncated) {
  WriteFile(work / "t/x", "same");
  WriteFile(work / "t/y", "same");
  WriteFile(work / "log.txt", "earlier run\r\n");
  RunResult r = Run({"t", "/L=log.txt"});
  EXPECT_EQ(r.exitCode, 0);
  std::string log = ReadFile(work / "log.txt");
  EXPECT_EQ(log.substr(0, 13), "earlier run\r\n");
  EXPECT_NE(log.find("\r\nDUPEHUNT comparing log:\r\n"), std::string::npos);
  // Every line end in the log is CR LF.
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\n') {
      ASSERT_TRUE(i > 0 && log[i - 1] == '\r') << "bare LF at " << i;
    }
  }
}

TEST_F(CliTest, FailedLogWritesAreReportedWithExitCode3) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  WriteFile(work / "t/x", "same");
  RunResult r = Run({"t", "/L=/dev/full"});
  std::string console = StripSpinner(r.console);
  EXPECT_NE(console.find("Done.\r\n"), std::string::npos);
  EXPECT_TRUE(EndsWith(console,
                       "Warning: the log file /dev/full is incomplete: writing to it failed.\r\n"));
  EXPECT_EQ(r.exitCode, 3);
}

TEST_F(CliTest, InterruptRestoresTerminalAndRemovesTemporaryFile) {
  // Two equal sparse files take long enough to compare for a signal to land
  // while the terminal is in key-poll mode and the temporary file exists.
  for (const char* name : {"big/a", "big/b"}) {
    WriteFile(work / name, "");
    ASSERT_EQ(truncate((work / name).c_str(), 3LL << 30), 0);
  }
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    RunOptions options;
    options.args = {DUPEHUNT_PATH, "big"};
    options.cwd = work.path();
    options.tempDir = temp.path();
    options.cookedInput = true;
    options.actions = {{"Total: 2 file(s)", "", signal, 200}};
    RunResult r = RunProgram(options);
    EXPECT_EQ(r.signal, signal);
    EXPECT_TRUE(r.terminalRestored);
    EXPECT_TRUE(TempDirIsEmpty());
  }
}

}  // namespace
