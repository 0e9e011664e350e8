// Black-box tests: the built Purgon32 run on list files in a temporary
// directory; standard output, the console, exit codes and the files left.
// The same tables run against the native program and, registered as Wine
// tests, against Purgon32.exe (see testing/program_under_test.h).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "testing/program_under_test.h"
#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

// The banner line: version, attribution, build date (day zero-padded) and time.
const std::regex kBanner(
    "Purgon 1\\.2/Win32 .* [A-Z][a-z][a-z] [0-3][0-9] [0-9]{4} "
    "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\r\n");

const ProgramUnderTest& Under() { return ProgramUnderTest::Current(); }

RunResult RunPurgon(const std::vector<std::string>& args, const std::string& cwd) {
  RunOptions options;
  options.args = args;
  options.cwd = cwd;
  options.terminal = true;  // so that anything written to the console shows
  return Under().Run(Program::kPurgon, options);
}

// Checks that the run printed the banner, then exactly text (LF line ends,
// sent as CR LF) on standard output, nothing on the console (natively) or
// standard error, and ended with code.
void ExpectOutput(const RunResult& run, const std::string& text, int code) {
  SCOPED_TRACE(Under().name());
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, code);
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.out.compare(0, 17, "Purgon 1.2/Win32 "), 0) << run.out;
  const size_t bannerEnd = run.out.find("\r\n") + 2;
  EXPECT_TRUE(std::regex_match(run.out.substr(0, bannerEnd), kBanner)) << run.out;
  EXPECT_EQ(run.out.substr(bannerEnd), Crlf(text));
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// "./" repeated, then name: a relative path of exactly length bytes that
// names name in the current directory.
std::string DotPath(size_t length, const std::string& name) {
  std::string path;
  while (path.size() + 2 + name.size() <= length) path += "./";
  if (path.size() + name.size() < length) path += "/";
  return path + name;
}

TEST(PurgonTest, RefusesWrongArgumentsAndListsThatCannotBeOpened) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string expected;
    int code;
  };
  const Case cases[] = {
      {"no argument", {}, "USAGE: Purgon32.exe <delete-list-file-name>\n", 1},
      {"two arguments",
       {"list.txt", "list.txt"},
       "USAGE: Purgon32.exe <delete-list-file-name>\n",
       1},
      {"missing list", {"missing.txt"}, "Error open file: missing.txt\n", 2},
      {"directory as list", {"dir"}, "Error open file: dir\n", 2},
      {"directory as list, trailing separator", {"dir/"}, "Error open file: dir/\n", 2},
      {"unreadable list", {"locked.txt"}, "Error open file: locked.txt\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    WriteFile(tmp / "victim", "x");
    WriteFile(tmp / "list.txt", "victim\n");
    WriteFile(tmp / "locked.txt", "victim\n");
    MakeDirs(tmp / "dir");
    if (c.args == std::vector<std::string>{"locked.txt"}) {
      if (geteuid() == 0) {
        std::printf("unreadable list case skipped: root reads every file\n");
        continue;
      }
      chmod((tmp / "locked.txt").c_str(), 0);
    }
    ExpectOutput(RunPurgon(c.args, tmp.path()), c.expected, c.code);
    EXPECT_TRUE(FileExists(tmp / "victim"));
  }
}

enum class Kind { kFile, kReadOnly, kDirectory, kLink };

struct Entry {
  Kind kind;
  std::string name;
  std::string target = "";  // links only
};

void Create(const std::string& dir, const Entry& entry) {
  const std::string path = dir + "/" + entry.name;
  switch (entry.kind) {
    case Kind::kFile:
      WriteFile(path, "x");
      break;
    case Kind::kReadOnly:
      WriteFile(path, "x");
      ASSERT_EQ(chmod(path.c_str(), 0444), 0);
      break;
    case Kind::kDirectory:
      MakeDirs(path);
      break;
    case Kind::kLink:
      ASSERT_EQ(symlink(entry.target.c_str(), path.c_str()), 0);
      break;
  }
}

