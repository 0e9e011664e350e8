// The file table and the walk, driven directly on real trees.
#include "dupehunt/file_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <vector>

#include "dupehunt/run.h"
#include "testing/test_support.h"

namespace {

constexpr uint32_t kTestCapacity = 1000;

// Removes a tree with descriptor-relative calls, so that paths longer than
// the platform's limit go too.
void RemoveTreeAt(int parent, const char* name) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) {
    unlinkat(parent, name, 0);
    return;
  }
  DIR* dir = fdopendir(fd);
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  }
  for (const std::string& child : names) RemoveTreeAt(dirfd(dir), child.c_str());
  closedir(dir);
  unlinkat(parent, name, AT_REMOVEDIR);
}

// True when name is dir + "/~ZORB" + a number without leading zeros.
bool IsTempName(const std::string& name, const std::string& dir) {
  const std::string prefix = dir + "/~ZORB";
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string number = name.substr(prefix.size());
  return !number.empty() && number[0] != '0' &&
         number.find_first_not_of("0123456789") == std::string::npos;
}

std::string RecordPath(uint32_t index) {
  std::string path;
  FileIdentity identity;
  EXPECT_TRUE(ReadFileRecord(index, &path, &identity)) << "record " << index;
  return path;
}

DirEntry MakeEntry(const std::string& name, uint64_t size, uint64_t device, uint64_t inode) {
  DirEntry entry;
  entry.name = name;
  entry.kind = EntryKind::kFile;
  entry.size = size;
  entry.identity.device = device;
  entry.identity.inode = inode;
  return entry;
}

// A fresh table over a temporary file in its own directory, and a tree
// directory to walk; the current directory is put back afterwards.
class FileTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFileTable();
    MaxFiles = kTestCapacity;
    ASSERT_TRUE(AllocRunBlocks());
    MakeDirs(Dir / "tmp");
    MakeDirs(Tree());
    TempFileHandle = FileCreateTemp((Dir / "tmp").c_str(), TempFilePrefix, &TempName);
    ASSERT_GE(TempFileHandle, 0);
    SavedDir = SaveCurrentDir();
  }

  void TearDown() override {
    RestoreCurrentDir(SavedDir);
    ReleaseSavedDir(SavedDir);
    if (TempFileHandle >= 0) FileClose(TempFileHandle);
    TempFileHandle = -1;
    ReleaseRunBlocks();
    MaxFiles = kMaxFiles;
    ResetFileTable();
  }

  std::string Tree() const { return Dir / "tree"; }

  // Walks each start path in turn as one run does.
  void Scan(const std::vector<std::string>& startPaths) {
    for (const std::string& start : startPaths) {
      int saved = SaveCurrentDir();
      ASSERT_EQ(ChangeDir(start.c_str()), 0) << start;
      ScanDirectory();
      RestoreCurrentDir(saved);
      ReleaseSavedDir(saved);
    }
  }

  // Every recorded path with its size.
  std::map<std::string, uint64_t> Recorded() {
    std::map<std::string, uint64_t> files;
    for (uint32_t i = 0; i < FileCount; ++i) {
      std::string path = RecordPath(i);
      EXPECT_EQ(files.count(path), 0u) << path << " recorded twice";
      files[path] = FileSizes[i];
    }
    return files;
  }

  TempDir Dir;
  std::string TempName;
  int SavedDir = -1;
};

