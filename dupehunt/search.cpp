// The duplicate search: every group of identical files, and the summary.
#include "dupehunt/search.h"

#include <algorithm>
#include <new>
#include <string>

#include "dupehunt/compare.h"
#include "dupehunt/file_table.h"
#include "dupehunt/run.h"
#include "platform/platform.h"

int SearchFailed = 0;
int SearchWithoutSizeIndex = 0;

namespace {

constexpr uint32_t kNoFile = UINT32_MAX;

struct TSummary {
  uint64_t EmptyFiles = 0;
  uint64_t DuplicatedFiles = 0;
  uint64_t DuplicatedBytes = 0;
  uint64_t WasteFiles = 0;
  uint64_t WasteBytes = 0;
  uint64_t WastedClusters = 0;
};

uint64_t CountEmptyFiles() {
  uint64_t count = 0;
  for (uint32_t i = 0; i < FileCount; i++)
    if (FileSizes[i] == 0) count++;
  return count;
}

// The index by size: for every file of non-zero size, the next file of the
// same size in table order, or kNoFile. nullptr when it cannot be allocated
// (the caller then tests every later file instead). Release with delete[].
uint32_t* BuildSizeChains() {
  if (SearchWithoutSizeIndex || FileCount == 0) return nullptr;
  uint32_t* chain = new (std::nothrow) uint32_t[FileCount];
  uint32_t* order = new (std::nothrow) uint32_t[FileCount];
  if (chain == nullptr || order == nullptr) {
    delete[] chain;
    delete[] order;
    return nullptr;
  }
  uint32_t sized = 0;
  for (uint32_t i = 0; i < FileCount; i++) {
    chain[i] = kNoFile;
    if (FileSizes[i] != 0) order[sized++] = i;
  }
  std::sort(order, order + sized, [](uint32_t a, uint32_t b) {
    return FileSizes[a] != FileSizes[b] ? FileSizes[a] < FileSizes[b] : a < b;
  });
  for (uint32_t k = 1; k < sized; k++)
    if (FileSizes[order[k - 1]] == FileSizes[order[k]]) chain[order[k - 1]] = order[k];
  delete[] order;
  return chain;
}

// The file after j that may share j's size: its successor in the index, or
// simply the next file in the table when there is no index.
uint32_t NextCandidate(const uint32_t* chain, uint32_t j) {
  if (chain != nullptr) return chain[j];
  return j + 1 < FileCount ? j + 1 : kNoFile;
}

// True when both records name one file (same device and inode). An identity
// of all zeros is unknown and matches nothing.
bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a == b && !(a.device == 0 && a.inode == 0);
}

uint64_t ClustersOf(uint64_t size) {
  return size / ClusterSize + (size % ClusterSize != 0 ? 1 : 0);
}

void WriteSummary(const TSummary& sum) {
  DupLog << " \nSummary:\n  Total files.........." << static_cast<unsigned long long>(FileCount)
         << "\n    Empty files........" << static_cast<unsigned long long>(sum.EmptyFiles)
         << "\n  Duplicated files....." << static_cast<unsigned long long>(sum.DuplicatedFiles)
         << "\n    Duplicated bytes..." << static_cast<unsigned long long>(sum.DuplicatedBytes)
         << "\n  Waste files.........." << static_cast<unsigned long long>(sum.WasteFiles)
         << "\n    Waste bytes........" << static_cast<unsigned long long>(sum.WasteBytes)
         << "\n    Space wasted......."
         << static_cast<unsigned long long>(ClusterSize * sum.WastedClusters)
         << " bytes for cluster size==" << static_cast<unsigned long long>(ClusterSize) << "\n\n";
}

// Compares anchor i with every later candidate of its size and logs the group
// it anchors. false when the search must stop (ESC, or an unreadable table).
bool SearchFromAnchor(uint32_t i, const uint32_t* chain, TSummary* sum, std::string* pathA,
                      std::string* pathB) {
  const uint64_t size = FileSizes[i];
  bool anchorRead = false;
  FileIdentity identityA;
  FileIdentity identityB;
  for (uint32_t j = NextCandidate(chain, i); j != kNoFile; j = NextCandidate(chain, j)) {
    if (FileSizes[j] != size) continue;  // another size, or grouped already
    if (!anchorRead) {
      if (!ReadFileRecord(i, pathA, &identityA)) {
        SearchFailed = 1;
        return false;
      }
      anchorRead = true;
    }
    if (!ReadFileRecord(j, pathB, &identityB)) {
      SearchFailed = 1;
      return false;
    }
    if (SameFile(identityA, identityB)) continue;

    int result = CompareFiles(pathA->c_str(), pathB->c_str(), size);
    if (UserAbort) return false;
    if (result != 0) continue;

    sum->DuplicatedFiles++;
    sum->DuplicatedBytes += size;
    sum->WasteFiles++;
    sum->WasteBytes += size;
    sum->WastedClusters += ClustersOf(size);
    if (FileSizes[i] != 0) {
      DupLog << " \n" << pathA->c_str() << "\n";
      sum->DuplicatedFiles++;
      sum->DuplicatedBytes += size;
      FileSizes[i] = 0;
    }
    DupLog << pathB->c_str() << "\n";
    FileSizes[j] = 0;
  }
  return true;
}

}  // namespace

void FindDuplicates() {
  DupLog << "\nDUPEHUNT comparing log:\n";
  TSummary sum;
  sum.EmptyFiles = CountEmptyFiles();

  uint32_t* chain = BuildSizeChains();
  std::string pathA;
  std::string pathB;
  bool finished = true;
  for (uint32_t i = 0; i + 1 < FileCount && finished; i++)
    if (FileSizes[i] != 0) finished = SearchFromAnchor(i, chain, &sum, &pathA, &pathB);
  delete[] chain;

  if (finished) WriteSummary(sum);
}
