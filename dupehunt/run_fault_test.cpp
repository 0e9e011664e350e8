// The finder under faults, seen from outside: calls of the platform layer
// made to fail (the test-only build dupehunt_faulty, plan in DUPEHUNT_FAULTS)
// and real faults (a full file system, files changed between the scan and
// the comparison, a directory loop). Every run must end with its message and
// exit code, leave no temporary file, and change nothing in the tree it reads.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

// What a file looks like from outside: kind, size, modification time and a
// hash of its bytes. A tree's snapshot maps every path below it to that.
struct FileState {
  unsigned mode = 0;
  long long size = 0;
  long long mtimeNs = 0;
  unsigned long long hash = 0;
  bool operator==(const FileState& o) const {
    return mode == o.mode && size == o.size && mtimeNs == o.mtimeNs && hash == o.hash;
  }
};
using Snapshot = std::map<std::string, FileState>;

unsigned long long HashOf(const std::string& bytes) {
  unsigned long long h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

void SnapshotInto(const std::string& dir, const std::string& relative, Snapshot* snap) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(d);
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    FileState state;
    state.mode = st.st_mode;
    state.size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    state.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (S_ISREG(st.st_mode) && st.st_size < (1 << 24)) state.hash = HashOf(ReadFile(path));
    (*snap)[relative + name] = state;
    if (S_ISDIR(st.st_mode)) SnapshotInto(path, relative + name + "/", snap);
  }
}

Snapshot Snap(const std::string& dir) {
  Snapshot snap;
  SnapshotInto(dir, "", &snap);
  return snap;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const std::string kSame(5000, 's');

// A work directory with a tree t/ to scan, a log beside it, and a temporary
// directory of its own.
class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(Work / "t/a.bin", kSame);
    WriteFile(Work / "t/b.bin", kSame);
    WriteFile(Work / "t/c.bin", kSame);
    WriteFile(Work / "t/sub/d.bin", kSame);
    WriteFile(Work / "t/other.txt", "different");
  }

  RunResult Run(const std::string& program, const std::string& faults,
                std::vector<std::string> args = {"t", "/L=log.txt"}) {
    RunOptions options;
    options.args = {program};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.cwd = Work.path();
    options.tempDir = Temp.path();
    if (!faults.empty()) options.env = {{"DUPEHUNT_FAULTS", faults}};
    return RunProgram(options);
  }

  // The run left the tree as it was, no temporary file, and nothing in the
  // work directory but the tree and the log.
  void ExpectNothingElseTouched(const Snapshot& before) {
    EXPECT_TRUE(Snap(Work / "t") == before) << "the tree was changed";
    EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>()) << "temporary file left behind";
    for (const std::string& name : ListDir(Work.path())) {
      EXPECT_TRUE(name == "t" || name == "log.txt") << name << " was created";
    }
  }

  std::string T(const std::string& name) const { return Work.path() + "/t/" + name; }

  TempDir Work;
  TempDir Temp;
};

