// RunScan's fatal ending on a full table, run in-process: the run ends with
// code 2 and leaves no temporary file behind.
#include "dupehunt/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "dupehunt/file_table.h"
#include "testing/test_support.h"

namespace {

class RunScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Forked, so the child writes into this test's directories.
    GTEST_FLAG_SET(death_test_style, "fast");
    for (int i = 0; i < 5; ++i) WriteFile(Tree / ("f" + std::to_string(i)), "x");
    Report = Temp / "report";
  }

  // Runs RunScan over the tree in a child whose standard output goes to
  // Report and whose temporary directory is Temp (or tempDir).
  void RunInChild(uint32_t capacity, const std::string& tempDir) {
    setenv("TEMP", tempDir.c_str(), 1);
    int fd = open(Report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    MaxFiles = capacity;
    std::string path = Tree.path();
    char* paths[] = {&path[0], nullptr};
    exit(RunScan(paths));
  }

  TempDir Tree;
  TempDir Temp;
  std::string Report;
};

TEST_F(RunScanTest, FullTableEndsWithCodeTwoAndRemovesTheTemporaryFile) {
  EXPECT_EXIT(RunInChild(3, Temp.path()), ::testing::ExitedWithCode(2), "");
  EXPECT_EQ(ReadFile(Report), "[EXECUTION ERROR]\r\nFatal error: too many files!\r\n");
  EXPECT_EQ(ListDir(Temp.path()), std::vector<std::string>{"report"});
}

}  // namespace
