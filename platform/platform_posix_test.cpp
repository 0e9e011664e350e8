#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/test_support.h"

namespace {

// The wait status of a child, once it has ended.
int WaitChild(pid_t pid) {
  int status = -1;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Runs body in a forked child whose result is its exit code; returns the
// wait status. Output buffered by the test runner is flushed first so the
// child does not repeat it.
int RunInChild(const std::function<int()>& body) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return WaitChild(pid);
}

// Everything a child writes to standard output, and its wait status.
struct ChildOutput {
  std::string out;
  int status = -1;
};

ChildOutput CaptureStdOut(const std::function<void()>& body) {
  ChildOutput result;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return result;
  }
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[1]);
    body();
    _exit(0);
  }
  close(pipeFds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  result.status = WaitChild(pid);
  return result;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode;
}

// ---------------------------------------------------------------------------
// Text-mode files.

TEST(PlatformFile, AppendTextWritesCrLfAfterExistingContents) {
  struct Case {
    const char* name;
    bool exists;
    std::string before;
    std::vector<std::string> writes;
    std::string after;
  };
  const std::string manyLines(10000, '\n');
  const Case cases[] = {
      {"missing file is created", false, "", {"a\nb"}, "a\r\nb"},
      {"empty file", true, "", {"x\n"}, "x\r\n"},
      {"contents kept, not translated", true, "old\nline\r\n", {"new\n"}, "old\nline\r\nnew\r\n"},
      {"several writes follow each other", true, "1", {"\n2", "", "\n\n"}, "1\r\n2\r\n\r\n"},
      {"lone CR and NUL pass unchanged",
       false,
       "",
       {std::string("a\rb\0c", 5)},
       std::string("a\rb\0c", 5)},
      {"long text crosses the write chunks", false, "", {manyLines}, Crlf(manyLines)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / "log.txt";
    unlink(path.c_str());
    if (c.exists) WriteFile(path, c.before);
    int handle = FileOpenAppendText(path.c_str());
    ASSERT_GE(handle, 0);
    for (const std::string& text : c.writes)
      EXPECT_EQ(0, FileWrite(handle, text.data(), text.size()));
    EXPECT_EQ(0, FileClose(handle));
    EXPECT_EQ(c.after, ReadFile(path));
  }
}

TEST(PlatformFile, AppendTextLandsAtEndAfterOtherWriters) {
  TempDir dir;
  std::string path = dir / "log.txt";
  int handle = FileOpenAppendText(path.c_str());
  ASSERT_GE(handle, 0);
  EXPECT_EQ(0, FileWrite(handle, "a\n", 2));
  int other = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(other, 0);
  ASSERT_EQ(5, write(other, "other", 5));
  close(other);
  EXPECT_EQ(0, FileWrite(handle, "b\n", 2));
  EXPECT_EQ(0, FileClose(handle));
  EXPECT_EQ("a\r\notherb\r\n", ReadFile(path));
}

TEST(PlatformFile, AppendTextFailsOnMissingDirectoryAndOnDirectory) {
  TempDir dir;
  EXPECT_EQ(-1, FileOpenAppendText((dir / "missing/log.txt").c_str()));
  EXPECT_EQ(-1, FileOpenAppendText(dir.path().c_str()));
  EXPECT_FALSE(FileExists(dir / "missing"));
}

TEST(PlatformFile, WriteReportsFailureAndShortWrite) {
  if (access("/dev/full", W_OK) == 0) {
    int handle = FileOpenAppendText("/dev/full");
    ASSERT_GE(handle, 0);
    EXPECT_EQ(-1, FileWrite(handle, "x\n", 2));
    FileClose(handle);
  } else {
    printf("skipped /dev/full: not present\n");
  }

  TempDir dir;
  std::string path = dir / "ro.txt";
  WriteFile(path, "data");
  int readOnly = FileOpenRead(path.c_str());
  ASSERT_GE(readOnly, 0);
  EXPECT_EQ(-1, FileWrite(readOnly, "x", 1));
  EXPECT_EQ(0, FileClose(readOnly));
  EXPECT_EQ(-1, FileWrite(-1, "x", 1));

  // A file size limit makes the kernel accept only part of the bytes.
  int status = RunInChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {10, 10};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    std::string name;
    int handle = FileCreateTemp(dir.path().c_str(), "~ZORB", &name);
    if (handle < 0) return 3;
    char bytes[100] = {};
    return FileWrite(handle, bytes, sizeof bytes) == -1 ? 0 : 1;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(PlatformFile, CloseReleasesHandleAndReportsBadHandle) {
  TempDir dir;
  std::string path = dir / "f";
  WriteFile(path, "x");
  int handle = FileOpenRead(path.c_str());
  ASSERT_GE(handle, 0);
  EXPECT_EQ(0, FileClose(handle));
  EXPECT_EQ(-1, FileClose(handle));
  EXPECT_EQ(-1, FileClose(-1));
}

// ---------------------------------------------------------------------------
// Reading.

TEST(PlatformFile, ReadGivesBytesAndReadAtKeepsPosition) {
  TempDir dir;
  std::string path = dir / "data.bin";
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(i * 7);
  WriteFile(path, bytes);
  int handle = FileOpenRead(path.c_str());
  ASSERT_GE(handle, 0);

  char head[10];
  ASSERT_EQ(10, FileRead(handle, head, sizeof head));
  EXPECT_EQ(bytes.substr(0, 10), std::string(head, 10));

  std::string middle(5000, '\0');
  ASSERT_EQ(5000, FileReadAt(handle, &middle[0], middle.size(), 50000));
  EXPECT_EQ(bytes.substr(50000, 5000), middle);
  char tail[100];
  EXPECT_EQ(40, FileReadAt(handle, tail, sizeof tail, bytes.size() - 40));
  EXPECT_EQ(0, FileReadAt(handle, tail, sizeof tail, bytes.size() + 10));

  // The position is still after the first read; the rest comes whole, then 0.
  std::string rest(bytes.size(), '\0');
  EXPECT_EQ(static_cast<long long>(bytes.size() - 10), FileRead(handle, &rest[0], rest.size()));
  rest.resize(bytes.size() - 10);
  EXPECT_EQ(bytes.substr(10), rest);
  EXPECT_EQ(0, FileRead(handle, head, sizeof head));
  EXPECT_EQ(0, FileClose(handle));
}

TEST(PlatformFile, OpenReadRefusesFifoDirectoryAndMissingWithoutBlocking) {
  TempDir dir;
  std::string fifo = dir / "fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  // A blocking open or read would hang here; the alarm ends the test instead.
  alarm(30);
  EXPECT_EQ(-1, FileOpenRead(fifo.c_str()));
  EXPECT_EQ(-1, FileOpenRead(dir.path().c_str()));
  EXPECT_EQ(-1, FileOpenRead((dir / "missing").c_str()));
  alarm(0);
}

// ---------------------------------------------------------------------------
// Temporary file.

TEST(PlatformTemp, NameIsDirPrefixAndFirstFreeNumber) {
  TempDir dir;
  std::string name;
  int first = FileCreateTemp(dir.path().c_str(), "~ZORB", &name);
  ASSERT_GE(first, 0);
  EXPECT_EQ(dir / "~ZORB1", name);
  EXPECT_EQ(static_cast<mode_t>(S_IFREG | 0600), ModeOf(name));

  // Binary: a line feed stays one byte.
  EXPECT_EQ(0, FileWrite(first, "a\nb", 3));
  EXPECT_EQ(0, FileClose(first));
  EXPECT_EQ("a\nb", ReadFile(name));

  // A directory ending in a separator gets none added.
  int second = FileCreateTemp((dir.path() + "/").c_str(), "~ZORB", &name);
  ASSERT_GE(second, 0);
  EXPECT_EQ(dir / "~ZORB2", name);
  EXPECT_EQ(0, FileClose(second));
  EXPECT_EQ("a\nb", ReadFile(dir / "~ZORB1"));

  // Taken names, whatever they are, are passed over; no leading zeros.
  for (int i = 3; i <= 10; ++i) WriteFile(dir / ("~ZORB" + std::to_string(i)), "taken");
  ASSERT_EQ(0, mkdir((dir / "~ZORB11").c_str(), 0755));
  int later = FileCreateTemp(dir.path().c_str(), "~ZORB", &name);
  ASSERT_GE(later, 0);
  EXPECT_EQ(dir / "~ZORB12", name);
  EXPECT_EQ(0, FileClose(later));
  EXPECT_EQ("taken", ReadFile(dir / "~ZORB3"));
}

TEST(PlatformTemp, PlantedSymlinkIsNeverFollowed) {
  TempDir dir;
  std::string target = dir / "target";
  WriteFile(target, "precious");
  ASSERT_EQ(0, symlink(target.c_str(), (dir / "~ZORB1").c_str()));
  ASSERT_EQ(0, symlink((dir / "nowhere").c_str(), (dir / "~ZORB2").c_str()));

  std::string name;
  int handle = FileCreateTemp(dir.path().c_str(), "~ZORB", &name);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(dir / "~ZORB3", name);
  EXPECT_EQ(0, FileWrite(handle, "junk", 4));
  EXPECT_EQ(0, FileClose(handle));
  EXPECT_EQ("precious", ReadFile(target));
  EXPECT_FALSE(FileExists(dir / "nowhere"));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "~ZORB1")));
}

