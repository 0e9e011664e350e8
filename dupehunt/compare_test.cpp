// CompareFiles on real files: its chunk plan, its results and its handles.
#include "dupehunt/compare.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "dupehunt/file_table.h"
#include "library/output.h"
#include "testing/test_support.h"

namespace {

constexpr uint64_t kBuffer = CompareBufferSize;

// The byte at offset of every test file of the given length: a pattern over
// the first 4 KiB, a marker in the last byte, zeros (a hole) in between.
unsigned char ByteAt(uint64_t offset, uint64_t length) {
  if (offset + 1 == length) return 'E';
  if (offset < 4096) return static_cast<unsigned char>(offset * 7 % 251 + 1);
  return 0;
}

void PutByte(int fd, uint64_t offset, unsigned char byte) {
  ASSERT_EQ(pwrite(fd, &byte, 1, static_cast<off_t>(offset)), 1);
}

// Writes a file of length bytes (see ByteAt); flips the byte at flip when it
// lies inside the file.
void MakeFile(const std::string& path, uint64_t length, uint64_t flip = UINT64_MAX) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(length)), 0);
  unsigned char head[4096];
  uint64_t headLength = length < sizeof head ? length : sizeof head;
  for (uint64_t i = 0; i < headLength; i++) head[i] = ByteAt(i, length);
  ASSERT_EQ(pwrite(fd, head, headLength, 0), static_cast<ssize_t>(headLength));
  if (length > 0) PutByte(fd, length - 1, ByteAt(length - 1, length));
  if (flip < length) PutByte(fd, flip, static_cast<unsigned char>(ByteAt(flip, length) ^ 0xFF));
  close(fd);
}

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) count++;
  closedir(dir);
  return count;
}

class CompareFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CompareBufferA = static_cast<unsigned char*>(malloc(CompareBufferSize));
    CompareBufferB = static_cast<unsigned char*>(malloc(CompareBufferSize));
    ASSERT_NE(CompareBufferA, nullptr);
    ASSERT_NE(CompareBufferB, nullptr);
    UserAbort = 0;
  }
  void TearDown() override {
    free(CompareBufferA);
    free(CompareBufferB);
    CompareBufferA = nullptr;
    CompareBufferB = nullptr;
  }

  // Compares and reports the result and the number of chunks begun; no
  // handle may stay open.
  int Compare(const std::string& a, const std::string& b, uint64_t size, uint32_t* chunks) {
    int before = OpenDescriptors();
    uint32_t tick = ChunkTick;
    int result = CompareFiles(a.c_str(), b.c_str(), size);
    *chunks = ChunkTick - tick;
    EXPECT_EQ(OpenDescriptors(), before) << "a handle was left open";
    EXPECT_EQ(UserAbort, 0);
    return result;
  }

  TempDir dir;
};

struct ChunkCase {
  const char* what;
  uint64_t lengthA;
  uint64_t lengthB;
  uint64_t flipB;  // offset of a differing byte in B, UINT64_MAX for none
  uint64_t size;   // bytes to compare
  int result;
  uint32_t chunks;
};

