// Sorting the files of one size into sets of identical contents:
// a cheap fingerprint first (the first and the last block, read through one
// open), then one pass over the whole contents of whatever still agrees.
#pragma once

#include <cstdint>

// Links between the files of the table, one entry per file (see
// ClassifySizeClass). The low 30 bits hold a file index or kNoLink.
constexpr uint32_t kNoLink = 0x3FFFFFFF;
constexpr uint32_t kLinkIndexMask = 0x3FFFFFFF;
// The file could not be fingerprinted or read whole: its pairs are decided by
// CompareFiles.
constexpr uint32_t kUnknownFile = 0x80000000u;
// Some file of this file's size is unknown.
constexpr uint32_t kMixedSize = 0x40000000u;
// Not sorted yet.
constexpr uint32_t kUnsorted = 0xFFFFFFFFu;

// Bytes hashed at each end of a file for its fingerprints.
constexpr uint32_t kFingerprintBlock = 4096;

// Sorts the files of one size, from head along sizeNext (ascending indexes,
// all of recorded size size), into sets of identical first size bytes, proven
// byte by byte. Sets eqNext of every such file: the next file of its set, or
// kNoLink; kUnknownFile for a file that failed to open or read; kMixedSize is
// added to every entry when any file is unknown. Turns the spinner and polls
// the keyboard as it reads. false when ESC was pressed (UserAbort is set) or
// when a record of the table cannot be read (SearchFailed is set).
bool ClassifySizeClass(uint32_t head, uint64_t size, const uint32_t* sizeNext, uint32_t* eqNext);
