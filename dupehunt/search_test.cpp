// The duplicate search: its candidate pairs, its groups, the comparing log
// and its summary, in process over a hand-made table and through the
// program on real trees.
#include "dupehunt/search.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dupehunt/compare.h"
#include "dupehunt/file_table.h"
#include "dupehunt/run.h"
#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

using Groups = std::vector<std::vector<std::string>>;

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

// ---------------------------------------------------------------------------
// The log as the search must write it.

struct Figures {
  uint64_t total = 0;
  uint64_t empty = 0;
  uint64_t duplicatedFiles = 0;
  uint64_t duplicatedBytes = 0;
  uint64_t wasteFiles = 0;
  uint64_t wasteBytes = 0;
  uint64_t spaceWasted = 0;
};

std::string GroupLines(const Groups& groups) {
  std::string text;
  for (const auto& group : groups) {
    text += " \n";
    for (const std::string& path : group) text += path + "\n";
  }
  return text;
}

// The whole comparing log, as written to the log file (CR LF).
std::string LogText(const Groups& groups, const Figures& f) {
  std::string text = "\nDUPEHUNT comparing log:\n" + GroupLines(groups);
  text += " \nSummary:\n  Total files.........." + std::to_string(f.total) +
          "\n    Empty files........" + std::to_string(f.empty) + "\n  Duplicated files....." +
          std::to_string(f.duplicatedFiles) + "\n    Duplicated bytes..." +
          std::to_string(f.duplicatedBytes) + "\n  Waste files.........." +
          std::to_string(f.wasteFiles) + "\n    Waste bytes........" +
          std::to_string(f.wasteBytes) + "\n    Space wasted......." +
          std::to_string(f.spaceWasted) + " bytes for cluster size==4096\n\n";
  return Crlf(text);
}

// The groups of a comparing log (CR LF), in their order.
Groups ParseGroups(const std::string& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(log.substr(start, end - start));
  Groups groups;
  size_t i = 0;
  while (i < lines.size() && lines[i] != "DUPEHUNT comparing log:") i++;
  for (i++; i < lines.size(); i++) {
    if (lines[i] == " ") {
      if (i + 1 < lines.size() && lines[i + 1] == "Summary:") break;
      groups.emplace_back();
    } else if (!groups.empty()) {
      groups.back().push_back(lines[i]);
    } else {
      ADD_FAILURE() << "stray line in the log: " << lines[i];
    }
  }
  return groups;
}

// ---------------------------------------------------------------------------
// An independent reference: files in table order with their contents.

struct RefFile {
  std::string path;
  std::string content;
};

uint64_t Clusters(uint64_t size) { return (size + 4095) / 4096; }

// What the search must find when every file is readable and distinct:
// files of equal content form a group, groups in the order of their first
// file, members in table order; and the figures of those groups.
void Reference(const std::vector<RefFile>& files, Groups* groups, Figures* figures) {
  std::map<std::string, size_t> groupOf;
  Groups all;
  std::vector<uint64_t> sizes;
  *figures = Figures();
  figures->total = files.size();
  for (const RefFile& f : files) {
    if (f.content.empty()) {
      figures->empty++;
      continue;
    }
    auto found = groupOf.emplace(f.content, all.size());
    if (found.second) {
      all.emplace_back();
      sizes.push_back(f.content.size());
    }
    all[found.first->second].push_back(f.path);
  }
  groups->clear();
  for (size_t g = 0; g < all.size(); g++) {
    if (all[g].size() < 2) continue;
    groups->push_back(all[g]);
    uint64_t copies = all[g].size() - 1;
    figures->duplicatedFiles += copies + 1;
    figures->duplicatedBytes += (copies + 1) * sizes[g];
    figures->wasteFiles += copies;
    figures->wasteBytes += copies * sizes[g];
    figures->spaceWasted += copies * Clusters(sizes[g]) * 4096;
  }
}

