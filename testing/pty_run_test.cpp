#include "testing/pty_run.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "testing/test_support.h"

namespace {

RunOptions Shell(const std::string& script) {
  RunOptions options;
  options.args = {"/bin/sh", "-c", script};
  return options;
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (struct dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

TEST(RunProgram, KeepsConsoleAndStandardStreamsApart) {
  RunResult r = RunProgram(Shell("printf 'a\\nb' > /dev/tty; printf out; printf err >&2; exit 3"));
  EXPECT_EQ(r.console, "a\nb");  // raw terminal: no CR added
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "err");
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.signal, 0);
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(r.terminalRestored);
}

TEST(RunProgram, TypesIntoTerminalOnceTextAppearsInOrder) {
  const char* script =
      // Whatever was typed before the first prompt is read at once.
      "stty -icanon -echo min 0 time 0 </dev/tty\n"
      "sleep 0.2\n"
      "dd bs=16 count=1 </dev/tty 2>/dev/null\n"
      "stty min 1 </dev/tty\n"
      "printf 'First? ' >/dev/tty\n"
      "dd bs=1 count=1 </dev/tty 2>/dev/null\n"
      "printf 'Second? ' >/dev/tty\n"
      "dd bs=1 count=1 </dev/tty 2>/dev/null\n";
  RunOptions options = Shell(script);
  TerminalAction esc;
  esc.waitFor = "First? ";
  esc.type = "\x1b";
  TerminalAction y;
  y.waitFor = "Second? ";
  y.type = "y";
  y.delayMs = 20;
  options.actions = {esc, y};
  options.timeoutMs = 20000;
  RunResult r = RunProgram(options);
  EXPECT_EQ(r.out, "\x1by");
  EXPECT_EQ(r.console, "First? Second? ");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(r.timedOut);
}

TEST(RunProgram, SignalActionEndsProgramWithThatSignal) {
  RunOptions options = Shell("printf ready >/dev/tty; exec sleep 30");
  TerminalAction interrupt;
  interrupt.waitFor = "ready";
  interrupt.signal = SIGINT;
  options.actions = {interrupt};
  RunResult r = RunProgram(options);
  EXPECT_EQ(r.signal, SIGINT);
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_FALSE(r.timedOut);
}

TEST(RunProgram, TimeoutKillsProgramAndKeepsItsOutput) {
  RunOptions options = Shell("printf started >/dev/tty; sleep 30");
  options.timeoutMs = 300;
  RunResult r = RunProgram(options);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_EQ(r.console, "started");
}

TEST(RunProgram, ControllingTerminalOnlyWhenAsked) {
  const char* script = "if (: >/dev/tty) 2>/dev/null; then echo tty; else echo none; fi";
  for (bool terminal : {true, false}) {
    RunOptions options = Shell(script);
    options.terminal = terminal;
    RunResult r = RunProgram(options);
    EXPECT_EQ(r.out, terminal ? "tty\n" : "none\n") << "terminal " << terminal;
    EXPECT_EQ(r.exitCode, 0);
  }
}

TEST(RunProgram, InputBytesReachStandardInput) {
  std::string large;
  for (int i = 0; i < 300000; ++i) large += static_cast<char>(i * 7);
  const std::string table[] = {"", std::string("one\r\ntwo\0three\x1a", 15), large};
  for (const std::string& input : table) {
    RunOptions options;
    options.args = {"/bin/cat"};
    options.input = input;
    RunResult r = RunProgram(options);
    EXPECT_TRUE(r.out == input) << "input of " << input.size() << " bytes, got " << r.out.size();
    EXPECT_EQ(r.exitCode, 0);
  }
}

TEST(RunProgram, ReportsWhetherTerminalWasLeftAsFound) {
  // Raw: echo and line input off, output not processed; cooked: line input
  // and echo on.
  const struct {
    bool cooked;
    const char* script;
    bool restored;
  } table[] = {
      {false, "true", true},
      {false, "stty echo </dev/tty", false},
      {false, "stty opost </dev/tty", false},
      {false, "stty echo </dev/tty; stty -echo </dev/tty", true},
      {false, "s=$(stty -g </dev/tty); stty icanon echo </dev/tty; stty $s </dev/tty", true},
      {true, "true", true},
      {true, "stty -icanon -echo </dev/tty", false},
      {true, "s=$(stty -g </dev/tty); stty -icanon -echo </dev/tty; stty $s </dev/tty", true},
  };
  for (const auto& row : table) {
    RunOptions options = Shell(row.script);
    options.cookedInput = row.cooked;
    RunResult r = RunProgram(options);
    EXPECT_EQ(r.terminalRestored, row.restored) << row.script;
    EXPECT_EQ(r.exitCode, 0) << row.script << ": " << r.err;
  }
}

TEST(RunProgram, CookedInputEchoesTypedLine) {
  RunOptions options = Shell("printf 'Name? ' >/dev/tty; read x </dev/tty; printf %s \"$x\"");
  options.cookedInput = true;
  TerminalAction name;
  name.waitFor = "Name? ";
  name.type = "joe\r";
  options.actions = {name};
  options.timeoutMs = 20000;
  RunResult r = RunProgram(options);
  EXPECT_EQ(r.out, "joe");
  EXPECT_EQ(r.console, "Name? joe\n");  // echoed, output still raw
}

TEST(RunProgram, EnvironmentIsFixed) {
  TempDir temp;
  setenv("DUPEHUNT_TEST_LEAK", "1", 1);
  RunOptions options;
  options.args = {"/usr/bin/env"};
  options.tempDir = temp.path();
  options.env = {{"EXTRA", "x y"}, {"TMP", ""}, {"TERM", "dumb"}};
  RunResult r = RunProgram(options);
  unsetenv("DUPEHUNT_TEST_LEAK");
  const char* home = getenv("HOME");
  const char* path = getenv("PATH");
  std::vector<std::string> expected = {
      "EXTRA=x y",
      std::string("HOME=") + (home && *home ? home : "/"),
      "LC_ALL=C",
      std::string("PATH=") + (path && *path ? path : "/usr/local/bin:/usr/bin:/bin"),
      "TEMP=" + temp.path(),
      "TERM=dumb",
      "TMPDIR=" + temp.path(),
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(SortedLines(r.out), expected);
}

TEST(RunProgram, StartsInGivenDirectory) {
  TempDir temp;
  RunOptions options;
  options.args = {"/bin/pwd"};
  options.cwd = temp.path();
  EXPECT_EQ(RunProgram(options).out, temp.path() + "\n");
}

TEST(RunProgram, ProgramThatCannotStartExitsWith127) {
  RunOptions options;
  options.args = {"/nonexistent/program"};
  RunResult r = RunProgram(options);
  EXPECT_EQ(r.exitCode, 127);
  EXPECT_NE(r.err.find("/nonexistent/program"), std::string::npos);
}

TEST(RunProgram, LeavesNoDescriptorsOrChildren) {
  int stray = open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(stray, 0);
  int before = OpenDescriptorCount();
  // What the program leaves running holds its output pipes open.
  RunOptions options = Shell("sleep 30 & ls /proc/$$/fd");
  options.input = "x";
  options.timeoutMs = 20000;
  RunResult r = RunProgram(options);
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  close(stray);
}

TEST(StripSpinner, RemovesFramesOnly) {
  const struct {
    std::string console, expected;
  } table[] = {
      {"a|\r/\r-\r\\\rb", "ab"},
      {"Scanning\r\n|\r/\rTotal", "Scanning\r\nTotal"},
      {"|\r\r\nx", "\r\nx"},
      {"------\r\n", "------\r\n"},  // a line ending in '-' is not a frame
      {"|/-\\", "|/-\\"},
      {"", ""},
  };
  for (const auto& row : table) EXPECT_EQ(StripSpinner(row.console), row.expected);
}

TEST(TempDir, RemovesEverythingWithoutFollowingLinks) {
  TempDir outside;
  WriteFile(outside / "keep/file", "kept");
  std::string path;
  {
    TempDir temp;
    path = temp.path();
    EXPECT_EQ(path.find("dupehunt-test-"), path.rfind('/') + 1);
    WriteFile(temp / "locked/inner/file", "x");
    WriteFile(temp / "readonly/file", "x");
    ASSERT_EQ(symlink((outside / "keep").c_str(), (temp / "link").c_str()), 0);
    ASSERT_EQ(symlink((outside / "keep").c_str(), (temp / "readonly/link").c_str()), 0);
    chmod((temp / "locked/inner").c_str(), 0);
    chmod((temp / "locked").c_str(), 0);
    chmod((temp / "readonly").c_str(), 0500);
  }
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReadFile(outside / "keep/file"), "kept");
}

TEST(FileHelpers, WorkOnRealFiles) {
  TempDir temp;
  const std::string bytes("a\r\n\0\x1a\xff", 6);
  WriteFile(temp / "deep/er/file", bytes);
  EXPECT_EQ(ReadFile(temp / "deep/er/file"), bytes);
  MakeDirs(temp / "deep/er/dir/x");
  MakeDirs(temp / "deep/er/dir/x");
  WriteFile(temp / "deep/er/B", "");
  ASSERT_EQ(symlink("missing", (temp / "deep/er/dangling").c_str()), 0);
  EXPECT_EQ(ListDir(temp / "deep/er"), (std::vector<std::string>{"B", "dangling", "dir", "file"}));
  EXPECT_TRUE(FileExists(temp / "deep/er/dangling"));
  EXPECT_FALSE(FileExists(temp / "deep/missing"));
  EXPECT_EQ(Crlf("a\nb\n\n"), "a\r\nb\r\n\r\n");
}

}  // namespace
