// The walk seen from outside: the finder run in a pseudo-terminal on real
// trees, its total, spinner, ESC and temporary directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The spinner's frame characters in console bytes, in order: a frame is
// one of "|/-\\" and a carriage return that no line feed follows.
std::string SpinnerFrames(const std::string& console) {
  std::string frames;
  for (size_t i = 0; i + 1 < console.size(); ++i) {
    if (console[i + 1] == '\r' && (i + 2 == console.size() || console[i + 2] != '\n') &&
        std::string("|/-\\").find(console[i]) != std::string::npos) {
      frames += console[i];
      ++i;
    }
  }
  return frames;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs in a fresh work directory (the trees) with its own temporary directory.
class ScanTest : public ::testing::Test {
 protected:
  // Runs the finder with args in cwd, after the words of prefix when given.
  RunResult RunIn(const std::string& cwd, const std::vector<std::string>& args,
                  std::vector<TerminalAction> actions = {},
                  const std::vector<std::string>& prefix = {}) {
    RunOptions options;
    options.args = prefix;
    options.args.push_back(DUPEHUNT_PATH);
    for (const std::string& arg : args) options.args.push_back(arg);
    options.cwd = cwd;
    options.tempDir = Temp.path();
    options.actions = std::move(actions);
    return RunProgram(options);
  }

  RunResult Run(const std::vector<std::string>& args, std::vector<TerminalAction> actions = {},
                const std::vector<std::string>& prefix = {}) {
    return RunIn(Work.path(), args, std::move(actions), prefix);
  }

  std::string W(const std::string& relative) const { return Work / relative; }

  TempDir Work;
  TempDir Temp;
};

std::string Total(uint32_t files) { return "Total: " + std::to_string(files) + " file(s)\r\n"; }

TEST_F(ScanTest, TotalCountsEveryDistinctFileOnce) {
  // t/a and t/sub/b.
  const auto fileAndSubFile = [](const std::string& t) {
    WriteFile(t + "/a", "1");
    WriteFile(t + "/sub/b", "2");
  };
  struct Case {
    const char* label;
    std::function<void(const std::string&)> make;  // builds the tree under its root
    std::vector<std::string> starts;               // relative to the work directory
    uint32_t files;
  } cases[] = {
      {"dot directories skipped, dot and empty files recorded",
       [](const std::string& t) {
         WriteFile(t + "/plain", "abc");
         WriteFile(t + "/.dotfile", "abc");
         WriteFile(t + "/empty", "");
         WriteFile(t + "/sub/inner", "abcd");
         WriteFile(t + "/.git/objects/x", "abc");
         WriteFile(t + "/sub/.cache/y", "abc");
       },
       {"t"},
       4},
      {"links, a link loop and a FIFO neither counted nor followed",
       [](const std::string& t) {
         WriteFile(t + "/real", "abc");
         symlink("real", (t + "/to-file").c_str());
         symlink(".", (t + "/loop").c_str());
         symlink(t.c_str(), (t + "/to-root").c_str());
         symlink("nowhere", (t + "/dangling").c_str());
         mkfifo((t + "/fifo").c_str(), 0600);
       },
       {"t"},
       1},
      {"a start path given twice", fileAndSubFile, {"t", "t"}, 2},
      {"a start path inside another, inner first",
       [](const std::string& t) {
         WriteFile(t + "/a", "1");
         WriteFile(t + "/sub/b", "2");
         WriteFile(t + "/sub/deep/c", "3");
       },
       {"t/sub", "t"},
       3},
      {"a start path inside another, outer first", fileAndSubFile, {"t", "t/sub"}, 2},
      {"a hard-linked file",
       [](const std::string& t) {
         WriteFile(t + "/one/original", "same");
         MakeDirs(t + "/two");
         link((t + "/one/original").c_str(), (t + "/two/linked").c_str());
       },
       {"t"},
       1},
      {"a sparse file of 5 GiB",
       [](const std::string& t) {
         WriteFile(t + "/sparse", "");
         truncate((t + "/sparse").c_str(), 5ll << 30);
       },
       {"t"},
       1},
      {"an empty start directory", [](const std::string& t) { MakeDirs(t); }, {"t"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir work;
    c.make(work / "t");
    RunResult r = RunIn(work.path(), c.starts);
    const std::string console = StripSpinner(r.console);
    EXPECT_NE(console.find("Hit <ESC> to abort.\r\n"), std::string::npos) << console;
    EXPECT_NE(console.find(Total(c.files)), std::string::npos) << console;
    EXPECT_TRUE(EndsWith(console, "Done.\r\n")) << console;
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>()) << "temporary file left behind";
  }
}

TEST_F(ScanTest, UnreadableDirectoryIsPassedBy) {
  WriteFile(W("t/seen"), "1");
  WriteFile(W("t/open/also-seen"), "22");
  WriteFile(W("t/closed/never-seen"), "333");
  ASSERT_EQ(chmod(W("t/closed").c_str(), 0), 0);
  std::vector<std::string> prefix;
  if (geteuid() == 0) {
    // Root reads every directory: the finder runs as an ordinary user then.
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv";
    prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const std::string& d : {Work.path(), W("t"), W("t/open")}) chmod(d.c_str(), 0755);
    chmod(Temp.path().c_str(), 0777);
  }
  RunResult r = Run({"t"}, {}, prefix);
  const std::string console = StripSpinner(r.console);
  EXPECT_NE(console.find(Total(2)), std::string::npos) << console;
  EXPECT_EQ(console.find("never-seen"), std::string::npos) << console;
  EXPECT_TRUE(EndsWith(console, "Done.\r\n")) << console;
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>());
}