TEST(PurgonTest, DeletesWhatEachLineNamesAndReportsTheRest) {
  const ProgramUnderTest& under = Under();
  const size_t longest = under.longestPath();
  const size_t full = longest - 1;  // the longest name a line can hold
  const std::string fits = DotPath(full, "a");
  // What a case needs of the platform besides deleting plain files.
  enum Needs { kAny, kExactNames, kSymbolicLinks };
  struct Case {
    const char* what;
    std::vector<Entry> entries;  // made in the working directory first
    std::string list;            // "{work}" stands for the working directory
    std::string expected;        // after the banner, LF line ends
    std::vector<std::string> gone;
    std::vector<std::string> kept;
    Needs needs = kAny;
  };
  const std::string tooLong = std::string(3 * longest, 'x');
  const Case cases[] = {
      {"empty list", {}, "", "1 lines -- 0 files removed.\n", {}, {}},
      {"two names, final line end",
       {{Kind::kFile, "a"}, {Kind::kFile, "b"}},
       "a\nb\n",
       "3 lines -- 2 files removed.\n",
       {"a", "b"},
       {}},
      {"two names, no final line end",
       {{Kind::kFile, "a"}, {Kind::kFile, "b"}},
       "a\nb",
       "2 lines -- 2 files removed.\n",
       {"a", "b"},
       {}},
      {"CR LF line ends",
       {{Kind::kFile, "a"}, {Kind::kFile, "b"}},
       "a\r\nb\r\n",
       "3 lines -- 2 files removed.\n",
       {"a", "b"},
       {}},
      {"white space only lines",
       {{Kind::kFile, "a"}},
       " \t \n\n\v\f\r\na\n",
       "5 lines -- 1 files removed.\n",
       {"a"},
       {}},
      {"leading blanks are part of the name",
       {{Kind::kFile, " a"}, {Kind::kFile, "a"}},
       " a\n",
       "2 lines -- 1 files removed.\n",
       {" a"},
       {"a"}},
      {"trailing blanks, tabs and CR trimmed",
       {{Kind::kFile, "a"}, {Kind::kFile, "b"}},
       "a \t\r \t\r\nb\r",
       "2 lines -- 2 files removed.\n",
       {"a", "b"},
       {}},
      {"lone CR inside a name",
       {{Kind::kFile, "a\rb"}, {Kind::kFile, "a"}, {Kind::kFile, "b"}},
       "a\rb\n",
       "2 lines -- 1 files removed.\n",
       {"a\rb"},
       {"a", "b"},
       kExactNames},
      {"Ctrl-Z ends the list mid-line",
       {{Kind::kFile, "a"}, {Kind::kFile, "b"}, {Kind::kFile, "bc"}, {Kind::kFile, "c"}},
       std::string("a\nb\032c\nc\n"),
       "2 lines -- 2 files removed.\n",
       {"a", "b"},
       {"bc", "c"}},
      {"high bytes at the end kept",
       {{Kind::kFile, "a"}, {Kind::kFile, "a\xa0"}, {Kind::kFile, "b"}, {Kind::kFile, "b\xff"}},
       "a\xa0\nb\xff\n",
       "3 lines -- 2 files removed.\n",
       {"a\xa0", "b\xff"},
       {"a", "b"},
       kExactNames},
      {"longest name that fits",
       {{Kind::kFile, "a"}},
       fits + "\n",
       "2 lines -- 1 files removed.\n",
       {"a"},
       {}},
      {"one byte too long: reported once, nothing of it deleted",
       {{Kind::kFile, "a"}, {Kind::kFile, "abc"}, {Kind::kFile, "c"}, {Kind::kFile, "d"}},
       fits + "bc\nd\n",
       "Unable to delete: " + fits + "\n3 lines -- 1 files removed.\n",
       {"d"},
       {"a", "abc", "c"}},
      {"far too long: one line, reported once",
       {{Kind::kFile, "x"}},
       tooLong + "\nx",
       "Unable to delete: " + tooLong.substr(0, full) + "\n2 lines -- 1 files removed.\n",
       {"x"},
       {}},
      {"long trailing white space is no part of the name",
       {{Kind::kFile, "a"}},
       "a" + std::string(2 * longest, ' ') + "\n",
       "2 lines -- 1 files removed.\n",
       {"a"},
       {}},
      {"long white space only line names nothing",
       {},
       std::string(2 * longest, '\t') + "\n",
       "2 lines -- 0 files removed.\n",
       {},
       {}},
      {"NUL inside a line",
       {{Kind::kFile, "ab"}, {Kind::kFile, "abc"}},
       std::string("ab\0c\n", 5),
       "Unable to delete: ab\n2 lines -- 0 files removed.\n",
       {},
       {"ab", "abc"}},
      {"NUL at the start of a line",
       {{Kind::kFile, "a"}},
       std::string("\0a\na\n", 5),
       "Unable to delete: \n3 lines -- 1 files removed.\n",
       {"a"},
       {}},
      {"read-only file",
       {{Kind::kReadOnly, "r"}},
       "r\n",
       "Unable to delete: r\n2 lines -- 0 files removed.\n",
       {},
       {"r"}},
      {"directory",
       {{Kind::kDirectory, "d"}},
       "d\n",
       "Unable to delete: d\n2 lines -- 0 files removed.\n",
       {},
       {"d"}},
      {"missing file",
       {},
       "nope\n",
       "Unable to delete: nope\n2 lines -- 0 files removed.\n",
       {},
       {}},
      {"file named twice",
       {{Kind::kFile, "a"}},
       "a\na\n",
       "Unable to delete: a\n3 lines -- 1 files removed.\n",
       {"a"},
       {}},
      {"wildcards are not expanded",
       {{Kind::kFile, "a"}},
       "*\n?\n",
       "Unable to delete: *\nUnable to delete: ?\n3 lines -- 0 files removed.\n",
       {},
       {"a"}},
      {"relative name from the current directory",
       {{Kind::kFile, "sub/f"}},
       "sub/f\n",
       "2 lines -- 1 files removed.\n",
       {"sub/f"},
       {"sub"}},
      {"absolute name",
       {{Kind::kFile, "g"}},
       "{work}/g\n",
       "2 lines -- 1 files removed.\n",
       {"g"},
       {}},
      {"symbolic links removed, never their targets",
       {{Kind::kFile, "target"},
        {Kind::kDirectory, "d"},
        {Kind::kFile, "d/inner"},
        {Kind::kLink, "to-file", "target"},
        {Kind::kLink, "to-dir", "d"},
        {Kind::kLink, "dangling", "nowhere"}},
       "to-file\nto-dir\ndangling\n",
       "4 lines -- 3 files removed.\n",
       {"to-file", "to-dir", "dangling"},
       {"target", "d", "d/inner"},
       kSymbolicLinks},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if ((c.needs == kExactNames && !under.exactNames()) ||
        (c.needs == kSymbolicLinks && !under.symbolicLinks())) {
      std::printf("case \"%s\" skipped: the %s build sees names differently\n", c.what,
                  under.name());
      continue;
    }
    TempDir tmp;
    const std::string work = tmp / "work";
    MakeDirs(work);
    for (const Entry& entry : c.entries) Create(work, entry);
    const std::string workPath = under.Path(work);
    WriteFile(tmp / "list.txt", Replace(c.list, "{work}", workPath));
    ExpectOutput(RunPurgon({under.Path(tmp / "list.txt")}, work),
                 Replace(c.expected, "{work}", workPath), 0);
    for (const std::string& name : c.gone) EXPECT_FALSE(FileExists(work + "/" + name)) << name;
    for (const std::string& name : c.kept) EXPECT_TRUE(FileExists(work + "/" + name)) << name;
  }
}