// The files under root in the order of the walk: entries as the directory
// lists them, a directory walked where it is met, directories whose names
// begin with '.' passed by, regular files only.
void WalkOrder(const std::string& root, std::vector<RefFile>* files) {
  DIR* dir = opendir(root.c_str());
  ASSERT_NE(dir, nullptr) << root;
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  for (const std::string& name : names) {
    if (name == "." || name == "..") continue;
    std::string path = root + "/" + name;
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
    if (S_ISDIR(st.st_mode)) {
      if (name[0] != '.') WalkOrder(path, files);
    } else if (S_ISREG(st.st_mode)) {
      files->push_back({path, ReadFile(path)});
    }
  }
}

// ---------------------------------------------------------------------------
// Running the program.

struct Outcome {
  RunResult result;
  std::string console;     // without spinner frames
  std::string consoleLog;  // the console after "Total: ... file(s)" and before the closing line
  std::string log;         // the log file
};

std::string ConsoleLogPart(const std::string& console) {
  size_t total = console.find("Total: ");
  if (total == std::string::npos) return std::string();
  size_t start = console.find(" file(s)\r\n", total);
  if (start == std::string::npos) return std::string();
  start += 10;
  for (const char* closing : {"Done.\r\n", "Aborted by user!\r\n"}) {
    std::string tail = closing;
    if (console.size() >= start + tail.size() &&
        console.compare(console.size() - tail.size(), tail.size(), tail) == 0)
      return console.substr(start, console.size() - tail.size() - start);
  }
  return console.substr(start);
}

// Runs dupehunt over the start paths with /L=<dir>/log.txt, from dir.
Outcome RunDupehunt(const TempDir& dir, const std::vector<std::string>& startPaths,
                    const std::vector<TerminalAction>& actions = {},
                    const std::vector<std::string>& runAs = {},
                    const std::string& program = DUPEHUNT_PATH, const std::string& logDir = "") {
  std::string tmp = dir / "tmp";
  MakeDirs(tmp);
  std::string logPath = (logDir.empty() ? dir.path() : logDir) + "/log.txt";
  RunOptions options;
  options.args = runAs;
  options.args.push_back(program);
  for (const std::string& path : startPaths) options.args.push_back(path);
  options.args.push_back("/L=" + logPath);
  options.cwd = dir.path();
  options.tempDir = tmp;
  options.actions = actions;
  options.timeoutMs = 240000;
  Outcome run;
  run.result = RunProgram(options);
  run.console = StripSpinner(run.result.console);
  run.consoleLog = ConsoleLogPart(run.console);
  if (FileExists(logPath)) run.log = ReadFile(logPath);
  EXPECT_FALSE(run.result.timedOut);
  EXPECT_EQ(ListDir(tmp), std::vector<std::string>()) << "the temporary file was left behind";
  return run;
}

void ExpectDone(const Outcome& run) {
  EXPECT_EQ(run.result.exitCode, 0) << run.console << run.result.out;
  EXPECT_TRUE(run.result.terminalRestored);
  const std::string done = "Done.\r\n";
  ASSERT_GE(run.console.size(), done.size());
  EXPECT_EQ(run.console.substr(run.console.size() - done.size()), done) << run.console;
}

// A file of length bytes, all holes but for the bytes given.
void MakeSparse(const std::string& path, uint64_t length,
                const std::vector<std::pair<uint64_t, std::string>>& data) {
  MakeDirs(path.substr(0, path.rfind('/')));
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(length)), 0) << path;
  for (const auto& piece : data)
    ASSERT_EQ(pwrite(fd, piece.second.data(), piece.second.size(), static_cast<off_t>(piece.first)),
              static_cast<ssize_t>(piece.second.size()));
  close(fd);
}

// Bytes of length n: a pattern that depends on seed.
std::string Pattern(size_t n, unsigned seed) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; i++)
    bytes[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 8)) % 256);
  return bytes;
}

std::string Flip(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  return bytes;
}

// ---------------------------------------------------------------------------
// In process: the search over a table made with AddFileRecord.

class SearchTableTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kCapacity = 256;

  void SetUp() override {
    SavedMaxFiles = MaxFiles;
    MaxFiles = kCapacity;
    ASSERT_TRUE(AllocRunBlocks());
    MakeDirs(dir / "tmp");
    TempEnv.emplace("TEMP", (dir / "tmp").c_str());
    StartTable();
  }

  void TearDown() override {
    EndTable();
    TempEnv.reset();
    ReleaseRunBlocks();
    MaxFiles = SavedMaxFiles;
    SearchWithoutSizeIndex = 0;
    SearchFailed = 0;
    UserAbort = 0;
  }

  void StartTable() {
    ResetFileTable();
    UserAbort = 0;
    SearchFailed = 0;
    TempFileHandle = OpenTempFile(&TempFileName);
    ASSERT_GE(TempFileHandle, 0);
  }

  void EndTable() {
    if (TempFileHandle >= 0) FileClose(TempFileHandle);
    TempFileHandle = -1;
    if (TempFileName != nullptr) FileDelete(TempFileName);
    free(TempFileName);
    TempFileName = nullptr;
  }

  // Writes files/name and records it; identity as on disk unless given.
  void Add(const std::string& name, const std::string& content,
           const FileIdentity* identity = nullptr) {
    std::string path = dir / ("files/" + name);
    if (!FileExists(path)) WriteFile(path, content);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    DirEntry entry;
    entry.name = name;
    entry.kind = EntryKind::kFile;
    entry.size = static_cast<uint64_t>(st.st_size);
    entry.identity.device = identity ? identity->device : static_cast<uint64_t>(st.st_dev);
    entry.identity.inode = identity ? identity->inode : static_cast<uint64_t>(st.st_ino);
    entry.links = 1;
    AddFileRecord((dir / "files").c_str(), entry);
  }

  std::string PathOf(const std::string& name) { return dir / ("files/" + name); }

  // Runs the search; returns the log and the number of chunks read.
  std::string Search(uint32_t* chunks) {
    EXPECT_EQ(FlushFileTable(), 0);
    std::string logPath = dir / "search-log.txt";
    unlink(logPath.c_str());
    EXPECT_EQ(DupLog.AppendFile(logPath.c_str()), 0);
    uint32_t tick = ChunkTick;
    FindDuplicates();
    *chunks = ChunkTick - tick;
    EXPECT_EQ(DupLog.Close(), 0);
    return ReadFile(logPath);
  }

  TempDir dir;
  std::optional<ScopedEnv> TempEnv;
  uint32_t SavedMaxFiles = 0;
};

struct PairCase {
  const char* what;
  std::vector<std::string> contents;  // files 0, 1, ... in table order
  uint32_t comparisons;
  std::vector<std::vector<int>> groups;
};

TEST_F(SearchTableTest, ComparesExactlyTheCandidatePairsOfThePairLoop) {
  const std::string a = Pattern(300, 1), b = Pattern(300, 2), c = Pattern(300, 3);
  const std::string d = Pattern(300, 4), e = Pattern(700, 5), f = Pattern(700, 6);
  const PairCase cases[] = {
      {"sizes nobody shares cost nothing", {"x", "yy", a, e, "zzz"}, 0, {}},
      {"first = third and second = fourth", {a, b, a, b}, 4, {{0, 2}, {1, 3}}},
      {"all of one size and different", {a, b, c, d}, 6, {}},
      {"three identical", {a, a, a}, 2, {{0, 1, 2}}},
      {"sizes interleaved", {a, e, a, e, f, b}, 4, {{0, 2}, {1, 3}}},
      {"empty files are never compared", {"", "", a, "", a}, 1, {{2, 4}}},
      {"a file that differs anchors its own group later", {a, b, b, a, b}, 6, {{0, 3}, {1, 2, 4}}},
      {"one file", {a}, 0, {}},
      {"no file", {}, 0, {}},
  };
  // The pair loop itself compares exactly the candidate pairs; the search
  // that proves pairs different by fingerprints writes the same log.
  for (int pairLoop = 0; pairLoop < 2; pairLoop++) {
    for (const PairCase& pc : cases) {
      SCOPED_TRACE(std::string(pc.what) + (pairLoop ? " (the pair loop)" : " (fingerprints)"));
      EndTable();
      StartTable();
      SearchWithoutSizeIndex = pairLoop;
      std::vector<RefFile> files;
      for (size_t k = 0; k < pc.contents.size(); k++) {
        std::string name = "c" + std::to_string(&pc - cases) + "-" + std::to_string(k);
        Add(name, pc.contents[k]);
        files.push_back({PathOf(name), pc.contents[k]});
      }
      Groups groups;
      for (const auto& group : pc.groups) {
        groups.emplace_back();
        for (int k : group) groups.back().push_back(files[k].path);
      }
      Groups referenceGroups;
      Figures figures;
      Reference(files, &referenceGroups, &figures);
      ASSERT_EQ(referenceGroups, groups);
      uint32_t chunks = 0;
      EXPECT_EQ(Search(&chunks), LogText(groups, figures));
      if (pairLoop) {
        EXPECT_EQ(chunks, pc.comparisons);
      }
      EXPECT_EQ(SearchFailed, 0);
      for (uint32_t k = 0; k < FileCount; k++) {
        bool grouped = false;
        for (const auto& group : pc.groups)
          for (int member : group) grouped = grouped || member == static_cast<int>(k);
        EXPECT_EQ(FileSizes[k] == 0, grouped || pc.contents[k].empty()) << "file " << k;
      }
    }
  }
}