TEST_F(FileTableTest, RecordsRoundTripWithLongPathsAndLargeSizes) {
  const std::string dir300 = "/" + std::string(299, 'd');
  const std::string dir5000 = "/" + std::string(4999, 'e');
  struct Case {
    std::string dir;
    std::string name;
    uint64_t size;
    std::string path;
  } cases[] = {
      {"/", "in-root", 0, "/in-root"},
      {"/home/user", "notes.txt", 1, "/home/user/notes.txt"},
      {"/home/user/", "trailing", 4294967295ull, "/home/user/trailing"},
      {"/data", "five-gib", 5ull << 30, "/data/five-gib"},
      {"/data", "largest", UINT64_MAX, "/data/largest"},
      {"/data", "bytes \xe9\x01 end", 7, "/data/bytes \xe9\x01 end"},
      {dir300, "f", 300, dir300 + "/f"},
      {dir5000, "g", 5000, dir5000 + "/g"},
  };
  uint64_t inode = 1;
  for (const Case& c : cases) {
    AddFileRecord(c.dir.c_str(), MakeEntry(c.name, c.size, 0x0102030405060708ull, inode++));
  }
  ASSERT_EQ(FileCount, std::size(cases));
  ASSERT_EQ(TableWriteFailed, 0);

  // Read back while the records are still buffered, then from the file.
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "buffered" : "flushed");
    for (uint32_t i = 0; i < FileCount; ++i) {
      std::string path;
      FileIdentity identity;
      ASSERT_TRUE(ReadFileRecord(i, &path, &identity)) << i;
      EXPECT_EQ(path, cases[i].path);
      EXPECT_EQ(path.size(), cases[i].path.size());
      EXPECT_EQ(FileSizes[i], cases[i].size);
      EXPECT_EQ(identity.device, 0x0102030405060708ull);
      EXPECT_EQ(identity.inode, i + 1);
    }
    ASSERT_EQ(FlushFileTable(), 0);
  }

  // On disk: device and inode little-endian, the path, a NUL; nothing else.
  std::string bytes = ReadFile(TempName);
  EXPECT_EQ(bytes.substr(0, 25), std::string("\x08\x07\x06\x05\x04\x03\x02\x01"
                                             "\x01\x00\x00\x00\x00\x00\x00\x00"
                                             "/in-root\0",
                                             25));
  size_t expectedSize = 0;
  for (const Case& c : cases) expectedSize += 16 + c.path.size() + 1;
  EXPECT_EQ(bytes.size(), expectedSize);
}

TEST_F(FileTableTest, ReadFileRecordRefusesMissingAndCutRecords) {
  AddFileRecord("/a", MakeEntry("one", 1, 1, 1));
  AddFileRecord("/a", MakeEntry("two", 2, 1, 2));
  ASSERT_EQ(FlushFileTable(), 0);
  std::string path;
  FileIdentity identity;
  EXPECT_FALSE(ReadFileRecord(2, &path, &identity));
  // Cut the last record's NUL off: it no longer reads back whole.
  ASSERT_EQ(truncate(TempName.c_str(), 16 + 7 + 16 + 6), 0);
  EXPECT_TRUE(ReadFileRecord(0, &path, &identity));
  EXPECT_EQ(path, "/a/one");
  EXPECT_FALSE(ReadFileRecord(1, &path, &identity));
}

TEST_F(FileTableTest, FailedWriteStopsTheTableAndTheWalk) {
  WriteFile(Tree() + "/f", "x");
  // A handle open for reading only: every write to it fails.
  FileClose(TempFileHandle);
  TempFileHandle = FileOpenRead(TempName.c_str());
  ASSERT_GE(TempFileHandle, 0);

  // Records of 4 KiB each overflow the write buffer within a few hundred.
  const std::string dir = "/" + std::string(4000, 'w');
  uint32_t added = 0;
  while (!TableWriteFailed && added < kTestCapacity) {
    AddFileRecord(dir.c_str(), MakeEntry("f", 1, 1, added));
    ++added;
  }
  ASSERT_EQ(TableWriteFailed, 1);
  const uint32_t count = FileCount;
  EXPECT_LT(count, added);
  EXPECT_EQ(FlushFileTable(), -1);
  AddFileRecord("/a", MakeEntry("late", 1, 1, 1));
  Scan({Tree()});
  EXPECT_EQ(FileCount, count);
}

TEST_F(FileTableTest, FullTableEndsWithCodeTwoAfterWritingTheRecord) {
  MaxFiles = 3;
  const std::string report = Dir / "stdout.txt";
  EXPECT_EXIT(
      {
        int fd = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        for (int i = 0; i < 5; ++i)
          AddFileRecord("/d", MakeEntry("f" + std::to_string(i), 1, 1, i));
      },
      ::testing::ExitedWithCode(2), "");
  EXPECT_EQ(ReadFile(report), "[EXECUTION ERROR]\r\nFatal error: too many files!\r\n");
  // Three records fill the table; the fourth is written before the exit.
  EXPECT_EQ(ReadFile(TempName).size(), 4u * (16 + 5 + 1));
}