// Turns a comparing log into a delete list: of each group the first path is
// kept (the copy that stays) and every further path is listed; the heading,
// the separator lines and the summary are left out. Users are given the same
// command.
const char kLogToDeleteList[] =
    "awk '{ sub(/\\r$/, \"\") } /^ $/ { g = 1; next } /^Summary:$/ { g = 0; next } "
    "g == 1 { g = 2; next } g == 2' log.txt > delete.txt";

// Splits CR LF text into lines.
std::vector<std::string> CrlfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

TEST(PurgonWorkflowTest, ListMadeFromFinderLogDeletesExactlyTheExtraCopies) {
  if (!FileExists("/usr/bin/awk")) GTEST_SKIP() << "no awk on this machine";
  const ProgramUnderTest& under = Under();
  TempDir tmp;
  const std::string tree = tmp / "tree";
  std::string big;
  for (int i = 0; i < 5000; ++i) big += static_cast<char>('a' + i % 23);
  std::string bigOther = big;
  bigOther[4999] = '#';
  const std::string small = "a small file of its own\n";
  const std::vector<std::vector<std::string>> groups = {
      {tree + "/a1", tree + "/sub/a2", tree + "/sub/deep/a3"},
      {tree + "/b1", tree + "/other/b2"},
  };
  for (const std::string& path : groups[0]) WriteFile(path, big);
  for (const std::string& path : groups[1]) WriteFile(path, small);
  const std::vector<std::string> singles = {tree + "/same-size", tree + "/other/single"};
  WriteFile(singles[0], bigOther);
  WriteFile(singles[1], "nothing like it\n");
  MakeDirs(tmp / "temp");

  RunOptions finder;
  finder.args = {under.Path(tree), "/L=log.txt"};
  finder.cwd = tmp.path();
  finder.tempDir = tmp / "temp";
  const RunResult found = under.Run(Program::kDupehunt, finder);
  ASSERT_EQ(found.exitCode, 0) << StripSpinner(found.console);
  const std::string log = ReadFile(tmp / "log.txt");

  RunOptions edit;
  edit.args = {"/bin/sh", "-c", kLogToDeleteList};
  edit.cwd = tmp.path();
  edit.terminal = false;
  ASSERT_EQ(RunProgram(edit).exitCode, 0);
  const std::string list = ReadFile(tmp / "delete.txt");
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 3) << list;

  ExpectOutput(RunPurgon({"delete.txt"}, tmp.path()), "4 lines -- 3 files removed.\n", 0);

  // The first path of each group in the log is the copy that stays.
  const std::vector<std::string> lines = CrlfLines(log);
  std::vector<std::string> firsts;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == " " && lines[i + 1] != "Summary:") firsts.push_back(lines[i + 1]);
  }
  ASSERT_EQ(firsts.size(), 2u) << log;
  for (const std::vector<std::string>& group : groups) {
    int left = 0;
    for (const std::string& path : group) {
      if (!FileExists(path)) continue;
      ++left;
      EXPECT_NE(std::find(firsts.begin(), firsts.end(), under.Path(path)), firsts.end()) << path;
    }
    EXPECT_EQ(left, 1) << group[0];
  }
  for (const std::string& path : singles) EXPECT_TRUE(FileExists(path)) << path;
}

}  // namespace
