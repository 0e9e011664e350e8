// The search against the plain pair loop: on generated trees the finder and
// dupehunt_literal (every candidate pair compared with CompareFiles) write the
// same log file, the same console bytes apart from the spinner, the same
// standard output and the same exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dupehunt/compare.h"
#include "testing/pty_run.h"
#include "testing/test_support.h"

namespace {

struct Outcome {
  std::string log;
  std::string console;  // without spinner frames
  std::string out;
  int exitCode = -1;
};

// Runs program on the start paths with /L= in logDir; runAs prefixes the command.
Outcome Run(const TempDir& dir, const std::string& program, const std::vector<std::string>& starts,
            const std::vector<std::string>& runAs, const std::string& logDir) {
  const std::string logPath = logDir + "/log.txt";
  unlink(logPath.c_str());
  RunOptions options;
  options.args = runAs;
  options.args.push_back(program);
  for (const std::string& start : starts) options.args.push_back(start);
  options.args.push_back("/L=" + logPath);
  options.tempDir = dir / "tmp";
  options.cwd = dir.path();
  options.timeoutMs = 240000;
  RunResult result = RunProgram(options);
  EXPECT_FALSE(result.timedOut);
  Outcome outcome;
  outcome.log = FileExists(logPath) ? ReadFile(logPath) : "";
  outcome.console = StripSpinner(result.console);
  outcome.out = result.out;
  outcome.exitCode = result.exitCode;
  return outcome;
}

// Both programs, runnable by an unprivileged user when the tests run as root
// (who reads every file), so that files without read permission stay
// unreadable. Empty runAs and *unreadable false when that cannot be had.
struct Programs {
  std::string fast = DUPEHUNT_PATH;
  std::string literal = DUPEHUNT_LITERAL_PATH;
  std::vector<std::string> runAs;
  bool unreadable = true;
};

Programs Prepare(const TempDir& dir) {
  Programs p;
  MakeDirs(dir / "tmp");
  MakeDirs(dir / "logs");
  if (geteuid() != 0) return p;
  if (access("/usr/bin/setpriv", X_OK) != 0) {
    p.unreadable = false;
    return p;
  }
  p.fast = dir / "dupehunt";
  p.literal = dir / "dupehunt_literal";
  WriteFile(p.fast, ReadFile(DUPEHUNT_PATH));
  WriteFile(p.literal, ReadFile(DUPEHUNT_LITERAL_PATH));
  chmod(p.fast.c_str(), 0755);
  chmod(p.literal.c_str(), 0755);
  chmod(dir.path().c_str(), 0755);
  chmod((dir / "tmp").c_str(), 0777);
  chmod((dir / "logs").c_str(), 0777);
  p.runAs = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  return p;
}

// Returns the console bytes of the finder.
std::string ExpectSameOutcome(const TempDir& dir, const Programs& p,
                              const std::vector<std::string>& starts) {
  Outcome fast = Run(dir, p.fast, starts, p.runAs, dir / "logs");
  Outcome literal = Run(dir, p.literal, starts, p.runAs, dir / "logs");
  EXPECT_EQ(fast.exitCode, 0);
  EXPECT_NE(literal.log.find("Summary:"), std::string::npos) << literal.log;
  EXPECT_EQ(fast.log, literal.log);
  EXPECT_EQ(fast.console, literal.console);
  EXPECT_EQ(fast.out, literal.out);
  EXPECT_EQ(fast.exitCode, literal.exitCode);
  return fast.console;
}

std::string Flip(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  return bytes;
}

// Fills root with nested directories holding families of files of one size:
// copies, and variants that differ at the first byte, in the middle, at the
// last byte, or just beside the blocks that fingerprints cover; empty files;
// and (when unreadable) some files that cannot be read.
void GenerateTree(const std::string& root, unsigned seed, bool unreadable) {
  std::mt19937 random(seed);
  auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
  std::vector<std::string> dirs = {root};
  for (unsigned k = 0, n = 1 + below(6); k < n; k++)
    dirs.push_back(dirs[below(static_cast<unsigned>(dirs.size()))] + "/d" + std::to_string(k));
  for (const std::string& d : dirs) MakeDirs(d);
  const size_t sizes[] = {0,    1,    17,   1023, 1024, 1025,  4095, 4096,
                          4097, 5000, 8191, 8192, 8193, 20000, 70000};
  int fileNumber = 0;
  auto place = [&](const std::string& content) {
    std::string path =
        dirs[below(static_cast<unsigned>(dirs.size()))] + "/f" + std::to_string(fileNumber++);
    WriteFile(path, content);
    if (unreadable && !content.empty() && below(8) == 0) chmod(path.c_str(), 0);
  };
  for (int family = 0, families = 3 + static_cast<int>(below(8)); family < families; family++) {
    size_t size = sizes[below(sizeof sizes / sizeof sizes[0])];
    std::string base(size, '\0');
    for (char& byte : base) byte = static_cast<char>(below(3));
    for (unsigned k = 0, copies = below(5); k <= copies; k++) place(base);
    if (size == 0) continue;
    for (unsigned k = 0, variants = below(4); k < variants; k++) {
      const size_t spots[] = {0, size / 2, size - 1, std::min<size_t>(4096, size - 1),
                              size > 4097 ? size - 4097 : 0};
      std::string variant = Flip(base, spots[below(5)]);
      for (unsigned c = 0, copies = below(3); c <= copies; c++) place(variant);
    }
  }
}

TEST(SearchDifferential, GeneratedTreesGiveTheLogAndConsoleOfThePairLoop) {
  int treesWithWarnings = 0;
  bool unreadable = true;
  for (unsigned seed = 1; seed <= 40; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    Programs programs = Prepare(dir);
    if (seed == 1 && !programs.unreadable)
      std::printf("[ NOTE     ] running as root without setpriv: every file is readable\n");
    std::string root = dir / "tree";
    unreadable = programs.unreadable;
    GenerateTree(root, seed, unreadable);
    // Two start paths in reverse order now and then: another table order.
    std::vector<std::string> starts = {root};
    if (seed % 3 == 0) starts = {root + "/d0", root};
    std::string console = ExpectSameOutcome(dir, programs, starts);
    if (console.find("Warning: unable to open ") != std::string::npos) treesWithWarnings++;
    if (HasFailure()) break;
  }
  if (unreadable) {
    EXPECT_GE(treesWithWarnings, 10) << "too few trees with unreadable files";
  }
}

// Files over several comparison chunks: a set of copies, copies that differ
// in the last byte or in a middle chunk, and an unreadable one of their size.
TEST(SearchDifferential, FilesOfSeveralChunksGiveTheLogAndConsoleOfThePairLoop) {
  TempDir dir;
  Programs programs = Prepare(dir);
  const size_t size = CompareBufferSize + 5000;
  std::string base(size, '\0');
  for (size_t i = 0; i < size; i++) base[i] = static_cast<char>((i * 7 + (i >> 12)) % 251);
  const std::string root = dir / "tree";
  WriteFile(root + "/a", base);
  WriteFile(root + "/b", Flip(base, size - 1));
  WriteFile(root + "/c", base);
  WriteFile(root + "/d", Flip(base, CompareBufferSize + 10));
  WriteFile(root + "/e", base);
  WriteFile(root + "/f", Flip(base, size - 1));
  if (programs.unreadable) {
    WriteFile(root + "/g", base);
    chmod((root + "/g").c_str(), 0);
  }
  ExpectSameOutcome(dir, programs, {root});
}

}  // namespace