TEST_F(SearchTableTest, TwoRecordsOfOneFileAreNeverGrouped) {
  const std::string a = Pattern(500, 7);
  for (int pairLoop = 0; pairLoop < 2; pairLoop++) {
    SCOPED_TRACE(pairLoop ? "the pair loop" : "fingerprints");
    EndTable();
    StartTable();
    SearchWithoutSizeIndex = pairLoop;
    Add("one", a);
    Add("one", a);  // the same file recorded again
    Add("copy", a);
    uint32_t chunks = 0;
    Figures figures;
    figures.total = 3;
    figures.duplicatedFiles = 2;
    figures.duplicatedBytes = 1000;
    figures.wasteFiles = 1;
    figures.wasteBytes = 500;
    figures.spaceWasted = 4096;
    EXPECT_EQ(Search(&chunks), LogText({{PathOf("one"), PathOf("copy")}}, figures));
    if (pairLoop) {
      EXPECT_EQ(chunks, 1u) << "the file must not be compared with itself";
    }

    EndTable();
    StartTable();
    Add("alone", a);
    Add("alone", a);
    figures = Figures();
    figures.total = 2;
    EXPECT_EQ(Search(&chunks), LogText({}, figures));
    if (pairLoop) {
      EXPECT_EQ(chunks, 0u);
    }
  }
}

TEST_F(SearchTableTest, SizesEqualModulo4GiBAreNeverCandidates) {
  for (int withoutIndex = 0; withoutIndex < 2; withoutIndex++) {
    SCOPED_TRACE(withoutIndex ? "without the index" : "with the index");
    EndTable();
    StartTable();
    SearchWithoutSizeIndex = withoutIndex;
    // Two files of 5 equal bytes; the second is recorded as 4 GiB + 5 bytes.
    Add("small", "hello");
    Add("large", "hello");
    FileSizes[1] += 4 * kGiB;
    uint32_t chunks = 0;
    Figures figures;
    figures.total = 2;
    EXPECT_EQ(Search(&chunks), LogText({}, figures));
    EXPECT_EQ(chunks, 0u);
  }
}

TEST_F(SearchTableTest, UnknownIdentityDoesNotHideACopy) {
  const std::string a = Pattern(500, 8);
  const FileIdentity unknown;
  Add("first", a, &unknown);
  Add("second", a, &unknown);
  uint32_t chunks = 0;
  std::string log = Search(&chunks);
  EXPECT_EQ(ParseGroups(log), Groups({{PathOf("first"), PathOf("second")}}));
}

TEST_F(SearchTableTest, UnreadableTableStopsTheSearchWithoutASummary) {
  const std::string a = Pattern(500, 9);
  Add("one", a);
  Add("two", a);
  ASSERT_EQ(FlushFileTable(), 0);
  ASSERT_EQ(truncate(TempFileName, 0), 0);
  uint32_t chunks = 0;
  EXPECT_EQ(Search(&chunks), Crlf("\nDUPEHUNT comparing log:\n"));
  EXPECT_EQ(SearchFailed, 1);
  EXPECT_EQ(chunks, 0u);
}

// ---------------------------------------------------------------------------
// Through the program.

struct TreeFile {
  const char* name;  // one start directory per file, in this order
  std::string content;
};