TEST_F(FileTableTest, WalkRecordsRegularFilesAndSkipsDotDirectories) {
  const std::string t = Tree();
  WriteFile(t + "/plain", "abc");
  WriteFile(t + "/.dotfile", "d");
  WriteFile(t + "/empty", "");
  WriteFile(t + "/sub/inner", "12345");
  WriteFile(t + "/sub/deeper/bottom", "xy");
  WriteFile(t + "/.git/config", "skipped");
  WriteFile(t + "/sub/.cache/deep/skipped", "skipped");
  ASSERT_EQ(symlink("plain", (t + "/link-to-file").c_str()), 0);
  ASSERT_EQ(symlink(".", (t + "/sub/loop").c_str()), 0);
  ASSERT_EQ(symlink(t.c_str(), (t + "/sub/deeper/up").c_str()), 0);
  ASSERT_EQ(symlink("missing", (t + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((t + "/fifo").c_str(), 0600), 0);

  Scan({t});
  std::map<std::string, uint64_t> expected = {
      {t + "/plain", 3},     {t + "/.dotfile", 1},          {t + "/empty", 0},
      {t + "/sub/inner", 5}, {t + "/sub/deeper/bottom", 2},
  };
  EXPECT_EQ(Recorded(), expected);
  EXPECT_EQ(DirectoryTick, 3u);  // tree, sub, deeper
  EXPECT_EQ(UserAbort, 0);

  // A record's identity is the file's own device and inode.
  struct stat st;
  ASSERT_EQ(stat((t + "/plain").c_str(), &st), 0);
  for (uint32_t i = 0; i < FileCount; ++i) {
    std::string path;
    FileIdentity identity;
    ASSERT_TRUE(ReadFileRecord(i, &path, &identity));
    if (path != t + "/plain") continue;
    EXPECT_EQ(identity.device, static_cast<uint64_t>(st.st_dev));
    EXPECT_EQ(identity.inode, static_cast<uint64_t>(st.st_ino));
  }
}

TEST_F(FileTableTest, WalkKeepsPathsLongerThanThePlatformLimit) {
  // 24 levels of 200-character names: deeper than PATH_MAX allows to name.
  const std::string level(200, 'n');
  std::string expected = Tree();
  int fd = open(Tree().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 24; ++i) {
    ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
    int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    expected += "/" + level;
  }
  int file = openat(fd, "deepest", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, "1234", 4), 4);
  close(file);
  close(fd);
  WriteFile(Tree() + "/" + std::string(250, 's') + "/" + std::string(100, 'f'), "x");
  expected += "/deepest";

  Scan({Tree()});
  ASSERT_EQ(FlushFileTable(), 0);
  std::map<std::string, uint64_t> files = Recorded();
  EXPECT_EQ(files.size(), 2u);
  EXPECT_GT(expected.size(), 4096u);
  EXPECT_EQ(files.count(expected), 1u);
  EXPECT_EQ(files[expected], 4u);
  EXPECT_EQ(files.count(Tree() + "/" + std::string(250, 's') + "/" + std::string(100, 'f')), 1u);

  int tree = open(Tree().c_str(), O_RDONLY | O_DIRECTORY);
  RemoveTreeAt(tree, level.c_str());
  close(tree);
}

TEST_F(FileTableTest, SparseFileOfFiveGibKeepsItsSize) {
  const std::string path = Tree() + "/sparse";
  WriteFile(path, "");
  ASSERT_EQ(truncate(path.c_str(), 5ll << 30), 0);
  Scan({Tree()});
  ASSERT_EQ(FileCount, 1u);
  EXPECT_EQ(FileSizes[0], 5ull << 30);
}

TEST_F(FileTableTest, HardLinkedFileIsRecordedAtItsFirstLinkOnly) {
  const std::string t = Tree();
  WriteFile(t + "/a/original", "same");
  WriteFile(t + "/c/separate", "same");
  MakeDirs(t + "/b");
  ASSERT_EQ(link((t + "/a/original").c_str(), (t + "/b/second").c_str()), 0);
  ASSERT_EQ(link((t + "/a/original").c_str(), (t + "/a/third").c_str()), 0);
  Scan({t});
  std::map<std::string, uint64_t> files = Recorded();
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(files.count(t + "/c/separate"), 1u);
  int links = int(files.count(t + "/a/original") + files.count(t + "/b/second") +
                  files.count(t + "/a/third"));
  EXPECT_EQ(links, 1);
}

TEST_F(FileTableTest, EachDirectoryIsWalkedOncePerRun) {
  const std::string t = Tree();
  WriteFile(t + "/top", "1");
  WriteFile(t + "/sub/middle", "2");
  WriteFile(t + "/sub/low/bottom", "3");
  ASSERT_EQ(symlink(t.c_str(), (Dir / "alias").c_str()), 0);
  struct Case {
    const char* label;
    std::vector<std::string> starts;
    uint32_t files;
  } cases[] = {
      {"given twice", {t, t}, 3},
      {"nested after", {t, t + "/sub"}, 3},
      {"nested before", {t + "/sub/low", t + "/sub", t}, 3},
      {"through a link", {t, Dir / "alias"}, 3},
      {"subtree only", {t + "/sub"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ResetFileTable();
    Scan(c.starts);
    EXPECT_EQ(FileCount, c.files);
    EXPECT_EQ(Recorded().size(), c.files);
  }
}

TEST_F(FileTableTest, ResetForgetsFilesAndDirectories) {
  WriteFile(Tree() + "/f", "1");
  Scan({Tree()});
  ASSERT_EQ(FileCount, 1u);
  ResetFileTable();
  EXPECT_EQ(FileCount, 0u);
  EXPECT_EQ(DirectoryTick, 0u);
  Scan({Tree()});
  EXPECT_EQ(FileCount, 1u);
  EXPECT_EQ(DirectoryTick, 1u);
}

TEST_F(FileTableTest, UnreadableDirectoryIsPassedBy) {
  const std::string t = Tree();
  WriteFile(t + "/seen", "1");
  WriteFile(t + "/closed/hidden-away", "2");
  WriteFile(t + "/open/seen-too", "3");
  ASSERT_EQ(chmod((t + "/closed").c_str(), 0), 0);
  // Root reads every directory: the walk runs as an ordinary user then.
  bool root = geteuid() == 0;
  if (root) {
    for (const std::string& p : {Dir.path(), t, t + "/open"}) ASSERT_EQ(chmod(p.c_str(), 0755), 0);
  }
  EXPECT_EXIT(
      {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        Scan({t});
        _exit(static_cast<int>(FileCount));
      },
      ::testing::ExitedWithCode(2), "");
}

// In a death-test child: gives the process a fresh pseudo-terminal as its
// controlling terminal (raw, as the finder's console) and returns the
// master side; *slave is the terminal itself.
int TakeNewTerminal(int* slave) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) _exit(101);
  if (setsid() < 0) _exit(102);
  *slave = open(ptsname(master), O_RDWR);  // becomes the controlling terminal
  if (*slave < 0) _exit(103);
  struct termios mode;
  tcgetattr(*slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(*slave, TCSANOW, &mode);
  return master;
}

// Runs ScanDirectory over start paths in a child with a terminal of its own;
// keys[i] is typed before start path i is walked. The child removes its own
// copy of the test's directory, then exits with
// FileCount * 16 + DirectoryTick * 2 + UserAbort (small trees only).
void ScanWithKeys(const std::vector<std::string>& starts, const std::vector<std::string>& keys,
                  const std::string& testDir) {
  int slave = -1;
  int master = TakeNewTerminal(&slave);
  ConsolePollKey();  // takes the terminal over; nothing is waiting yet
  for (size_t i = 0; i < starts.size(); ++i) {
    const std::string& typed = i < keys.size() ? keys[i] : std::string();
    if (!typed.empty()) {
      if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
        _exit(104);
      int waiting = 0;
      for (int tries = 0; tries < 5000 && waiting < static_cast<int>(typed.size()); ++tries) {
        ioctl(slave, FIONREAD, &waiting);
        if (waiting < static_cast<int>(typed.size())) usleep(1000);
      }
    }
    if (ChangeDir(starts[i].c_str()) != 0) _exit(105);
    ScanDirectory();
    if (UserAbort) break;
  }
  if (chdir("/") == 0) RemoveTreeAt(AT_FDCWD, testDir.c_str());
  _exit(static_cast<int>(FileCount * 16 + DirectoryTick * 2 + UserAbort));
}

TEST_F(FileTableTest, EscStopsTheWalkBeforeTheNextDirectorysEntries) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string t = Tree();
  WriteFile(t + "/one/a", "1");
  WriteFile(t + "/one/b", "2");
  WriteFile(t + "/two/inner/c", "3");
  WriteFile(t + "/two/inner/d", "4");
  const std::string one = t + "/one";
  const std::string two = t + "/two";
  struct Case {
    const char* label;
    std::vector<std::string> keys;
    int files, ticks, abort;
  } cases[] = {
      {"no key", {}, 4, 3, 0},
      {"other keys are consumed", {"x", "y"}, 4, 3, 0},
      {"ESC before the first directory", {"\x1b"}, 0, 1, 1},
      {"ESC before the second start path", {"", "\x1b"}, 2, 2, 1},
      {"ESC after one other key", {"", "z\x1b"}, 2, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EXIT(ScanWithKeys({one, two}, c.keys, Dir.path()),
                ::testing::ExitedWithCode(c.files * 16 + c.ticks * 2 + c.abort), "");
  }
}

// In a child with a terminal of its own: walks a current directory that has
// been removed, so that its path cannot be read. Exits 0 when nothing was
// recorded and the console showed the warning.
void ScanRemovedDirectory(const std::string& testDir) {
  int slave = -1;
  int master = TakeNewTerminal(&slave);
  const std::string gone = testDir + "/tree/gone";
  if (mkdir(gone.c_str(), 0755) != 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0)
    _exit(104);
  ScanDirectory();
  ConsoleFlush();
  // The terminal hands the bytes on in pieces: read until the line is there.
  const std::string warning = "Warning: unable to read the current directory\r\n";
  std::string console;
  struct pollfd ready = {master, POLLIN, 0};
  while (console.find(warning) == std::string::npos && poll(&ready, 1, 10000) == 1) {
    char bytes[256];
    ssize_t n = read(master, bytes, sizeof bytes);
    if (n <= 0) break;
    console.append(bytes, static_cast<size_t>(n));
  }
  if (chdir("/") == 0) RemoveTreeAt(AT_FDCWD, testDir.c_str());
  bool warned = console.find(warning) != std::string::npos;
  _exit(FileCount == 0 && warned ? 0 : 1);
}

TEST_F(FileTableTest, DirectoryWhosePathCannotBeReadIsReportedAndPassedBy) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ScanRemovedDirectory(Dir.path()), ::testing::ExitedWithCode(0), "");
}

