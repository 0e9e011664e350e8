// Byte-by-byte comparison of two files of a known size.
#include "dupehunt/compare.h"

#include <cstring>

#include "dupehunt/file_table.h"
#include "library/output.h"
#include "platform/platform.h"

unsigned char* CompareBufferA = nullptr;
unsigned char* CompareBufferB = nullptr;
uint32_t ChunkTick = 0;

namespace {

// True when the whole chunk arrived; else shows the read warning for path.
bool ReadChunk(int handle, unsigned char* buffer, size_t length, const char* path) {
  if (FileRead(handle, buffer, length) == static_cast<long long>(length)) return true;
  Out << "Warning: error reading " << path << "\n";
  return false;
}

}  // namespace

int CompareFiles(const char* pathA, const char* pathB, uint64_t size) {
  int fileA = FileOpenRead(pathA);
  if (fileA < 0) {
    Out << "Warning: unable to open " << pathA << "\n";
    return -1;
  }
  int fileB = FileOpenRead(pathB);
  if (fileB < 0) {
    Out << "Warning: unable to open " << pathB << "\n";
    FileClose(fileA);
    return -1;
  }

  int result = 0;
  uint64_t rest = size;
  size_t limit = FirstChunk;
  while (rest != 0) {
    if (ConsolePollKey() == kKeyEsc) {
      UserAbort = 1;
      FileClose(fileA);
      FileClose(fileB);
      return 0;
    }
    if ((ChunkTick++ & 15) == 0) ShowSpinner();

    size_t length = rest < limit ? static_cast<size_t>(rest) : limit;
    limit = CompareBufferSize;
    if (!ReadChunk(fileA, CompareBufferA, length, pathA) ||
        !ReadChunk(fileB, CompareBufferB, length, pathB)) {
      result = -1;
      break;
    }
    if (memcmp(CompareBufferA, CompareBufferB, length) != 0) {
      result = 1;
      break;
    }
    rest -= length;
  }

  FileClose(fileA);
  FileClose(fileB);
  return result;
}