struct LogCase {
  const char* what;
  std::vector<TreeFile> files;
  std::vector<std::vector<int>> groups;
  Figures figures;
};

Figures MakeFigures(uint64_t total, uint64_t empty, uint64_t dupFiles, uint64_t dupBytes,
                    uint64_t wasteFiles, uint64_t wasteBytes, uint64_t space) {
  Figures f;
  f.total = total;
  f.empty = empty;
  f.duplicatedFiles = dupFiles;
  f.duplicatedBytes = dupBytes;
  f.wasteFiles = wasteFiles;
  f.wasteBytes = wasteBytes;
  f.spaceWasted = space;
  return f;
}

TEST(SearchLog, WritesGroupsAndSummaryToConsoleAndLogFile) {
  const std::string k5 = Pattern(5000, 1);
  const std::string a = Pattern(3000, 2), b = Flip(a, 0), c = Flip(a, 1500), d = Flip(a, 2999);
  const LogCase cases[] = {
      {"two identical files of 5,000 bytes",
       {{"one.dat", k5}, {"two.dat", k5}},
       {{0, 1}},
       MakeFigures(2, 0, 2, 10000, 1, 5000, 8192)},
      {"three identical files",
       {{"a", k5}, {"b", k5}, {"c", k5}},
       {{0, 1, 2}},
       MakeFigures(3, 0, 3, 15000, 2, 10000, 16384)},
      {"first = third, second = fourth: two groups in the order of their first files",
       {{"w", a}, {"x", d}, {"y", a}, {"z", d}},
       {{0, 2}, {1, 3}},
       MakeFigures(4, 0, 4, 12000, 2, 6000, 8192)},
      {"same size, all different (first, middle, last byte)",
       {{"p", a}, {"q", b}, {"r", c}, {"s", d}},
       {},
       MakeFigures(4, 0, 0, 0, 0, 0, 0)},
      {"only empty files",
       {{"e1", ""}, {"e2", ""}, {"e3", ""}},
       {},
       MakeFigures(3, 3, 0, 0, 0, 0, 0)},
      {"space rounds every copy up to whole clusters",
       {{"one1", "x"},
        {"big1", Pattern(4096, 3)},
        {"odd1", Pattern(4097, 4)},
        {"one2", "x"},
        {"big2", Pattern(4096, 3)},
        {"odd2", Pattern(4097, 4)},
        {"empty", ""}},
       {{0, 3}, {1, 4}, {2, 5}},
       MakeFigures(7, 1, 6, 16388, 3, 8194, 16384)},
  };
  for (const LogCase& lc : cases) {
    SCOPED_TRACE(lc.what);
    TempDir dir;
    std::vector<std::string> starts;
    std::vector<std::string> paths;
    for (size_t k = 0; k < lc.files.size(); k++) {
      std::string start = dir / ("tree/" + std::to_string(k));
      MakeDirs(start);
      WriteFile(start + "/" + lc.files[k].name, lc.files[k].content);
      starts.push_back(start);
      paths.push_back(start + "/" + lc.files[k].name);
    }
    Groups groups;
    for (const auto& group : lc.groups) {
      groups.emplace_back();
      for (int k : group) groups.back().push_back(paths[k]);
    }
    Outcome run = RunDupehunt(dir, starts);
    ExpectDone(run);
    EXPECT_EQ(run.log, LogText(groups, lc.figures));
    EXPECT_EQ(run.consoleLog, run.log);
  }
}

TEST(SearchLog, NoFilesGivesTheHeaderAndAZeroSummary) {
  TempDir dir;
  MakeDirs(dir / "empty");
  Outcome run = RunDupehunt(dir, {dir / "empty"});
  ExpectDone(run);
  EXPECT_EQ(run.log, LogText({}, Figures()));
  EXPECT_EQ(run.consoleLog, run.log);
}

