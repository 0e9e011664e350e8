#include "library/common.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

// Lets an impossible allocation fail with nullptr under AddressSanitizer too,
// as it does without it.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

const size_t kImpossible = SIZE_MAX / 2;

TEST(AllocBlocks, ObtainsEveryBlock) {
  void* a = nullptr;
  void* b = nullptr;
  EXPECT_EQ(AllocBlocks(2, &a, size_t{16}, &b, size_t{32}), 2);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  free(a);
  free(b);
}

TEST(AllocBlocks, ReleasesEarlierBlocksAndLeavesLaterDestinationsAloneOnFailure) {
  void* first = nullptr;
  void* second = reinterpret_cast<void*>(0x1);
  void* untouched = reinterpret_cast<void*>(0x2);
  EXPECT_EQ(AllocBlocks(3, &first, size_t{64}, &second, kImpossible, &untouched, size_t{8}), 1);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(untouched, reinterpret_cast<void*>(0x2));
  // first keeps its (released) address; LeakSanitizer would report it had it
  // not been released.
  EXPECT_NE(first, nullptr);
}

TEST(AllocBlocks, CountZeroObtainsNothing) { EXPECT_EQ(AllocBlocks(0), 0); }

TEST(GetFileDir, KeepsTheTextBeforeTheLastSeparator) {
  const struct {
    const char* path;
    const char* dir;
  } cases[] = {
      {"/usr/local/bin/dupehunt", "/usr/local/bin"},
      {"/dupehunt", ""},
      {"dupehunt", ""},
      {"tools/dupehunt", "tools"},
      {"a\\b/c", "a\\b"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char dest[64];
    EXPECT_EQ(GetFileDir(c.path, dest), dest);
    EXPECT_STREQ(dest, c.dir) << c.path;
  }
}

}  // namespace
