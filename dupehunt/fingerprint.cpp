// Sorting the files of one size into sets of identical contents.
#include "dupehunt/fingerprint.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "dupehunt/compare.h"
#include "dupehunt/file_table.h"
#include "dupehunt/search.h"
#include "library/output.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t kPollBytes = 16u << 20;
constexpr uint32_t kPollReads = 16;
// Chunk of the content pass: small enough that both chunks stay in the
// processor's cache while they are compared.
constexpr size_t kContentChunk = size_t{1} << 20;

// What is known of one file while its size is sorted: a fingerprint, or in
// the content pass the verdict of its latest chunk.
struct TPrint {
  uint64_t hash;
  uint32_t file;
};

// Verdicts of the content pass.
constexpr uint64_t kSameAsLeader = 0;
constexpr uint64_t kOtherThanLeader = 1;
constexpr uint64_t kUnreadable = 2;

// A run of files, equal before offset, still to be sorted from offset on.
struct TPart {
  uint32_t begin;
  uint32_t end;
  uint64_t offset;
};

enum class TRead { kOk, kFailed, kAborted };

uint64_t BytesSincePoll = 0;
uint32_t ReadsSincePoll = 0;
std::string Path;
FileIdentity Identity;

// The records of neighbouring files (see file_table.h) cost one read of the
// temporary file between them: a window of it, emptied for every size.
constexpr size_t kRecordWindow = 32 * 1024;
constexpr size_t kRecordIdentityBytes = 16;
unsigned char RecordWindow[kRecordWindow];
uint64_t WindowStart = 0;
size_t WindowBytes = 0;

// Sets Path to the path of file's record: from the window when the record
// lies in it whole, otherwise as ReadFileRecord reads it. false when the
// record cannot be read back whole.
bool ReadPath(uint32_t file) {
  if (file + 1 < FileCount) {
    const uint64_t start = RecordOffsets[file];
    const uint64_t end = RecordOffsets[file + 1];
    if (end > start + kRecordIdentityBytes && end - start <= kRecordWindow) {
      if (start < WindowStart || end > WindowStart + WindowBytes) {
        long long got = FileReadAt(TempFileHandle, RecordWindow, kRecordWindow, start);
        WindowStart = start;
        WindowBytes = got > 0 ? static_cast<size_t>(got) : 0;
      }
      if (end <= WindowStart + WindowBytes) {
        const char* path = reinterpret_cast<const char*>(RecordWindow) + (start - WindowStart) +
                           kRecordIdentityBytes;
        const size_t length = static_cast<size_t>(end - start) - kRecordIdentityBytes - 1;
        if (std::memchr(path, '\0', length + 1) == path + length) {
          Path.assign(path, length);
          return true;
        }
      }
    }
  }
  return ReadFileRecord(file, &Path, &Identity);
}

// Counts a read of length bytes about to begin: advances ChunkTick and turns
// the spinner as CompareFiles does, and polls the keyboard at least once
// every 16 reads and every 16 MiB. false when ESC was pressed.
bool BeginRead(uint64_t length) {
  if (ReadsSincePoll >= kPollReads || BytesSincePoll + length > kPollBytes) {
    ReadsSincePoll = 0;
    BytesSincePoll = 0;
    if (ConsolePollKey() == kKeyEsc) {
      UserAbort = 1;
      return false;
    }
  }
  ReadsSincePoll++;
  BytesSincePoll += length;
  if ((ChunkTick++ & 15) == 0) ShowSpinner();
  return true;
}

// Reads length bytes at offset of file into buffer and, when tailLength is
// not 0, tailLength bytes at tailOffset right after them, through one open:
// kFailed when the file cannot be opened or delivers fewer bytes.
// SearchFailed is set, and kAborted returned, when the file's record cannot
// be read back.
TRead ReadRegion(uint32_t file, uint64_t offset, size_t length, unsigned char* buffer,
                 uint64_t tailOffset = 0, size_t tailLength = 0) {
  if (!ReadPath(file)) {
    SearchFailed = 1;
    return TRead::kAborted;
  }
  if (!BeginRead(length + tailLength)) return TRead::kAborted;
  int handle = FileOpenRead(Path.c_str());
  if (handle < 0) return TRead::kFailed;
  long long got =
      offset == 0 ? FileRead(handle, buffer, length) : FileReadAt(handle, buffer, length, offset);
  bool whole = got == static_cast<long long>(length);
  if (whole && tailLength != 0)
    whole = FileReadAt(handle, buffer + length, tailLength, tailOffset) ==
            static_cast<long long>(tailLength);
  FileClose(handle);
  return whole ? TRead::kOk : TRead::kFailed;
}

// The state of one size being sorted.
struct TSizeClass {
  uint64_t size;
  uint32_t* eqNext;
  bool mixed;
};

void MarkUnknown(TSizeClass* c, uint32_t file) {
  c->eqNext[file] = kUnknownFile;
  c->mixed = true;
}

bool ByHashThenFile(const TPrint& a, const TPrint& b) {
  return a.hash != b.hash ? a.hash < b.hash : a.file < b.file;
}

bool ByFile(const TPrint& a, const TPrint& b) { return a.file < b.file; }