TEST(PlatformTemp, UnusableDirectoryFallsBackToTmpdir) {
  TempDir dir;
  TempDir fallback;
  ScopedEnv tmpdir("TMPDIR", fallback.path().c_str());
  WriteFile(dir / "plain", "file, not a directory");
  const std::string unusable[] = {dir / "missing", dir / "plain", dir / "missing/deeper/"};
  int number = 0;
  for (const std::string& given : unusable) {
    SCOPED_TRACE(given);
    std::string name;
    int handle = FileCreateTemp(given.c_str(), "~ZORB", &name);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(fallback / ("~ZORB" + std::to_string(++number)), name);
    EXPECT_EQ(0, FileClose(handle));
  }
  EXPECT_EQ((std::vector<std::string>{"plain"}), ListDir(dir.path()));
}

TEST(PlatformTemp, FailureLeavesLastNameTried) {
  TempDir dir;
  std::string longPrefix(NAME_MAX + 10, 'x');
  ScopedEnv tmpdir("TMPDIR", dir.path().c_str());
  std::string name;
  // A prefix too long for any directory: nothing can be created anywhere.
  EXPECT_EQ(-1, FileCreateTemp(dir.path().c_str(), longPrefix.c_str(), &name));
  EXPECT_EQ("/tmp/" + longPrefix + "1", name);
  EXPECT_TRUE(ListDir(dir.path()).empty());
}

