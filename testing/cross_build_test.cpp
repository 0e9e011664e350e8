// The native programs and the Windows programs under Wine, run on the same
// inputs: the same list file gives the same Purgon32 output, the same tree
// gives the same log but for the spelling of paths (drive and separator).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "testing/program_under_test.h"
#include "testing/test_support.h"

namespace {

const ProgramUnderTest& Native() { return ProgramUnderTest::Native(); }
const ProgramUnderTest& Wine() { return ProgramUnderTest::Current(); }

// Standard output without the banner line, which carries the build's date.
std::string AfterBanner(const std::string& out) {
  const size_t end = out.find("\r\n");
  return end == std::string::npos ? out : out.substr(end + 2);
}

// Native paths in text turned into the Windows build's spelling of them.
std::string Respelled(std::string text, const std::string& root) {
  const std::string to = Wine().Path(root);
  for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, at + to.size())) {
    size_t end = text.find("\r\n", at);
    std::string path = text.substr(at, end - at);
    text.replace(at, path.size(), Wine().Path(path));
  }
  return text;
}

class CrossBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Wine().wine()) GTEST_SKIP() << "runs only with DUPEHUNT_WIN32_DIR set";
  }
};

TEST_F(CrossBuildTest, SameListGivesTheSameOutputAndLeavesTheSameFiles) {
  const std::string list = std::string(
      "a\n"
      "  \t\r\n"
      "sub/b\r\n"
      "missing\n"
      "sub\n"
      "ro\n"
      "c \t\n"
      "a\n"
      "x\0y\n"
      "*\n"
      "d\032e\n",
      37);
  std::vector<std::string> left[2];
  std::string out[2];
  int code[2];
  for (int i = 0; i < 2; ++i) {
    const ProgramUnderTest& under = i == 0 ? Native() : Wine();
    SCOPED_TRACE(under.name());
    TempDir work;
    for (const char* name : {"a", "sub/b", "c", "d", "e", "keep"}) WriteFile(work / name, "x");
    WriteFile(work / "ro", "x");
    chmod((work / "ro").c_str(), 0444);
    WriteFile(work / "list.txt", list);
    RunOptions options;
    options.args = {"list.txt"};
    options.cwd = work.path();
    const RunResult r = under.Run(Program::kPurgon, options);
    code[i] = r.exitCode;
    out[i] = r.out;
    left[i] = ListDir(work.path());
    left[i].push_back("sub: ");
    for (const std::string& name : ListDir(work / "sub")) left[i].push_back(name);
  }
  EXPECT_EQ(code[0], 0);
  EXPECT_EQ(code[1], code[0]);
  EXPECT_EQ(out[0].substr(0, out[0].find(" 20")), out[1].substr(0, out[1].find(" 20")));
  EXPECT_EQ(AfterBanner(out[1]), AfterBanner(out[0]));
  EXPECT_EQ(left[1], left[0]);
}

TEST_F(CrossBuildTest, SameTreeGivesTheSameLogButForPathSpelling) {
  // Each directory holds a single entry, so that the order of a walk is the
  // same whatever order a platform lists directory entries in.
  TempDir work;
  const std::string big(70000, 'q');
  WriteFile(work / "s1/f", big);
  WriteFile(work / "s2/d/e/f", "second group\n");
  WriteFile(work / "s3/g", big);
  WriteFile(work / "s4/h", "second group\n");
  WriteFile(work / "s5/i", big.substr(1) + "r");
  WriteFile(work / "s6/empty", "");
  WriteFile(work / "s7/j", "second group\n");
  const std::vector<std::string> starts = {"s1", "s2", "s3", "s4", "s5", "s6", "s7"};
  std::string log[2];
  for (int i = 0; i < 2; ++i) {
    const ProgramUnderTest& under = i == 0 ? Native() : Wine();
    SCOPED_TRACE(under.name());
    TempDir temp;
    WriteFile(work / "log.txt", "kept\r\n");
    RunOptions options;
    for (const std::string& start : starts) options.args.push_back(under.Path(work / start));
    options.args.push_back("/L=log.txt");
    options.args.push_back(under.Path(work / "s1"));  // walked once only
    options.cwd = work.path();
    options.tempDir = temp.path();
    const RunResult r = under.Run(Program::kDupehunt, options);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ListDir(temp.path()).empty());
    log[i] = ReadFile(work / "log.txt");
  }
  EXPECT_NE(log[0].find("Waste files..........3\r\n"), std::string::npos) << log[0];
  EXPECT_EQ(log[1], Respelled(log[0], work.path()));
}

TEST_F(CrossBuildTest, SameFatalReportAndExitCodes) {
  const std::vector<std::vector<std::string>> runs = {
      {},
      {"/L=a.txt", "/L=b.txt", "x"},
      {"/L=", "x"},
      {"x", "nowhere"},
  };
  for (const std::vector<std::string>& args : runs) {
    RunResult r[2];
    for (int i = 0; i < 2; ++i) {
      TempDir work;
      MakeDirs(work / "x");
      RunOptions options;
      options.args = args;
      options.cwd = work.path();
      options.tempDir = work / "x";
      r[i] = (i == 0 ? Native() : Wine()).Run(Program::kDupehunt, options);
    }
    SCOPED_TRACE(args.empty() ? "no argument" : args[0]);
    EXPECT_EQ(r[1].exitCode, r[0].exitCode);
    EXPECT_EQ(r[1].out, r[0].out);
  }
}

}  // namespace