// Sets the hash of every file to that of its first block and, when it is
// longer, of its last block, both read through one open; drops (and marks
// unknown) the files that cannot be read. Returns the number kept in *kept.
// false on ESC or an unreadable table.
bool FingerprintEnds(TSizeClass* c, TPrint* prints, uint32_t count, uint32_t* kept) {
  const size_t first =
      c->size < kFingerprintBlock ? static_cast<size_t>(c->size) : kFingerprintBlock;
  const size_t last = c->size > kFingerprintBlock ? kFingerprintBlock : 0;
  uint32_t out = 0;
  for (uint32_t k = 0; k < count; k++) {
    TRead read = ReadRegion(prints[k].file, 0, first, CompareBufferA, c->size - last, last);
    if (read == TRead::kAborted) return false;
    if (read == TRead::kFailed) {
      MarkUnknown(c, prints[k].file);
      continue;
    }
    prints[out].file = prints[k].file;
    prints[out].hash = XXH3_64bits(CompareBufferA, first + last);
    out++;
  }
  *kept = out;
  return true;
}

// Links the files of prints[begin, end) (ascending) as one set of identical files.
void LinkSet(TSizeClass* c, const TPrint* prints, uint32_t begin, uint32_t end) {
  for (uint32_t k = begin; k < end; k++)
    c->eqNext[prints[k].file] = k + 1 < end ? prints[k + 1].file : kNoLink;
}

// Reads chunk [offset, offset + length) of every file of prints[begin, end)
// against the first readable one; leaves the files equal to it first, those
// that differ after them (both in ascending order), and drops the unreadable.
// *split is where the files that differ begin; *end shrinks by the dropped.
bool SplitChunk(TSizeClass* c, TPrint* prints, uint32_t* begin, uint32_t* end, uint64_t offset,
                size_t length, uint32_t* split) {
  for (;;) {
    if (*end - *begin < 2) {
      *split = *end;
      return true;
    }
    TRead read = ReadRegion(prints[*begin].file, offset, length, CompareBufferA);
    if (read == TRead::kAborted) return false;
    if (read == TRead::kOk) break;
    MarkUnknown(c, prints[*begin].file);
    (*begin)++;
  }
  prints[*begin].hash = kSameAsLeader;
  for (uint32_t k = *begin + 1; k < *end; k++) {
    TRead read = ReadRegion(prints[k].file, offset, length, CompareBufferB);
    if (read == TRead::kAborted) return false;
    if (read == TRead::kFailed) {
      MarkUnknown(c, prints[k].file);
      prints[k].hash = kUnreadable;
    } else {
      prints[k].hash = std::equal(CompareBufferA, CompareBufferA + length, CompareBufferB)
                           ? kSameAsLeader
                           : kOtherThanLeader;
    }
  }
  TPrint* first = prints + *begin;
  TPrint* readable = std::stable_partition(first, prints + *end,
                                           [](const TPrint& p) { return p.hash != kUnreadable; });
  *end = static_cast<uint32_t>(readable - prints);
  TPrint* other = std::stable_partition(first, readable,
                                        [](const TPrint& p) { return p.hash == kSameAsLeader; });
  *split = static_cast<uint32_t>(other - prints);
  return true;
}

// Sorts prints[0, count), files whose fingerprints agree, into sets of
// identical contents by reading all of them side by side, chunk by chunk:
// each byte of a set that stays together is read once.
bool SplitByContent(TSizeClass* c, TPrint* prints, uint32_t count) {
  std::sort(prints, prints + count, ByFile);
  TPart* parts = new (std::nothrow) TPart[count];
  if (parts == nullptr) {
    for (uint32_t k = 0; k < count; k++) MarkUnknown(c, prints[k].file);
    return true;
  }
  uint32_t pending = 0;
  parts[pending++] = {0, count, 0};
  bool finished = true;
  while (pending > 0 && finished) {
    TPart part = parts[--pending];
    while (part.offset < c->size && part.end - part.begin >= 2) {
      uint64_t rest = c->size - part.offset;
      size_t length = rest < kContentChunk ? static_cast<size_t>(rest) : kContentChunk;
      uint32_t split = 0;
      if (!SplitChunk(c, prints, &part.begin, &part.end, part.offset, length, &split)) {
        finished = false;
        break;
      }
      if (split < part.end) parts[pending++] = {split, part.end, part.offset};
      part.end = split;
      part.offset += length;
    }
    if (finished && part.end > part.begin) LinkSet(c, prints, part.begin, part.end);
  }
  delete[] parts;
  return finished;
}

// Splits prints[0, count) into runs of equal fingerprints: a file alone in
// its run is different from every other file of its size, the others go on
// to the content pass.
bool SplitByHash(TSizeClass* c, TPrint* prints, uint32_t count) {
  std::sort(prints, prints + count, ByHashThenFile);
  for (uint32_t a = 0, b = 0; a < count; a = b) {
    for (b = a + 1; b < count && prints[b].hash == prints[a].hash; b++) {
    }
    if (b - a == 1) {
      c->eqNext[prints[a].file] = kNoLink;
    } else if (!SplitByContent(c, prints + a, b - a)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ClassifySizeClass(uint32_t head, uint64_t size, const uint32_t* sizeNext, uint32_t* eqNext) {
  TSizeClass c{size, eqNext, false};
  WindowBytes = 0;
  uint32_t count = 0;
  for (uint32_t f = head; f != kNoLink; f = sizeNext[f]) count++;
  TPrint* prints = new (std::nothrow) TPrint[count];
  bool finished = true;
  if (prints == nullptr) {
    // Without room to sort them, every pair of this size is compared.
    for (uint32_t f = head; f != kNoLink; f = sizeNext[f]) MarkUnknown(&c, f);
  } else {
    uint32_t k = 0;
    for (uint32_t f = head; f != kNoLink; f = sizeNext[f]) prints[k++].file = f;
    uint32_t kept = 0;
    finished = FingerprintEnds(&c, prints, count, &kept) && SplitByHash(&c, prints, kept);
    delete[] prints;
  }
  if (finished && c.mixed)
    for (uint32_t f = head; f != kNoLink; f = sizeNext[f]) eqNext[f] |= kMixedSize;
  return finished;
}