// ---------------------------------------------------------------------------
// Deleting listed files.

TEST(PlatformDelete, ListedDeleteRefusesDirectoriesAndReadOnlyFiles) {
  TempDir dir;
  WriteFile(dir / "regular", "r");
  WriteFile(dir / "readonly", "r");
  ASSERT_EQ(0, chmod((dir / "readonly").c_str(), 0444));
  WriteFile(dir / "groupwritable", "g");
  ASSERT_EQ(0, chmod((dir / "groupwritable").c_str(), 0464));
  MakeDirs(dir / "directory");
  WriteFile(dir / "target", "stays");
  ASSERT_EQ(0, symlink((dir / "target").c_str(), (dir / "link").c_str()));
  ASSERT_EQ(0, symlink((dir / "directory").c_str(), (dir / "dirlink").c_str()));
  ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));

  struct Case {
    const char* name;
    int result;
    bool remains;
  };
  const Case cases[] = {
      {"regular", 0, false},   {"readonly", -1, true}, {"groupwritable", 0, false},
      {"directory", -1, true}, {"missing", -1, false}, {"link", 0, false},
      {"dirlink", 0, false},   {"fifo", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result, FileDeleteListed((dir / c.name).c_str()));
    EXPECT_EQ(c.remains, FileExists(dir / c.name));
  }
  EXPECT_EQ("stays", ReadFile(dir / "target"));
  EXPECT_TRUE(S_ISDIR(ModeOf(dir / "directory")));
}

TEST(PlatformDelete, DeleteRemovesFilesButNotDirectories) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  MakeDirs(dir / "d");
  EXPECT_EQ(0, FileDelete((dir / "f").c_str()));
  EXPECT_FALSE(FileExists(dir / "f"));
  EXPECT_EQ(-1, FileDelete((dir / "f").c_str()));
  EXPECT_EQ(-1, FileDelete((dir / "d").c_str()));
  EXPECT_TRUE(FileExists(dir / "d"));
}

// ---------------------------------------------------------------------------
// Delete-list reading.

TEST(PlatformList, GivesRawBytesThenEnd) {
  TempDir dir;
  std::string bytes = std::string(
      "a\r\nb\0c\x1a"
      "d\xff\r",
      10);
  // Long enough to need more than one buffer fill.
  std::string big;
  for (int i = 0; i < 200000; ++i) big += static_cast<char>(i % 251);
  const std::string contents[] = {"", bytes, big};
  for (const std::string& content : contents) {
    SCOPED_TRACE(content.size());
    WriteFile(dir / "list", content);
    int list = ListOpen((dir / "list").c_str());
    ASSERT_GE(list, 0);
    std::string read;
    int c;
    while ((c = ListGetByte(list)) != -1) {
      ASSERT_GE(c, 0);
      ASSERT_LE(c, 255);
      read += static_cast<char>(c);
    }
    EXPECT_EQ(-1, ListGetByte(list));
    ListClose(list);
    EXPECT_TRUE(read == content);
  }
}

