// The duplicate search: every group of identical files, and the summary.
#pragma once

#include <cstdint>

constexpr uint32_t ClusterSize = 4096;

// Set when a record of the file table could not be read back during the
// search; the search then stops without a summary and the run must end with
// a fatal error.
extern int SearchFailed;
// Test seam: non-zero makes the search run the plain pair loop, testing every
// later file and comparing every candidate pair with CompareFiles, as it does
// when the memory for its links by size and by contents cannot be allocated.
extern int SearchWithoutSizeIndex;

// Writes the comparing log and its summary to DupLog. Candidate pairs are the
// files of equal non-zero size not yet grouped, each file with every later one
// in table order; two records of the same file are never paired. Grouped
// files get size 0 in FileSizes. Returns early, without a summary, when ESC
// is pressed (UserAbort) or when the table cannot be read (SearchFailed).
// The log, the warnings and their order are those of comparing every candidate
// pair in turn with CompareFiles, though most pairs are proven different by
// fingerprints without opening them, and identical files are read about once.
void FindDuplicates();