using OpenTempFileTest = FileTableTest;

TEST_F(OpenTempFileTest, ChoosesTempThenTmpThenTheProgramsDirectory) {
  char** savedArgs = ArgVector;
  const std::string a = Dir / "a", b = Dir / "b", prog = Dir / "prog", fallback = Dir / "fallback";
  for (const std::string& d : {a, b, prog, fallback}) MakeDirs(d);
  ScopedEnv tmpdir("TMPDIR", fallback.c_str());
  std::string programPath = prog + "/dupehunt";
  char* args[] = {&programPath[0], nullptr};
  ArgVector = args;
  ASSERT_EQ(ChangeDir(Dir.path().c_str()), 0);

  const char* unset = nullptr;
  struct Case {
    const char* label;
    const char* temp;
    const char* tmp;
    std::string dir;
  } cases[] = {
      {"TEMP first", a.c_str(), b.c_str(), a},
      {"TMP when TEMP is empty", "", b.c_str(), b},
      {"TMP when TEMP is unset", unset, b.c_str(), b},
      {"program directory", unset, unset, prog},
      {"program directory when both are empty", "", "", prog},
      {"missing TEMP falls back", (Dir / "missing").c_str(), b.c_str(), fallback},
      {"relative TEMP made whole", "a", unset, a},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScopedEnv temp("TEMP", c.temp), tmp("TMP", c.tmp);
    char* name = nullptr;
    int handle = OpenTempFile(&name);
    ASSERT_GE(handle, 0);
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(IsTempName(name, c.dir)) << name;
    struct stat st;
    ASSERT_EQ(lstat(name, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
    FileClose(handle);
    EXPECT_EQ(FileDelete(name), 0);
    free(name);
  }
  ArgVector = savedArgs;
}

TEST_F(OpenTempFileTest, ProgramWithoutDirectoryLeavesTheChoiceToThePlatform) {
  ScopedEnv temp("TEMP", nullptr), tmp("TMP", nullptr), tmpdir("TMPDIR", (Dir / "tmp").c_str());
  char** savedArgs = ArgVector;
  char program[] = "dupehunt";
  char* args[] = {program, nullptr};
  ArgVector = args;
  char* name = nullptr;
  int handle = OpenTempFile(&name);
  ArgVector = savedArgs;
  ASSERT_GE(handle, 0);
  ASSERT_NE(name, nullptr);
  EXPECT_TRUE(IsTempName(name, Dir / "tmp")) << name;
  FileClose(handle);
  FileDelete(name);
  free(name);
}

TEST_F(OpenTempFileTest, SkipsTakenNamesAndNeverFollowsAPlantedLink) {
  const std::string d = Dir / "shared";
  WriteFile(d + "/~ZORB1", "someone else's");
  ASSERT_EQ(symlink((d + "/target").c_str(), (d + "/~ZORB2").c_str()), 0);
  ASSERT_EQ(symlink((d + "/~ZORB1").c_str(), (d + "/~ZORB3").c_str()), 0);
  ScopedEnv temp("TEMP", d.c_str());
  char* name = nullptr;
  int handle = OpenTempFile(&name);
  ASSERT_GE(handle, 0);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name), d + "/~ZORB4");
  EXPECT_EQ(ReadFile(d + "/~ZORB1"), "someone else's");
  EXPECT_FALSE(FileExists(d + "/target"));
  FileClose(handle);
  FileDelete(name);
  free(name);
}

}  // namespace