TEST(PlatformList, OpenFailsOnDirectoryAndMissingFile) {
  TempDir dir;
  EXPECT_EQ(-1, ListOpen(dir.path().c_str()));
  EXPECT_EQ(-1, ListOpen((dir / "missing").c_str()));
  EXPECT_EQ(-1, ListGetByte(-1));
}

// ---------------------------------------------------------------------------
// Directories.

std::map<std::string, DirEntry> ReadAll(int handle) {
  std::map<std::string, DirEntry> entries;
  DirEntry entry;
  int rc;
  while ((rc = DirNext(handle, &entry)) == 1) entries[entry.name] = entry;
  EXPECT_EQ(0, rc);
  return entries;
}

TEST(PlatformDir, EntriesAreClassifiedWithoutFollowingLinks) {
  TempDir dir;
  WriteFile(dir / "file", "12345");
  WriteFile(dir / "empty", "");
  WriteFile(dir / ".hidden", "hidden");
  MakeDirs(dir / "sub");
  MakeDirs(dir / ".dotdir");
  ASSERT_EQ(0, link((dir / "file").c_str(), (dir / "hardlink").c_str()));
  ASSERT_EQ(0, symlink("file", (dir / "filelink").c_str()));
  ASSERT_EQ(0, symlink("sub", (dir / "dirlink").c_str()));
  ASSERT_EQ(0, symlink("nowhere", (dir / "dangling").c_str()));
  ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));

  FileIdentity identity;
  int handle = DirOpen(kCurrentDir, dir.path().c_str(), &identity);
  ASSERT_GE(handle, 0);
  struct stat st;
  ASSERT_EQ(0, stat(dir.path().c_str(), &st));
  EXPECT_EQ(static_cast<uint64_t>(st.st_ino), identity.inode);
  EXPECT_EQ(static_cast<uint64_t>(st.st_dev), identity.device);

  std::map<std::string, DirEntry> entries = ReadAll(handle);
  DirClose(handle);

  struct Expected {
    const char* name;
    EntryKind kind;
    uint64_t size;
    uint64_t links;
  };
  const Expected expected[] = {
      {".", EntryKind::kDirectory, 0, 1},    {"..", EntryKind::kDirectory, 0, 1},
      {"file", EntryKind::kFile, 5, 2},      {"hardlink", EntryKind::kFile, 5, 2},
      {"empty", EntryKind::kFile, 0, 1},     {".hidden", EntryKind::kFile, 6, 1},
      {"sub", EntryKind::kDirectory, 0, 1},  {".dotdir", EntryKind::kDirectory, 0, 1},
      {"filelink", EntryKind::kOther, 0, 1}, {"dirlink", EntryKind::kOther, 0, 1},
      {"dangling", EntryKind::kOther, 0, 1}, {"fifo", EntryKind::kOther, 0, 1},
  };
  EXPECT_EQ(sizeof expected / sizeof expected[0], entries.size());
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    auto found = entries.find(e.name);
    ASSERT_NE(entries.end(), found);
    EXPECT_EQ(e.kind, found->second.kind);
    EXPECT_EQ(e.size, found->second.size);
    EXPECT_EQ(e.links, found->second.links);
    if (e.kind == EntryKind::kFile) {
      ASSERT_EQ(0, lstat((dir / e.name).c_str(), &st));
      EXPECT_EQ(static_cast<uint64_t>(st.st_ino), found->second.identity.inode);
      EXPECT_EQ(static_cast<uint64_t>(st.st_dev), found->second.identity.device);
    }
  }
  EXPECT_TRUE(entries["file"].identity == entries["hardlink"].identity);
}