TEST(SearchLog, AppendsToAnExistingLogFile) {
  TempDir dir;
  const std::string a = Pattern(2000, 5);
  WriteFile(dir / "tree/1/f", a);
  WriteFile(dir / "tree/2/f", a);
  const std::string earlier = "an earlier run\r\n";
  WriteFile(dir / "log.txt", earlier);
  Outcome first = RunDupehunt(dir, {dir / "tree/1", dir / "tree/2"});
  Outcome second = RunDupehunt(dir, {dir / "tree/1", dir / "tree/2"});
  ExpectDone(second);
  const std::string section =
      LogText({{dir / "tree/1/f", dir / "tree/2/f"}}, MakeFigures(2, 0, 2, 4000, 1, 2000, 4096));
  EXPECT_EQ(second.log, earlier + section + section);
}

TEST(SearchLog, HugeSparseFilesKeepExactFigures) {
  TempDir dir;
  const uint64_t five = 5 * kGiB;
  const std::vector<std::pair<uint64_t, std::string>> marks = {
      {0, "start"}, {3 * kGiB + 7, "middle"}, {five - 3, "end"}};
  MakeSparse(dir / "tree/1/big", five, marks);
  MakeSparse(dir / "tree/2/big", five, marks);
  // 5 GiB + 5 bytes and 5 bytes: equal over their first 5 bytes, sizes equal
  // modulo 4 GiB; they must never meet.
  MakeSparse(dir / "tree/3/long", five + 5, {{0, "hello"}});
  WriteFile(dir / "tree/4/short", "hello");
  Outcome run = RunDupehunt(dir, {dir / "tree/1", dir / "tree/2", dir / "tree/3", dir / "tree/4"});
  ExpectDone(run);
  EXPECT_EQ(run.log, LogText({{dir / "tree/1/big", dir / "tree/2/big"}},
                             MakeFigures(4, 0, 2, 2 * five, 1, five, five)));
  EXPECT_EQ(run.consoleLog, run.log);
}

TEST(SearchLog, AFileIsNeverItsOwnDuplicate) {
  TempDir dir;
  WriteFile(dir / "tree/only", Pattern(3000, 6));
  WriteFile(dir / "tree/sub/inner", Pattern(3000, 7));
  ASSERT_EQ(link((dir / "tree/only").c_str(), (dir / "tree/hardlink").c_str()), 0);
  const std::vector<std::vector<std::string>> starts = {
      {dir / "tree", dir / "tree"},
      {dir / "tree", dir / "tree/sub"},
      {dir / "tree/sub", dir / "tree"},
  };
  for (const auto& s : starts) {
    SCOPED_TRACE(s[0] + " then " + s[1]);
    unlink((dir / "log.txt").c_str());
    Outcome run = RunDupehunt(dir, s);
    ExpectDone(run);
    EXPECT_EQ(ParseGroups(run.log), Groups());
    EXPECT_NE(run.log.find("\r\n  Duplicated files.....0\r\n"), std::string::npos) << run.log;
  }
}

// The program as an unprivileged user (for root, who can read any file):
// a copy of it that such a user may run, and the command that runs it.
bool PrepareUnprivileged(const TempDir& dir, std::string* program, std::vector<std::string>* runAs,
                         std::string* why) {
  *program = DUPEHUNT_PATH;
  runAs->clear();
  if (geteuid() != 0) return true;
  const char* setpriv = "/usr/bin/setpriv";
  if (access(setpriv, X_OK) != 0) {
    *why = "running as root, which reads any file, and setpriv is missing to drop privileges";
    return false;
  }
  *program = dir / "dupehunt";
  WriteFile(*program, ReadFile(DUPEHUNT_PATH));
  chmod(program->c_str(), 0755);
  chmod(dir.path().c_str(), 0755);
  MakeDirs(dir / "tmp");
  chmod((dir / "tmp").c_str(), 0777);
  MakeDirs(dir / "logs");
  chmod((dir / "logs").c_str(), 0777);
  *runAs = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  return true;
}

