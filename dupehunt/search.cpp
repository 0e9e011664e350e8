// The duplicate search: every group of identical files, and the summary.
//
// The log is that of the pair loop: each file of non-zero size, in table
// order, is the anchor of a pass over every later file not yet grouped that
// has its size, and each pair found identical is logged at once. The loop
// learns which pairs are identical from the sets of identical files sorted
// out per size by ClassifySizeClass, which reads each file about once; only
// pairs that include a file that could not be read go through CompareFiles,
// which then shows the warnings the user expects, pair by pair.
#include "dupehunt/search.h"

#include <algorithm>
#include <new>
#include <string>

#include "dupehunt/compare.h"
#include "dupehunt/file_table.h"
#include "dupehunt/fingerprint.h"
#include "dupehunt/run.h"
#include "platform/platform.h"

int SearchFailed = 0;
int SearchWithoutSizeIndex = 0;

namespace {

struct TSummary {
  uint64_t EmptyFiles = 0;
  uint64_t DuplicatedFiles = 0;
  uint64_t DuplicatedBytes = 0;
  uint64_t WasteFiles = 0;
  uint64_t WasteBytes = 0;
  uint64_t WastedClusters = 0;
};

// The state of one search. Without the links (no memory for them) every
// later file is a candidate and every pair goes through CompareFiles.
struct TSearch {
  uint32_t* sizeNext = nullptr;  // the next file of the same size, or kNoLink
  uint32_t* eqNext = nullptr;    // see ClassifySizeClass; kUnsorted at first
  TSummary sum;
  std::string pathA;
  std::string pathB;
  std::string line;
  FileIdentity identityA;
  FileIdentity identityB;
};

uint64_t CountEmptyFiles() {
  uint64_t count = 0;
  for (uint32_t i = 0; i < FileCount; i++)
    if (FileSizes[i] == 0) count++;
  return count;
}

// Links every file of non-zero size to the next file of its size, and marks
// every file unsorted. false when the memory for the links is missing.
bool BuildLinks(TSearch* s) {
  if (SearchWithoutSizeIndex || FileCount == 0) return false;
  s->sizeNext = new (std::nothrow) uint32_t[FileCount];
  s->eqNext = new (std::nothrow) uint32_t[FileCount];
  uint32_t* order = new (std::nothrow) uint32_t[FileCount];
  if (s->sizeNext == nullptr || s->eqNext == nullptr || order == nullptr) {
    delete[] s->sizeNext;
    delete[] s->eqNext;
    delete[] order;
    s->sizeNext = s->eqNext = nullptr;
    return false;
  }
  uint32_t sized = 0;
  for (uint32_t i = 0; i < FileCount; i++) {
    s->sizeNext[i] = kNoLink;
    s->eqNext[i] = kUnsorted;
    if (FileSizes[i] != 0) order[sized++] = i;
  }
  std::sort(order, order + sized, [](uint32_t a, uint32_t b) {
    return FileSizes[a] != FileSizes[b] ? FileSizes[a] < FileSizes[b] : a < b;
  });
  for (uint32_t k = 1; k < sized; k++)
    if (FileSizes[order[k - 1]] == FileSizes[order[k]]) s->sizeNext[order[k - 1]] = order[k];
  delete[] order;
  return true;
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

// Writes one path line to DupLog in a single insertion.
void WritePathLine(TSearch* s, const std::string& path) {
  s->line.assign(path.c_str());
  s->line.push_back('\n');
  DupLog << s->line.c_str();
}

// Counts j as identical to anchor i and logs it; the anchor opens the group
// when this is its first partner.
void RecordIdentical(TSearch* s, uint32_t i, uint32_t j, uint64_t size) {
  TSummary& sum = s->sum;
  sum.DuplicatedFiles++;
  sum.DuplicatedBytes += size;
  sum.WasteFiles++;
  sum.WasteBytes += size;
  sum.WastedClusters += ClustersOf(size);
  if (FileSizes[i] != 0) {
    DupLog << " \n";
    WritePathLine(s, s->pathA);
    sum.DuplicatedFiles++;
    sum.DuplicatedBytes += size;
    FileSizes[i] = 0;
  }
  WritePathLine(s, s->pathB);
  FileSizes[j] = 0;
}

bool IsKnown(uint32_t link) { return (link & kUnknownFile) == 0; }

// Runs the pass of anchor i: every later file of its size not yet grouped, in
// table order. false when the search must stop (ESC, or an unreadable table).
bool SearchFromAnchor(TSearch* s, uint32_t i) {
  const uint64_t size = FileSizes[i];
  const bool linked = s->sizeNext != nullptr;
  if (linked && s->eqNext[i] == kUnsorted) {
    if (s->sizeNext[i] == kNoLink) return true;  // no other file has this size
    if (!ClassifySizeClass(i, size, s->sizeNext, s->eqNext)) return false;
  }
  const uint32_t anchorLink = linked ? s->eqNext[i] : kUnknownFile;
  // A known anchor whose size has no unknown file meets only its own set.
  const bool setOnly = (anchorLink & (kUnknownFile | kMixedSize)) == 0;
  uint32_t partner = anchorLink & kLinkIndexMask;  // next file of the anchor's set
  bool anchorRead = false;

  uint32_t j = setOnly ? partner : linked ? s->sizeNext[i] : i + 1;
  for (; j != kNoLink && j < FileCount; j = setOnly  ? s->eqNext[j] & kLinkIndexMask
                                            : linked ? s->sizeNext[j]
                                                     : j + 1) {
    if (FileSizes[j] != size) continue;  // another size, or grouped already
    const bool decided = linked && IsKnown(anchorLink) && IsKnown(s->eqNext[j]);
    if (decided) {
      while (partner != kNoLink && partner < j) partner = s->eqNext[partner] & kLinkIndexMask;
      if (partner != j) continue;  // proven different without opening either
    }
    if (!anchorRead) {
      if (!ReadFileRecord(i, &s->pathA, &s->identityA)) {
        SearchFailed = 1;
        return false;
      }
      anchorRead = true;
    }
    if (!ReadFileRecord(j, &s->pathB, &s->identityB)) {
      SearchFailed = 1;
      return false;
    }
    if (SameFile(s->identityA, s->identityB)) continue;
    if (!decided) {
      int result = CompareFiles(s->pathA.c_str(), s->pathB.c_str(), size);
      if (UserAbort) return false;
      if (result != 0) continue;
    }
    RecordIdentical(s, i, j, size);
  }
  return true;
}

}  // namespace

void FindDuplicates() {
  DupLog << "\nDUPEHUNT comparing log:\n";
  TSearch s;
  s.sum.EmptyFiles = CountEmptyFiles();
  BuildLinks(&s);

  bool finished = true;
  for (uint32_t i = 0; i + 1 < FileCount && finished; i++)
    if (FileSizes[i] != 0) finished = SearchFromAnchor(&s, i);
  delete[] s.sizeNext;
  delete[] s.eqNext;

  if (finished) WriteSummary(s.sum);
}