TEST(PlatformDir, OpensBelowParentHandleAndNeverThroughLinks) {
  TempDir dir;
  WriteFile(dir / "a/b/inner", "x");
  ASSERT_EQ(0, symlink("a", (dir / "link").c_str()));

  int top = DirOpen(kCurrentDir, dir.path().c_str(), nullptr);
  ASSERT_GE(top, 0);
  FileIdentity aId;
  int a = DirOpen(top, "a", &aId);
  ASSERT_GE(a, 0);
  int b = DirOpen(a, "b", nullptr);
  ASSERT_GE(b, 0);
  std::map<std::string, DirEntry> entries = ReadAll(b);
  EXPECT_EQ(3u, entries.size());
  EXPECT_EQ(EntryKind::kFile, entries["inner"].kind);

  struct stat st;
  ASSERT_EQ(0, stat((dir / "a").c_str(), &st));
  EXPECT_EQ(static_cast<uint64_t>(st.st_ino), aId.inode);

  EXPECT_EQ(-1, DirOpen(top, "link", nullptr));
  EXPECT_EQ(-1, DirOpen(top, "missing", nullptr));
  EXPECT_EQ(-1, DirOpen(a, "b/inner", nullptr));
  EXPECT_EQ(-1, DirOpen(12345, "a", nullptr));
  DirClose(b);
  DirClose(a);
  DirClose(top);
}

TEST(PlatformDir, EmptyDirectoryGivesDotEntriesOnly) {
  TempDir dir;
  int handle = DirOpen(kCurrentDir, dir.path().c_str(), nullptr);
  ASSERT_GE(handle, 0);
  std::map<std::string, DirEntry> entries = ReadAll(handle);
  DirEntry entry;
  EXPECT_EQ(0, DirNext(handle, &entry));
  DirClose(handle);
  EXPECT_EQ(2u, entries.size());
  EXPECT_EQ(1u, entries.count("."));
  EXPECT_EQ(1u, entries.count(".."));
}

TEST(PlatformDir, CurrentDirIsSavedAndRestored) {
  TempDir dir;
  MakeDirs(dir / "x");
  int saved = SaveCurrentDir();
  ASSERT_GE(saved, 0);
  std::string before;
  ASSERT_TRUE(GetCurrentDir(&before));

  ASSERT_EQ(0, ChangeDir((dir / "x").c_str()));
  std::string inside;
  ASSERT_TRUE(GetCurrentDir(&inside));
  EXPECT_EQ(dir / "x", inside);
  EXPECT_EQ(-1, ChangeDir("missing"));

  EXPECT_EQ(0, RestoreCurrentDir(saved));
  ReleaseSavedDir(saved);
  std::string after;
  ASSERT_TRUE(GetCurrentDir(&after));
  EXPECT_EQ(before, after);
}

TEST(PlatformDir, CurrentDirLongerThanPathMax) {
  TempDir dir;
  int saved = SaveCurrentDir();
  ASSERT_GE(saved, 0);
  ASSERT_EQ(0, chdir(dir.path().c_str()));
  const std::string component(200, 'd');
  std::string expected = dir.path();
  int depth = 0;
  while (expected.size() <= 2 * PATH_MAX) {
    ASSERT_EQ(0, mkdir(component.c_str(), 0755));
    ASSERT_EQ(0, chdir(component.c_str()));
    expected += "/" + component;
    ++depth;
  }
  std::string path;
  EXPECT_TRUE(GetCurrentDir(&path));
  EXPECT_EQ(expected, path);

  // Saved handles work where the path is too long to name.
  int deep = SaveCurrentDir();
  EXPECT_GE(deep, 0);
  ASSERT_EQ(0, RestoreCurrentDir(saved));
  EXPECT_EQ(0, RestoreCurrentDir(deep));
  ReleaseSavedDir(deep);

  // The tree is too deep for path-based removal: take it down step by step.
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(0, chdir(".."));
    ASSERT_EQ(0, rmdir(component.c_str()));
  }
  EXPECT_EQ(0, RestoreCurrentDir(saved));
  ReleaseSavedDir(saved);
}

TEST(PlatformDir, HasNoDrives) {
  EXPECT_EQ(0, GetCurrentDrive());
  EXPECT_EQ(-1, ChangeDrive(3));
}

// ---------------------------------------------------------------------------
// Standard output and process exit.

TEST(PlatformStdOut, LineFeedsGoOutAsCrLf) {
  ChildOutput child = CaptureStdOut([] {
    StdOutWrite("a\nb", 3);
    StdOutPutChar('\n');
    StdOutPutChar('c');
    StdOutWrite("", 0);
    StdOutWrite("\n\n", 2);
    StdOutWrite("\r\n", 2);
    StdOutFlush();
  });
  ASSERT_TRUE(WIFEXITED(child.status));
  EXPECT_EQ("a\r\nb\r\nc\r\n\r\n\r\r\n", child.out);
}