TEST(SearchLog, UnreadableFileWarnsOncePerCandidatePairAndJoinsNoGroup) {
  const std::string a = Pattern(4000, 8);
  const struct {
    const char* what;
    std::vector<std::string> order;  // "u" is the unreadable one
    int warnings;
    std::vector<std::string> group;
  } cases[] = {
      {"unreadable first: tried with both later files", {"u", "a", "b"}, 2, {"a", "b"}},
      {"unreadable second: tried with the anchor only", {"a", "u", "b"}, 1, {"a", "b"}},
      {"unreadable last, no copy else", {"a", "c", "u"}, 2, {}},
  };
  for (const auto& uc : cases) {
    SCOPED_TRACE(uc.what);
    TempDir dir;
    std::string program;
    std::vector<std::string> runAs;
    std::string why;
    if (!PrepareUnprivileged(dir, &program, &runAs, &why)) GTEST_SKIP() << why;
    std::vector<std::string> starts;
    for (const std::string& name : uc.order) {
      std::string start = dir / ("tree/" + name);
      std::string content = name == "c" ? Flip(a, 2000) : a;
      WriteFile(start + "/file", content);
      starts.push_back(start);
    }
    chmod((dir / "tree/u/file").c_str(), 0);
    const std::string unreadable = dir / "tree/u/file";
    if (runAs.empty()) {
      if (access(unreadable.c_str(), R_OK) == 0)
        GTEST_SKIP() << "this user reads files without read permission";
    } else {
      ASSERT_NE(system(("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups -- "
                        "/bin/cat " +
                        unreadable + " >/dev/null 2>&1")
                           .c_str()),
                0)
          << "the file is readable without privileges";
    }
    Outcome run = RunDupehunt(dir, starts, {}, runAs, program, runAs.empty() ? "" : dir / "logs");
    ExpectDone(run);
    Groups groups;
    if (!uc.group.empty()) {
      groups.emplace_back();
      for (const std::string& name : uc.group)
        groups.back().push_back(dir / ("tree/" + name + "/file"));
    }
    EXPECT_EQ(ParseGroups(run.log), groups);
    const std::string warning = "Warning: unable to open " + unreadable + "\r\n";
    int seen = 0;
    for (size_t at = run.consoleLog.find(warning); at != std::string::npos;
         at = run.consoleLog.find(warning, at + 1))
      seen++;
    EXPECT_EQ(seen, uc.warnings) << run.console;
    EXPECT_EQ(run.log.find("Warning"), std::string::npos) << "warnings stay off the log file";
    // Without the warnings the console shows the log file's bytes.
    std::string consoleLog = run.consoleLog;
    for (size_t at; (at = consoleLog.find(warning)) != std::string::npos;)
      consoleLog.erase(at, warning.size());
    EXPECT_EQ(consoleLog, run.log);
  }
}

TEST(SearchLog, EscDuringAComparisonEndsTheLogAfterTheLastGroupWithoutSummary) {
  TempDir dir;
  const std::string small = Pattern(3000, 9);
  WriteFile(dir / "tree/1/small", small);
  WriteFile(dir / "tree/2/small", small);
  const uint64_t size = 3 * kGiB;
  MakeSparse(dir / "tree/3/large", size, {{size - 1, "x"}});
  MakeSparse(dir / "tree/4/large", size, {{size - 1, "x"}});
  TerminalAction esc;
  esc.waitFor = dir / "tree/2/small" + "\r\n";
  esc.type = "\x1b";
  Outcome run =
      RunDupehunt(dir, {dir / "tree/1", dir / "tree/2", dir / "tree/3", dir / "tree/4"}, {esc});
  EXPECT_EQ(run.result.exitCode, 0);
  EXPECT_TRUE(run.result.terminalRestored);
  const std::string group = Crlf("\nDUPEHUNT comparing log:\n \n" + dir / "tree/1/small" + "\n" +
                                 dir / "tree/2/small" + "\n");
  EXPECT_EQ(run.log, group);
  const std::string aborted = "Aborted by user!\r\n";
  ASSERT_GE(run.console.size(), aborted.size());
  EXPECT_EQ(run.console.substr(run.console.size() - aborted.size()), aborted) << run.console;
  EXPECT_EQ(run.consoleLog, run.log);
}

TEST(SearchLog, OtherKeysDuringAComparisonAreIgnored) {
  TempDir dir;
  const uint64_t size = kGiB;
  MakeSparse(dir / "tree/1/large", size, {{size - 1, "x"}});
  MakeSparse(dir / "tree/2/large", size, {{size - 1, "x"}});
  TerminalAction key;
  key.waitFor = "Total: ";
  key.type = "x";
  Outcome run = RunDupehunt(dir, {dir / "tree/1", dir / "tree/2"}, {key});
  ExpectDone(run);
  EXPECT_EQ(run.log, LogText({{dir / "tree/1/large", dir / "tree/2/large"}},
                             MakeFigures(2, 0, 2, 2 * size, 1, size, size)));
}