TEST_F(FaultTest, InjectedFaultsEndWithTheirMessageAndChangeNothingOutsideTheTemporaryFile) {
  const std::string tempMessage = "Fatal error: unable to write or read back the temp file " +
                                  Temp.path() + "/~ZORB1 (disk full?)\r\n";
  const std::string logWarning =
      "Warning: the log file log.txt is incomplete: writing to it failed.\r\n";
  const struct Case {
    const char* faults;
    int exitCode;
    std::string consoleHas;  // in the console, spinner removed
    std::string consoleLacks;
    std::string out;   // standard output
    int groupMembers;  // path lines in the log file; -1: no log check
  } cases[] = {
      // The log file: every write, a short write after two, the close.
      {"write:match=log.txt", 3, "Done.\r\n" + logWarning, "", "", -1},
      {"write:match=log.txt:after=2:short", 3, "Done.\r\n" + logWarning, "", "", -1},
      {"close:match=log.txt", 3, "Done.\r\n" + logWarning, "", "", 4},
      {"open-append:match=log.txt", 2, "Error opening file: log.txt\r\n", "Hit <ESC>", "", -1},
      // The temporary file: a record write, a record read back.
      {"write:match=~ZORB", 4, tempMessage, "Total: ", "", -1},
      {"write:match=~ZORB:short", 4, tempMessage, "Total: ", "", -1},
      {"read:match=~ZORB", 4, tempMessage, "Summary", "", -1},
      {"create-temp", 0, "Unable to open temp file: (none)!\r\n", "Scanning path", "", -1},
      // The files compared: a short read, a failed read, a failed open.
      {"read:match=c.bin:short", 0, "Warning: error reading " + T("c.bin") + "\r\n", "", "", 3},
      {"read:match=c.bin", 0, "Warning: error reading " + T("c.bin") + "\r\n", "", "", 3},
      {"open-read:match=b.bin", 0, "Warning: unable to open " + T("b.bin") + "\r\n", "", "", 3},
      // Directories: one that cannot be opened is passed by in silence; one
      // whose entries cannot be read is reported and passed by.
      {"dir-open:match=sub", 0, "Total: 4 file(s)\r\n", "Warning", "", 3},
      {"dir-next:match=sub", 0,
       "Warning: unable to read the whole directory " + T("sub") + "\r\nTotal: 4 file(s)\r\n", "",
       "", 3},
      // The run blocks.
      {"alloc:min=4000000", 110, "", "Hit <ESC>",
       "[EXECUTION ERROR]\r\nNot enough memory! I need about 256 kb.\r\n", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    remove((Work / "log.txt").c_str());
    const Snapshot before = Snap(Work / "t");
    RunResult r = Run(DUPEHUNT_FAULTY_PATH, c.faults);
    const std::string console = StripSpinner(r.console);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.exitCode) << console;
    EXPECT_TRUE(Contains(console, c.consoleHas)) << console;
    if (!c.consoleLacks.empty()) {
      EXPECT_FALSE(Contains(console, c.consoleLacks)) << console;
    }
    EXPECT_EQ(r.out, c.out);
    if (c.exitCode == 3 || c.exitCode == 4) {
      EXPECT_TRUE(EndsWith(console, c.exitCode == 3 ? logWarning : tempMessage)) << console;
    }
    if (c.groupMembers >= 0) {
      const std::string log = ReadFile(Work / "log.txt");
      int members = 0;
      for (const char* name : {"a.bin", "b.bin", "c.bin", "sub/d.bin"}) {
        if (Contains(log, T(name) + "\r\n")) ++members;
      }
      EXPECT_EQ(members, c.groupMembers) << log;
    }
    ExpectNothingElseTouched(before);
  }
}

TEST_F(FaultTest, FailedLogWritesLeaveAPrefixOfTheFullLog) {
  RunResult clean = Run(DUPEHUNT_PATH, "");
  ASSERT_EQ(clean.exitCode, 0);
  const std::string full = ReadFile(Work / "log.txt");
  for (const char* faults : {"write:match=log.txt:after=1", "write:match=log.txt:after=3:short",
                             "write:match=log.txt:after=9:short"}) {
    SCOPED_TRACE(faults);
    remove((Work / "log.txt").c_str());
    RunResult r = Run(DUPEHUNT_FAULTY_PATH, faults);
    EXPECT_EQ(r.exitCode, 3);
    const std::string log = ReadFile(Work / "log.txt");
    EXPECT_LT(log.size(), full.size());
    EXPECT_EQ(full.compare(0, log.size(), log), 0) << "the log holds bytes the run never meant";
  }
}

// Mounts a small tmpfs at dir; false (with the reason) where that is refused.
bool MountSmallFileSystem(const std::string& dir, std::string* why) {
  MakeDirs(dir);
  if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0) {
    *why = std::string("cannot mount a tmpfs here: ") + strerror(errno);
    return false;
  }
  return true;
}