TEST(PlatformStdOut, ProcessExitFlushesAndKeepsLowEightBits) {
  struct Case {
    int code;
    int status;
  };
  const Case cases[] = {{0, 0}, {121, 121}, {-128, 128}, {300, 44}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ChildOutput child = CaptureStdOut([&] {
      StdOutWrite("bye\n", 4);
      ProcessExit(c.code);
    });
    ASSERT_TRUE(WIFEXITED(child.status));
    EXPECT_EQ(c.status, WEXITSTATUS(child.status));
    EXPECT_EQ("bye\r\n", child.out);
  }
}

TEST(PlatformConsole, WithoutTerminalWritesAreDroppedAndNoKeyWaits) {
  ChildOutput child = CaptureStdOut([] {
    if (setsid() < 0) _exit(10);
    ConsoleWrite("lost\n", 5);
    ConsoleFlush();
    if (ConsolePollKey() != -1) _exit(11);
    ConsoleWrite("lost again", 10);
    StdOutWrite("out\n", 4);
    if (StdInGetChar() != -1) _exit(12);
    ProcessExit(0);
  });
  ASSERT_TRUE(WIFEXITED(child.status));
  EXPECT_EQ(0, WEXITSTATUS(child.status));
  EXPECT_EQ("out\r\n", child.out);
}

// ---------------------------------------------------------------------------
// Keys and the terminal mode, on a pseudo-terminal that is the controlling
// terminal of a child process.

class PseudoTerminal {
 public:
  PseudoTerminal() {
    Master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) return;
    SlaveName = ptsname(Master);
    // Held open so that the terminal outlives the child and can be inspected.
    Slave = open(SlaveName.c_str(), O_RDWR | O_NOCTTY);
    if (Slave >= 0) tcgetattr(Slave, &Initial);
  }
  ~PseudoTerminal() {
    if (Slave >= 0) close(Slave);
    if (Master >= 0) close(Master);
  }
  bool ok() const { return Slave >= 0; }

  // Forks a child with this terminal as its controlling terminal and
  // standard streams; body's result is its exit code.
  pid_t Start(const std::function<int()>& body) {
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
      setsid();
      int fd = open(SlaveName.c_str(), O_RDWR);  // becomes the controlling terminal
      if (fd < 0) _exit(20);
      dup2(fd, 0);
      dup2(fd, 1);
      close(Master);
      close(Slave);
      close(fd);
      _exit(body());
    }
    return pid;
  }

  // Reads terminal output until it contains marker; false if it never does.
  bool WaitFor(const std::string& marker) {
    while (Seen.find(marker) == std::string::npos) {
      struct pollfd p = {Master, POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) return false;
      char buffer[256];
      ssize_t n = read(Master, buffer, sizeof buffer);
      if (n <= 0) return false;
      Seen.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

  // All terminal output so far, once the writer is gone.
  std::string Drain() {
    for (;;) {
      struct pollfd p = {Master, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) break;
      char buffer[256];
      ssize_t n = read(Master, buffer, sizeof buffer);
      if (n <= 0) break;
      Seen.append(buffer, static_cast<size_t>(n));
    }
    return Seen;
  }

  void Type(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(Master, bytes.data(), bytes.size()));
  }

  struct termios Mode() const {
    struct termios mode;
    tcgetattr(Slave, &mode);
    return mode;
  }
  bool Restored() const {
    struct termios now = Mode();
    return now.c_lflag == Initial.c_lflag && now.c_iflag == Initial.c_iflag &&
           now.c_oflag == Initial.c_oflag && now.c_cc[VMIN] == Initial.c_cc[VMIN] &&
           now.c_cc[VTIME] == Initial.c_cc[VTIME];
  }

 private:
  int Master = -1;
  int Slave = -1;
  std::string SlaveName;
  struct termios Initial;
  std::string Seen;
};