// ---------------------------------------------------------------------------
// Generated trees.

// Fills root with nested directories and files: families of equal size
// (copies, and variants differing at the first, a middle or the last byte),
// empty files, and files of sizes nobody shares. dotted adds dot-files and a
// dot-directory holding copies.
void GenerateTree(const std::string& root, unsigned seed, int families, bool dotted) {
  std::mt19937 random(seed);
  auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
  std::vector<std::string> dirs = {root};
  unsigned dirCount = 1 + below(7);
  for (unsigned k = 0; k < dirCount; k++)
    dirs.push_back(dirs[below(static_cast<unsigned>(dirs.size()))] + "/d" + std::to_string(k));
  if (dotted) dirs.push_back(root + "/.hidden");
  for (const std::string& d : dirs) MakeDirs(d);
  const size_t sizes[] = {0, 1, 2, 17, 1023, 1024, 1025, 4095, 4096, 4097, 9000};
  int fileNumber = 0;
  auto place = [&](const std::string& content) {
    std::string name = (dotted && below(8) == 0 ? ".f" : "f") + std::to_string(fileNumber++);
    WriteFile(dirs[below(static_cast<unsigned>(dirs.size()))] + "/" + name, content);
  };
  for (int family = 0; family < families; family++) {
    size_t size = below(3) == 0 ? below(20000) : sizes[below(sizeof sizes / sizeof sizes[0])];
    std::string base(size, '\0');
    for (char& byte : base)
      byte = static_cast<char>(below(4));  // few byte values: near-misses are common
    unsigned copies = below(4);
    for (unsigned k = 0; k <= copies; k++) place(base);
    if (size == 0) continue;
    unsigned variants = below(3);
    for (unsigned k = 0; k < variants; k++) {
      size_t at = k == 0 ? 0 : k == 1 ? size / 2 : size - 1;
      std::string variant = Flip(base, below(2) == 0 ? at : size - 1);
      place(variant);
      if (below(2) == 0) place(variant);
    }
  }
}

TEST(SearchProperty, GroupsAndFiguresEqualThoseOfAReferenceOnGeneratedTrees) {
  for (unsigned seed = 1; seed <= 30; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    std::string root = dir / "tree";
    GenerateTree(root, seed, 4 + static_cast<int>(seed % 9), true);
    std::vector<RefFile> files;
    WalkOrder(root, &files);
    Groups groups;
    Figures figures;
    Reference(files, &groups, &figures);
    Outcome run = RunDupehunt(dir, {root});
    ExpectDone(run);
    EXPECT_EQ(ParseGroups(run.log), groups);
    EXPECT_EQ(run.log, LogText(groups, figures));
    EXPECT_EQ(run.consoleLog, run.log);
    if (HasFailure()) break;
  }
}

std::set<std::set<std::string>> AsSets(const Groups& groups) {
  std::set<std::set<std::string>> sets;
  for (const auto& group : groups) sets.insert(std::set<std::string>(group.begin(), group.end()));
  return sets;
}

TEST(SearchProperty, GroupsEqualThoseOfFdupes) {
  if (system("command -v fdupes >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "fdupes is not installed (Debian package fdupes)";
  TempDir dir;
  std::string root = dir / "tree";
  GenerateTree(root, 2024, 120, false);
  FILE* pipe = popen(("fdupes -r -n '" + root + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  ASSERT_EQ(pclose(pipe), 0);
  Groups theirs(1);
  size_t start = 0;
  for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = output.substr(start, end - start);
    if (line.empty()) {
      if (!theirs.back().empty()) theirs.emplace_back();
    } else {
      theirs.back().push_back(line);
    }
  }
  if (theirs.back().empty()) theirs.pop_back();
  ASSERT_FALSE(theirs.empty()) << "the tree holds no duplicates";

  Outcome run = RunDupehunt(dir, {root});
  ExpectDone(run);
  EXPECT_EQ(AsSets(ParseGroups(run.log)), AsSets(theirs));
}

}  // namespace
