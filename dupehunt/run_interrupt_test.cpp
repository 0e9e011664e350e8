// Interrupts: SIGINT, SIGTERM and SIGHUP while the finder walks a tree, while
// it compares, and while the pager waits for a key. The process ends by the
// signal, the terminal is left with the settings it had, no temporary file
// remains and the tree read is unchanged. (The plain interrupt of a long
// comparison without a log is in cli_test.cpp.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::vector<std::string> TreeListing(const std::string& dir) {
  std::vector<std::string> all;
  for (const std::string& name : ListDir(dir)) {
    all.push_back(name);
    struct stat st;
    if (lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      for (const std::string& inner : TreeListing(dir + "/" + name))
        all.push_back(name + "/" + inner);
    }
  }
  return all;
}

// Runs the fault-injecting finder in work with args and faults, in line mode
// with echo, and sends signal once an injected fault reports that it waits.
RunResult RunUntilFaultWaits(const TempDir& work, const TempDir& temp,
                             const std::vector<std::string>& args, const std::string& faults,
                             int signal) {
  RunOptions options;
  options.args = {DUPEHUNT_FAULTY_PATH};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.cwd = work.path();
  options.tempDir = temp.path();
  options.env = {{"DUPEHUNT_FAULTS", faults}};
  options.cookedInput = true;
  options.actions = {{"[fault: waiting]", "", signal, 0}};
  return RunProgram(options);
}

// The run ended by signal and left the terminal with the settings it had.
void ExpectEndedBySignal(const RunResult& r, int signal) {
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.signal, signal);
  EXPECT_TRUE(r.terminalRestored);
}

TEST(Interrupt, DuringTheWalkEndsByTheSignalAndLeavesNothingBehind) {
  // The walk stops at a directory until a flag file appears, which never
  // does: the signal lands while the run is inside the walk, after the first
  // key poll has taken the terminal over.
  TempDir work, temp;
  for (int i = 0; i < 3; ++i) WriteFile(work / ("t/d" + std::to_string(i) + "/f"), "x");
  WriteFile(work / "t/sub/g", "y");
  const std::vector<std::string> before = TreeListing(work / "t");
  for (int signal : kSignals) {
    SCOPED_TRACE(signal);
    RunResult r = RunUntilFaultWaits(work, temp, {"t", "/L=log.txt"},
                                     "dir-open:match=sub:await=" + (work / "never"), signal);
    ExpectEndedBySignal(r, signal);
    EXPECT_EQ(ListDir(temp.path()), std::vector<std::string>()) << "temporary file left behind";
    EXPECT_EQ(TreeListing(work / "t"), before);
    EXPECT_EQ(ReadFile(work / "log.txt"), "") << "nothing reaches the log before the search";
  }
}

TEST(Interrupt, DuringAComparisonKeepsTheLogWholeLines) {
  // Two small copies form a group before the long comparison of two equal
  // sparse files starts; the log keeps that group, every line whole.
  TempDir work, temp;
  WriteFile(work / "t/1/small", "same bytes");
  WriteFile(work / "t/2/small", "same bytes");
  for (const char* name : {"t/big/a", "t/big/b"}) {
    WriteFile(work / name, "");
    ASSERT_EQ(truncate((work / name).c_str(), 3LL << 30), 0);
  }
  for (int signal : kSignals) {
    SCOPED_TRACE(signal);
    remove((work / "log.txt").c_str());
    // Start paths in this order put the small pair first in the table; the
    // first read of the big files waits for a flag that never comes.
    RunResult r = RunUntilFaultWaits(work, temp, {"t/1", "t/2", "t/big", "/L=log.txt"},
                                     "read:match=big:await=" + (work / "never"), signal);
    ExpectEndedBySignal(r, signal);
    EXPECT_EQ(ListDir(temp.path()), std::vector<std::string>()) << "temporary file left behind";
    const std::string log = ReadFile(work / "log.txt");
    EXPECT_EQ(log, Crlf("\nDUPEHUNT comparing log:\n \n" + work.path() + "/t/1/small\n" +
                        work.path() + "/t/2/small\n"));
    struct stat st;
    ASSERT_EQ(stat((work / "t/big/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 3LL << 30);
  }
}

TEST(Interrupt, DuringThePagersWaitEndsByTheSignal) {
  // The pager reads its key from standard input: here the terminal itself,
  // in line mode with echo, with nothing typed.
  TempDir work;
  WriteFile(work / "text", std::string(30, '\n'));
  for (int signal : kSignals) {
    SCOPED_TRACE(signal);
    RunOptions options;
    options.args = {"/bin/sh", "-c", "exec \"$0\" paged \"$1\" </dev/tty", OUTPUT_PROBE_PATH,
                    work / "text"};
    options.cwd = work.path();
    options.tempDir = work.path();
    options.cookedInput = true;
    // The pager's prompt begins with these bytes (code page 866).
    options.actions = {{"\x8d\xa0\xa6\xac\xa8\xe2\xa5", "", signal, 0}};
    RunResult r = RunProgram(options);
    ExpectEndedBySignal(r, signal);
    EXPECT_EQ(ListDir(work.path()), std::vector<std::string>{"text"});
  }
}

}  // namespace
