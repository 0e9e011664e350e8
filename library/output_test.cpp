#include <gtest/gtest.h>

#include <string>

#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

struct ProbeResult {
  RunResult run;
  std::string log;
};

ProbeResult Probe(const std::string& scenario, const std::string& logContents = "",
                  const std::string& input = "", bool keepLogMissing = false) {
  TempDir dir;
  std::string log = dir / "log.txt";
  if (!keepLogMissing) WriteFile(log, logContents);
  RunOptions options;
  options.args = {OUTPUT_PROBE_PATH, scenario, log};
  options.tempDir = dir.path();
  options.input = input;
  ProbeResult result;
  result.run = RunProgram(options);
  if (FileExists(log)) result.log = ReadFile(log);
  return result;
}

struct StreamCase {
  const char* scenario;
  const char* logBefore;
  const char* console;
  const char* out;
  const char* log;
  int exitCode;
};

// Each scenario's bytes on the terminal, on standard output and in the log.
const StreamCase kStreamCases[] = {
    {"text", "", "a\r\nb", "", "", 0},
    {"numbers", "", "-2147483648 0 7 -1 18446744073709551615", "", "", 0},
    {"empty", "old", "", "", "old", 0},
    {"log", "old\r\n", "x\r\ny\r\n42\r\n", "append=0\r\n", "old\r\nx\r\ny\r\n42\r\n", 0},
    {"quiet", "", "", "", "hidden\r\nc12", 0},
    {"stdout", "", "", "one\r\ntwo\r\n-5\r\n", "", 0},
    {"append-twice", "", "kept\r\n",
     "[EXECUTION ERROR]\r\nLog file already opened in TLogOutput::AppendFile().\r\n", "kept\r\n",
     121},
    {"append-close-cycle", "", "1\r\n2\r\n", "first=0\r\nclose=0\r\nclose-again=0\r\nsecond=0\r\n",
     "1\r\n2\r\n", 0},
    {"spinner", "", "|\r/\r-\r\\\r|\r", "", "", 0},
    {"exit-memory", "", "before\r\n",
     "[EXECUTION ERROR]\r\nNot enough memory! I need about 256 kb.\r\n", "before\r\n", 110},
    {"exit-empty", "", "", "[EXECUTION ERROR]\r\n", "", 7},
    {"exit-handlers", "", "",
     "[EXECUTION ERROR]\r\nno line end[PROGRAM TERMINATION LOG]\r\n"
     "second registered\r\nfirst registered\r\n",
     "", 3},
    {"exit-handler-null", "", "", "[EXECUTION ERROR]\r\ntext\r\n", "", 4},
    {"exit-recursive", "", "",
     "Error in C:\\Quennel\\Trovak\\Library\\COMMON: recursive shutdown (\"ExitProgram\").\r\n"
     "SHUTDOWN NOT COMPLETE - ABNORMAL PROGRAM TERMINATION\r\n",
     "", 128},
    {"print-line", "", "", "\r\na\r\nb\r\nc", "", 0},
};

TEST(OutputStreams, WriteExactBytesToTerminalStandardOutputAndLog) {
  for (const StreamCase& c : kStreamCases) {
    SCOPED_TRACE(c.scenario);
    ProbeResult r = Probe(c.scenario, c.logBefore);
    EXPECT_EQ(r.run.console, c.console);
    EXPECT_EQ(r.run.out, c.out);
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(r.run.exitCode, c.exitCode);
    EXPECT_EQ(r.run.err, "");
  }
}

TEST(OutputStreams, AppendFileCreatesAMissingLog) {
  ProbeResult r = Probe("log", "", "", /*keepLogMissing=*/true);
  EXPECT_EQ(r.log, "x\r\ny\r\n42\r\n");
  EXPECT_EQ(r.run.out, "append=0\r\n");
}

TEST(OutputStreams, AppendFileInMissingDirectoryFailsAndMayBeRetried) {
  TempDir dir;
  RunOptions options;
  options.args = {OUTPUT_PROBE_PATH, "append-bad", dir / "missing/log.txt"};
  RunResult r = RunProgram(options);
  EXPECT_EQ(r.out, "bad=1\r\nhandle=-1\r\nretry-bad=1\r\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(FileExists(dir / "missing"));
}

TEST(OutputStreams, ConsoleWritesAreDroppedWithoutATerminal) {
  TempDir dir;
  std::string log = dir / "log.txt";
  RunOptions options;
  options.args = {OUTPUT_PROBE_PATH, "log", log};
  options.terminal = false;
  RunResult r = RunProgram(options);
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(log), "x\r\ny\r\n42\r\n");
}

const char kPrompt[] =
    "\x8d\xa0\xa6\xac\xa8\xe2\xa5 \xab\xee\xa1\xe3\xee \xaa\xab\xa0\xa2\xa8\xe8\xe3 "
    "\xa4\xab\xef \xaf\xe0\xae\xa4\xae\xab\xa6\xa5\xad\xa8\xef...\r";
const std::string kBlank = std::string(40, ' ') + "\r";

TEST(Pager, WaitKeyShowsPromptReadsOneCharacterAndErasesPrompt) {
  ProbeResult withKey = Probe("waitkey", "", "q\n");
  EXPECT_EQ(std::string(kPrompt).size(), 41u);
  EXPECT_EQ(withKey.run.console, kPrompt + kBlank);
  EXPECT_EQ(withKey.run.out, "key=113\r\n");

  ProbeResult atEnd = Probe("waitkey");
  EXPECT_EQ(atEnd.run.console, kPrompt + kBlank);
  EXPECT_EQ(atEnd.run.out, "key=-1\r\n");
}

std::string Lines(int count, const std::string& tail = "") {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "line" + std::to_string(i) + "\n";
  return text + tail;
}

// Where the pager pauses: after the given line ends (0 is "after the text").
struct PagedCase {
  std::string text;
  std::vector<int> pausesAfterLine;
};

std::string ExpectedPaged(const PagedCase& c) {
  std::string pause = kPrompt + kBlank;
  std::string expected;
  int line = 0;
  bool pausedAtEnd = false;
  for (char ch : c.text) {
    expected += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    if (ch == '\n') {
      ++line;
      for (int p : c.pausesAfterLine) {
        if (p == line) expected += pause;
      }
    }
  }
  for (int p : c.pausesAfterLine) {
    if (p == 0) pausedAtEnd = true;
  }
  if (pausedAtEnd) expected += pause;
  return expected;
}

TEST(Pager, PausesAfterEveryScreenfulAndOnceAfterTheText) {
  const PagedCase cases[] = {
      {Lines(50), {23, 46, 0}}, {Lines(23), {23}}, {Lines(23, "more"), {23}}, {"", {0}},
      {"no line end", {0}},
  };
  for (const PagedCase& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    TempDir dir;
    std::string textFile = dir / "text";
    WriteFile(textFile, c.text);
    RunOptions options;
    options.args = {OUTPUT_PROBE_PATH, "paged", textFile};
    RunResult r = RunProgram(options);
    EXPECT_EQ(r.console, ExpectedPaged(c));
    EXPECT_EQ(r.exitCode, 0);
  }
}

}  // namespace