// Waits for a child started on terminal: it exits with code 0 and leaves the
// terminal's mode as it found it.
void ExpectCleanExit(pid_t pid, const PseudoTerminal& terminal) {
  int status = WaitChild(pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_TRUE(terminal.Restored());
}

// Polls until a key comes; -1 when none comes for a long while.
int WaitKey() {
  for (int i = 0; i < 20000; ++i) {
    int key = ConsolePollKey();
    if (key != -1) return key;
    usleep(1000);
  }
  return -1;
}

TEST(PlatformConsole, KeysArriveWithoutEchoAndEscapeSequencesAreOneKey) {
  PseudoTerminal terminal;
  if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  // Each group is typed once the child has reported the key before it.
  const std::vector<std::pair<std::string, int>> keys = {
      {"a", 'a'},        {"\x1b[A", kOtherKey}, {"\x1bOP", kOtherKey}, {"\x1b[15~", kOtherKey},
      {"\x1b", kKeyEsc}, {"\xe4", 0xe4},        {"\x1bx", kOtherKey},  {"z", 'z'},
  };
  pid_t pid = terminal.Start([&]() -> int {
    InstallSignalCleanup();
    ConsolePollKey();
    ConsoleWrite("ready", 5);
    for (size_t i = 0; i < keys.size(); ++i) {
      int key = WaitKey();
      char report[16];
      int n = snprintf(report, sizeof report, "<%d>", key);
      ConsoleWrite(report, static_cast<size_t>(n));
      ConsoleFlush();
    }
    ConsoleWrite("end", 3);
    ProcessExit(0);
  });
  ASSERT_TRUE(terminal.WaitFor("ready"));
  EXPECT_EQ(0u, terminal.Mode().c_lflag & (ICANON | ECHO));
  std::string expected = "ready";
  for (const auto& key : keys) {
    terminal.Type(key.first);
    expected += "<" + std::to_string(key.second) + ">";
    ASSERT_TRUE(terminal.WaitFor(expected)) << terminal.Drain();
  }
  ASSERT_NO_FATAL_FAILURE(ExpectCleanExit(pid, terminal));
  EXPECT_EQ(expected + "end", terminal.Drain());  // nothing echoed
}

TEST(PlatformConsole, QueuedKeysComeOnePerPoll) {
  PseudoTerminal terminal;
  if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  pid_t pid = terminal.Start([&]() -> int {
    ConsolePollKey();
    ConsoleWrite("ready", 5);
    ConsoleFlush();
    int first = WaitKey();
    usleep(200000);  // let the rest arrive too
    int keys[] = {first, ConsolePollKey(), ConsolePollKey(), ConsolePollKey(), ConsolePollKey()};
    bool ok =
        keys[0] == 'x' && keys[1] == 'y' && keys[2] == '\n' && keys[3] == 'q' && keys[4] == -1;
    ProcessExit(ok ? 0 : 1);
  });
  ASSERT_TRUE(terminal.WaitFor("ready"));
  terminal.Type("xy\rq");  // a carriage return arrives as a line feed
  ASSERT_NO_FATAL_FAILURE(ExpectCleanExit(pid, terminal));
}

TEST(PlatformConsole, StdInReadsWholeLinesAfterKeyPolls) {
  PseudoTerminal terminal;
  if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  pid_t pid = terminal.Start([&]() -> int {
    ConsolePollKey();
    ConsoleWrite("ready", 5);
    int first = StdInGetChar();
    int second = StdInGetChar();
    ProcessExit(first == 'a' && second == 'b' ? 0 : 1);
  });
  ASSERT_TRUE(terminal.WaitFor("ready"));
  // The line is typed once the terminal is back in line mode.
  bool lineMode = false;
  for (int i = 0; i < 10000 && !lineMode; ++i) {
    lineMode = (terminal.Mode().c_lflag & ICANON) != 0;
    if (!lineMode) usleep(1000);
  }
  EXPECT_TRUE(lineMode);
  terminal.Type("ab\r");
  ASSERT_NO_FATAL_FAILURE(ExpectCleanExit(pid, terminal));
  EXPECT_NE(std::string::npos, terminal.Drain().find("ab"));  // echoed as typed
}

TEST(PlatformConsole, OutputIsHeldUntilFlushOrPoll) {
  PseudoTerminal terminal;
  if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  int gate[2];
  ASSERT_EQ(0, pipe(gate));
  pid_t pid = terminal.Start([&] {
    close(gate[1]);
    ConsoleWrite("first", 5);
    char c;
    if (read(gate[0], &c, 1) != 1) return 2;  // the parent has looked
    ConsolePollKey();                         // flushes
    ConsoleWrite("second", 6);
    exit(0);  // flushed by the exit-time function
  });
  close(gate[0]);
  EXPECT_EQ("", terminal.Drain());
  ASSERT_EQ(1, write(gate[1], "g", 1));
  close(gate[1]);
  ASSERT_NO_FATAL_FAILURE(ExpectCleanExit(pid, terminal));
  EXPECT_EQ("firstsecond", terminal.Drain());
}

TEST(PlatformConsole, EndingSignalRestoresTerminalAndDeletesTempFile) {
  struct Case {
    const char* name;
    int signal;
    const char* typed;  // sent through the terminal instead when set
  };
  const Case cases[] = {
      {"SIGTERM", SIGTERM, nullptr},
      {"SIGHUP", SIGHUP, nullptr},
      {"Ctrl-C", SIGINT, "\x03"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    PseudoTerminal terminal;
    if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    std::string temp = dir / "~ZORB1";
    pid_t pid = terminal.Start([&] {
      InstallSignalCleanup();
      std::string name;
      int handle = FileCreateTemp(dir.path().c_str(), "~ZORB", &name);
      if (handle < 0) return 3;
      RegisterTempFile(name.c_str());
      ConsolePollKey();
      ConsoleWrite("ready", 5);
      for (;;) {
        ConsolePollKey();
        usleep(1000);
      }
    });
    ASSERT_TRUE(terminal.WaitFor("ready"));
    EXPECT_TRUE(FileExists(temp));
    EXPECT_FALSE(terminal.Restored());
    if (c.typed)
      terminal.Type(c.typed);
    else
      kill(pid, c.signal);
    int status = WaitChild(pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(c.signal, WTERMSIG(status));
    EXPECT_TRUE(terminal.Restored());
    EXPECT_FALSE(FileExists(temp));
  }
}

TEST(PlatformConsole, StopGivesTerminalBackAndContinueTakesItAgain) {
  PseudoTerminal terminal;
  if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  int gate[2];
  ASSERT_EQ(0, pipe(gate));
  // The child acts as a job-control shell: it runs the poller as a job of
  // its own in the foreground, takes the terminal back when the job stops
  // and continues it in the foreground when the test says so.
  pid_t shell = terminal.Start([&]() -> int {
    close(gate[1]);
    signal(SIGTTOU, SIG_IGN);
    pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      signal(SIGTTOU, SIG_DFL);
      InstallSignalCleanup();
      // A job in the background takes no keys and leaves the terminal's mode
      // alone: wait until the shell has made this job the foreground.
      while (tcgetpgrp(0) != getpgrp()) usleep(1000);
      ConsolePollKey();
      ConsoleWrite("ready", 5);
      for (;;) {
        if (ConsolePollKey() == 'q') ProcessExit(0);
        usleep(1000);
      }
    }
    setpgid(job, job);
    tcsetpgrp(0, job);
    int status;
    if (waitpid(job, &status, WUNTRACED) != job || !WIFSTOPPED(status)) return 30;
    tcsetpgrp(0, getpgrp());
    ConsoleWrite("stopped", 7);
    ConsoleFlush();
    char c;
    if (read(gate[0], &c, 1) != 1) return 31;
    tcsetpgrp(0, job);
    kill(-job, SIGCONT);
    if (waitpid(job, &status, 0) != job) return 32;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 33;
  });
  close(gate[0]);
  ASSERT_TRUE(terminal.WaitFor("ready"));
  EXPECT_FALSE(terminal.Restored());
  terminal.Type("\x1a");  // Ctrl-Z
  ASSERT_TRUE(terminal.WaitFor("stopped"));
  EXPECT_TRUE(terminal.Restored());
  ASSERT_EQ(1, write(gate[1], "c", 1));
  close(gate[1]);
  // The mode comes back when the job runs again; only then is the key typed.
  bool raw = false;
  for (int i = 0; i < 10000 && !raw; ++i) {
    raw = (terminal.Mode().c_lflag & (ICANON | ECHO)) == 0;
    if (!raw) usleep(1000);
  }
  EXPECT_TRUE(raw);
  terminal.Type("q");
  ASSERT_NO_FATAL_FAILURE(ExpectCleanExit(shell, terminal));
  EXPECT_EQ(std::string::npos, terminal.Drain().find('q'));  // never echoed
}

TEST(PlatformConsole, ForgottenTempFileStaysAfterSignal) {
  TempDir dir;
  PseudoTerminal terminal;
  if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  std::string temp = dir / "kept";
  WriteFile(temp, "x");
  pid_t pid = terminal.Start([&]() -> int {
    InstallSignalCleanup();
    RegisterTempFile(temp.c_str());
    RegisterTempFile(nullptr);
    ConsoleWrite("ready", 5);
    ConsoleFlush();
    for (;;) pause();
  });
  ASSERT_TRUE(terminal.WaitFor("ready"));
  kill(pid, SIGTERM);
  int status = WaitChild(pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(FileExists(temp));
  EXPECT_TRUE(terminal.Restored());
}

}  // namespace