TEST_F(ScanTest, EscStopsTheRunBeforeAnyEntryAndRemovesTheTempFile) {
  WriteFile(W("first/a"), "same");
  WriteFile(W("first/b"), "same");
  WriteFile(W("second/c"), "same");
  // Typed at once, ESC waits for the first key poll: the first directory.
  TerminalAction esc;
  esc.type = "\x1b";
  RunResult r = Run({"first", "second"}, {esc});
  const std::string console = StripSpinner(r.console);
  EXPECT_TRUE(EndsWith(console, "Scanning path: first\r\nAborted by user!\r\n")) << console;
  EXPECT_EQ(CountOf(console, "Scanning path: "), 1u) << console;
  EXPECT_EQ(console.find("Total: "), std::string::npos) << console;
  EXPECT_EQ(SpinnerFrames(r.console), "|");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.terminalRestored);
  EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>()) << "temporary file left behind";
}

TEST_F(ScanTest, SpinnerTurnsAtTheFirstAndEveryFourthDirectoryAcrossStartPaths) {
  struct Case {
    int first, second;   // directories under each start path, the start included
    const char* frames;  // one frame at directories 1, 5, 9, 13, ...
  } cases[] = {
      {1, 1, "|"},       // 2 directories
      {3, 1, "|"},       // 4
      {4, 1, "|/"},      // 5
      {2, 6, "|/"},      // 8
      {5, 4, "|/-"},     // 9
      {7, 6, "|/-\\"},   // 13
      {9, 8, "|/-\\|"},  // 17
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + " + " + std::to_string(c.second) + " directories");
    TempDir work;
    // No files: nothing is compared, so every frame comes from the walk.
    MakeDirs(work / "one");
    MakeDirs(work / "two");
    for (int i = 1; i < c.first; ++i) MakeDirs(work / ("one/d" + std::to_string(i)));
    for (int i = 1; i < c.second; ++i) MakeDirs(work / ("two/d" + std::to_string(i)));
    RunResult r = RunIn(work.path(), {"one", "two"});
    ASSERT_NE(r.console.find(Total(0)), std::string::npos) << r.console;
    EXPECT_EQ(SpinnerFrames(r.console), c.frames);
  }
}

}  // namespace
