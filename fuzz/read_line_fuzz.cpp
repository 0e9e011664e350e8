// Fuzz target for the delete list's reader: any bytes in, every call of
// ReadLine must give exactly what a plain model of the list's line rules
// gives, through a memory source and through a real list file alike, without
// touching a byte outside the line buffer and without running on forever.
//
// Input layout: byte 0 picks the line buffer's size (1 to 256, or the tool's
// own kLongestPath when it is 0); the rest is the list.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/line_model.h"
#include "platform/platform.h"
#include "purgon/read_line.h"

namespace {

struct MemoryBytes {
  const uint8_t* data;
  size_t size;
  size_t next;
};

int MemoryByte(void* context) {
  auto* memory = static_cast<MemoryBytes*>(context);
  if (memory->next >= memory->size) return -1;
  return memory->data[memory->next++];
}

[[noreturn]] void Fail(const char* what, size_t call) {
  fprintf(stderr, "read_line_fuzz: %s (call %zu)\n", what, call + 1);
  abort();
}

// Reads the whole list through reader and checks every call against lines.
void CheckReader(TTextReader* reader, const std::vector<ModelLine>& lines, size_t size) {
  // Exactly as big as asked for: ASan reports any byte read or written past it.
  char* buffer = new char[size];
  for (size_t call = 0;; ++call) {
    if (call >= lines.size()) Fail("more calls than lines: the reader does not stop", call);
    unsigned faults = 0xdead;
    memset(buffer, 0x5a, size);
    const int result = ReadLine(reader, buffer, size, &faults);
    const ModelLine& want = lines[call];
    if (result != want.result) Fail("result differs from the model", call);
    if (faults != want.faults) Fail("faults differ from the model", call);
    if (want.stored.size() + 1 > size) Fail("model stores more than the buffer holds", call);
    if (memcmp(buffer, want.stored.data(), want.stored.size()) != 0 ||
        buffer[want.stored.size()] != '\0') {
      Fail("stored name differs from the model", call);
    }
    if (result == 0) {
      if (call + 1 != lines.size()) Fail("end reported before the last line", call);
      break;
    }
  }
  delete[] buffer;
}

std::string ListPath() {
  const char* dir = getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  path += "/read_line_fuzz." + std::to_string(static_cast<long>(getpid()));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t bufferSize = data[0] == 0 ? kLongestPath : data[0];
  const uint8_t* list = data + 1;
  const size_t listSize = size - 1;
  const std::vector<ModelLine> lines =
      ModelReadLines(std::string(reinterpret_cast<const char*>(list), listSize), bufferSize);

  MemoryBytes memory{list, listSize, 0};
  TTextReader fromMemory(MemoryByte, &memory);
  CheckReader(&fromMemory, lines, bufferSize);

  // The same list from a real file, through the platform's list stream.
  static const std::string path = ListPath();
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) Fail("cannot write the list file", 0);
  if (listSize && fwrite(list, 1, listSize, file) != listSize) Fail("cannot write the list", 0);
  fclose(file);
  const int handle = ListOpen(path.c_str());
  if (handle < 0) Fail("cannot open the list", 0);
  TTextReader fromFile(handle);
  CheckReader(&fromFile, lines, bufferSize);
  ListClose(handle);
  remove(path.c_str());
  return 0;
}
