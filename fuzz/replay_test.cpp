// Replays every input of a fuzz target's corpus (its seeds and every former
// finding) through the target in the normal build, so what fuzzing found
// stays fixed. A failed check inside the target aborts the test.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(FuzzCorpus, EveryInputPassesTheTargetsChecks) {
  const std::string dir = FUZZ_CORPUS_DIR;
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  ASSERT_FALSE(names.empty()) << "no corpus in " << dir;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::ifstream in(dir + "/" + name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
              0);
  }
}

}  // namespace