TEST_F(FaultTest, LogOnAFullFileSystemIsReportedAndHoldsAPrefixOfTheFullLog) {
  // Enough groups for a log far beyond what the file system has left.
  for (int i = 0; i < 60; ++i) {
    const std::string content(100 + i, static_cast<char>('a' + i % 26));
    for (const char* copy : {"x", "y"})
      WriteFile(Work / ("t/g/" + std::to_string(i) + "-" + std::string(150, 'n') + copy), content);
  }
  RunResult clean = Run(DUPEHUNT_PATH, "");
  ASSERT_EQ(clean.exitCode, 0);
  const std::string full = ReadFile(Work / "log.txt");
  ASSERT_GT(full.size(), 16000u);

  const std::string small = Temp.path() + "-full";
  std::string why;
  if (!MountSmallFileSystem(small, &why)) {
    rmdir(small.c_str());
    GTEST_SKIP() << why;
  }
  // Leaves about 12 KiB free.
  WriteFile(small + "/filler", std::string(52 * 1024, 'f'));
  const Snapshot before = Snap(Work / "t");
  RunResult r = Run(DUPEHUNT_PATH, "", {"t", "/L=" + small + "/log.txt"});
  const std::string log = ReadFile(small + "/log.txt");
  umount2(small.c_str(), MNT_DETACH);
  rmdir(small.c_str());

  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(EndsWith(
      StripSpinner(r.console),
      "Warning: the log file " + small + "/log.txt is incomplete: writing to it failed.\r\n"));
  EXPECT_GT(log.size(), 0u);
  EXPECT_LT(log.size(), full.size());
  EXPECT_EQ(full.compare(0, log.size(), log), 0) << "the log holds bytes the run never meant";
  EXPECT_TRUE(Snap(Work / "t") == before);
  EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>());
}

TEST_F(FaultTest, FilesChangedBetweenTheScanAndTheComparison) {
  // The first open of a file to compare waits for a flag file; meanwhile a
  // thread that has seen the comparing log begin (so the scan is over)
  // changes the tree for real, then sets the flag. No timing is involved.
  const struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    std::string warning;
    int members;  // of a.bin, b.bin, c.bin, sub/d.bin in the log
  } cases[] = {
      {"a file shrunk", [](const std::string& t) { truncate((t + "/b.bin").c_str(), 100); },
       "Warning: error reading ", 3},
      {"a file deleted", [](const std::string& t) { unlink((t + "/b.bin").c_str()); },
       "Warning: unable to open ", 3},
      {"a file grown: its first bytes still match",
       [](const std::string& t) {
         int fd = open((t + "/b.bin").c_str(), O_WRONLY | O_APPEND);
         if (fd >= 0 && write(fd, "more", 4) == 4) close(fd);
       },
       "", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    remove((Work / "log.txt").c_str());
    remove((Work / "go").c_str());
    WriteFile(Work / "t/b.bin", kSame);
    const std::string flag = Work / "go";
    std::thread changer([&] {
      for (int i = 0; i < 6000; ++i) {
        if (FileExists(Work / "log.txt") && Contains(ReadFile(Work / "log.txt"), "comparing log:"))
          break;
        usleep(10000);
      }
      c.change(Work / "t");
      WriteFile(flag, "");
    });
    RunResult r = Run(DUPEHUNT_FAULTY_PATH, "open-read:times=1:await=" + flag);
    changer.join();
    remove(flag.c_str());
    const std::string console = StripSpinner(r.console);
    EXPECT_EQ(r.exitCode, 0) << console;
    if (!c.warning.empty()) {
      EXPECT_TRUE(Contains(console, c.warning + T("b.bin") + "\r\n")) << console;
    } else {
      EXPECT_FALSE(Contains(console, "Warning")) << console;
    }
    const std::string log = ReadFile(Work / "log.txt");
    int members = 0;
    for (const char* name : {"a.bin", "b.bin", "c.bin", "sub/d.bin"}) {
      if (Contains(log, T(name) + "\r\n")) ++members;
    }
    EXPECT_EQ(members, c.members) << log;
    EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>());
  }
}

TEST_F(FaultTest, DirectoryLoopThroughABindMountIsWalkedOnce) {
  const std::string loop = Work / "t/sub/loop";
  MakeDirs(loop);
  if (mount((Work / "t").c_str(), loop.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here: " << strerror(errno);
  }
  RunResult r = Run(DUPEHUNT_PATH, "", {"t"});
  umount2(loop.c_str(), MNT_DETACH);
  const std::string console = StripSpinner(r.console);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Contains(console, "Total: 5 file(s)\r\n")) << console;
  EXPECT_TRUE(EndsWith(console, "Done.\r\n")) << console;
  EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>());
}

}  // namespace