TEST_F(CompareFilesTest, ReadsAShortFirstChunkThenWholeBuffersAndStopsAtTheFirstDifference) {
  const uint64_t none = UINT64_MAX;
  const ChunkCase cases[] = {
      {"size 0 reads nothing", 10, 10, 0, 0, 0, 0},
      {"1 byte", 1, 1, none, 1, 0, 1},
      {"1024 bytes are one chunk", 1024, 1024, none, 1024, 0, 1},
      {"1025 bytes are two chunks", 1025, 1025, none, 1025, 0, 2},
      {"1025 bytes differing in the last byte", 1025, 1025, 1024, 1025, 1, 2},
      {"a difference in the first byte ends after one chunk", 3000, 3000, 0, 3000, 1, 1},
      {"a difference in the last byte of the first chunk", 3000, 3000, 1023, 3000, 1, 1},
      {"1024 + buffer bytes are two chunks", 1024 + kBuffer, 1024 + kBuffer, none, 1024 + kBuffer,
       0, 2},
      {"one byte more is three chunks", 1025 + kBuffer, 1025 + kBuffer, none, 1025 + kBuffer, 0, 3},
      {"a difference in the last byte of three chunks", 1025 + kBuffer, 1025 + kBuffer,
       1024 + kBuffer, 1025 + kBuffer, 1, 3},
      {"a difference in the middle of the second chunk", 1025 + kBuffer, 1025 + kBuffer,
       1024 + kBuffer / 2, 1025 + kBuffer, 1, 2},
      {"grown files are compared over size bytes only", 2000, 2000, 1500, 1500, 0, 2},
      {"a shrunk first file fails at its first short chunk", 1000, 2000, none, 2000, -1, 1},
      {"a shrunk second file fails", 2000, 1000, none, 2000, -1, 1},
      {"a file shrunk into the second chunk fails there", 1500, 2000, none, 2000, -1, 2},
      {"an empty first file fails", 0, 10, none, 10, -1, 1},
  };
  for (const ChunkCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string a = dir / "a";
    std::string b = dir / "b";
    MakeFile(a, c.lengthA);
    MakeFile(b, c.lengthB, c.flipB);
    uint32_t chunks = 0;
    EXPECT_EQ(Compare(a, b, c.size, &chunks), c.result);
    EXPECT_EQ(chunks, c.chunks);
  }
}

TEST_F(CompareFilesTest, MissingFileFailsBeforeAnyChunk) {
  MakeFile(dir / "present", 100);
  const struct {
    const char* a;
    const char* b;
  } cases[] = {{"missing", "present"}, {"present", "missing"}, {"missing", "other-missing"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    uint32_t chunks = 0;
    EXPECT_EQ(Compare(dir / c.a, dir / c.b, 100, &chunks), -1);
    EXPECT_EQ(chunks, 0u);
  }
}

TEST_F(CompareFilesTest, DirectoryInPlaceOfAFileFailsToRead) {
  MakeFile(dir / "file", 100);
  MakeDirs(dir / "dir");
  uint32_t chunks = 0;
  EXPECT_EQ(Compare(dir / "file", dir / "dir", 100, &chunks), -1);
}

TEST_F(CompareFilesTest, SamePathTwiceIsIdentical) {
  MakeFile(dir / "same", 1025 + kBuffer);
  uint32_t chunks = 0;
  EXPECT_EQ(Compare(dir / "same", dir / "same", 1025 + kBuffer, &chunks), 0);
  EXPECT_EQ(chunks, 3u);
}

TEST_F(CompareFilesTest, SpinnerTurnsAtTheFirstChunkOfTheRunAndEverySixteenthAfter) {
  MakeFile(dir / "a", 1025);
  MakeFile(dir / "b", 1025);
  ChunkTick = 0;
  SpinnerIndex = 0;
  uint32_t chunks = 0;
  // Ticks 0 and 1: the first turns the spinner.
  ASSERT_EQ(Compare(dir / "a", dir / "b", 1025, &chunks), 0);
  EXPECT_EQ(SpinnerIndex, 1);
  // Ticks 2 to 15, in one-chunk comparisons: no turn.
  for (int k = 0; k < 14; k++) ASSERT_EQ(Compare(dir / "a", dir / "b", 100, &chunks), 0);
  EXPECT_EQ(ChunkTick, 16u);
  EXPECT_EQ(SpinnerIndex, 1);
  // Tick 16 lies in the next comparison: it turns there.
  ASSERT_EQ(Compare(dir / "a", dir / "b", 1025, &chunks), 0);
  EXPECT_EQ(SpinnerIndex, 2);
}

TEST_F(CompareFilesTest, TickCounterWrapsWithoutMissingATurn) {
  MakeFile(dir / "a", 1025);
  ChunkTick = UINT32_MAX;
  SpinnerIndex = 0;
  uint32_t chunks = 0;
  // Ticks 4294967295 and 0: only the second turns the spinner.
  ASSERT_EQ(Compare(dir / "a", dir / "a", 1025, &chunks), 0);
  EXPECT_EQ(ChunkTick, 1u);
  EXPECT_EQ(SpinnerIndex, 1);
}

}  // namespace
