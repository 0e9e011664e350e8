// The platform-neutral part of the platform layer (see platform_shared.h).
#include "platform/platform_shared.h"

#include <errno.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

FdTable<unsigned char> TextHandles;

char ConsoleBuffer[8192];
size_t ConsoleUsed = 0;
bool ConsoleDirect = false;  // after the exit-time flush: no more buffering
bool AtExitRegistered = false;
bool StdOutPrepared = false;

void PrepareStdOutOnce() {
  if (StdOutPrepared) return;
  StdOutPrepared = true;
  PrepareStdOut();
}

constexpr unsigned kMaxTempNumbers = 100000;

// Creates dir/prefixN for the first N from 1 up whose name is free. Returns
// the handle, or -1 with *name holding the last name tried and *unusable
// telling whether the first attempt already failed because of the directory
// itself.
int CreateTempIn(const char* dir, const char* prefix, std::string* name, bool* unusable,
                 TempCreate create) {
  *unusable = false;
  std::string base = dir;
  if (base.empty() || (base.back() != '/' && base.back() != '\\')) base += kPathSeparator;
  base += prefix;
  for (unsigned number = 1; number <= kMaxTempNumbers; ++number) {
    char digits[16];
    snprintf(digits, sizeof digits, "%u", number);
    *name = base + digits;
    int handle = -1;
    TempAttempt attempt = create(name->c_str(), &handle);
    if (attempt == TempAttempt::kCreated) {
      SetTextHandle(handle, false);
      return handle;
    }
    if (attempt != TempAttempt::kTaken) {
      *unusable = number == 1 && attempt == TempAttempt::kUnusableDir;
      return -1;
    }
  }
  return -1;
}

// A delete list being read: its handle and a buffer of its bytes.
struct ListStream {
  int fd;
  size_t pos;
  size_t end;
  bool done;
  unsigned char data[65536];
};

FdTable<ListStream*> Lists;

}  // namespace

// ---------------------------------------------------------------------------
// Text-mode handles.

bool IsTextHandle(int handle) { return TextHandles.Get(handle) != 0; }

bool SetTextHandle(int handle, bool text) { return TextHandles.Set(handle, text ? 1 : 0); }

int KeepAsTextHandle(int handle) {
  if (SetTextHandle(handle, true)) return handle;
  CloseDescriptor(handle);
  errno = ENOMEM;
  return -1;
}

int WriteHandle(int handle, const void* data, size_t size) {
  if (handle < 0) {
    errno = EBADF;
    return -1;
  }
  const char* p = static_cast<const char*>(data);
  if (!IsTextHandle(handle)) return WriteAll(handle, p, size) ? 0 : -1;
  // Each text write is one file write as far as possible: the bytes go out
  // through a buffer, so appends of one call stay together.
  char chunk[8192];
  size_t used = 0;
  for (size_t i = 0; i < size; ++i) {
    if (used + 2 > sizeof chunk) {
      if (!WriteAll(handle, chunk, used)) return -1;
      used = 0;
    }
    if (p[i] == '\n') chunk[used++] = '\r';
    chunk[used++] = p[i];
  }
  return used == 0 || WriteAll(handle, chunk, used) ? 0 : -1;
}

long long ReadHandle(int handle, void* buffer, size_t size) {
  return ReadFully(buffer, size, [handle](char* at, size_t count, size_t) {
    return ReadSome(handle, at, count);
  });
}

int CloseHandleOf(int handle) {
  if (handle < 0) {
    errno = EBADF;
    return -1;
  }
  SetTextHandle(handle, false);
  return CloseDescriptor(handle) == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Console output.

void ConsoleFlush() {
  if (ConsoleUsed == 0) return;
  // Keep the order of bytes when standard output is on the same device.
  if (StdOutSharesConsole()) fflush(stdout);
  WriteConsoleDevice(ConsoleBuffer, ConsoleUsed);
  ConsoleUsed = 0;
}

void ConsoleBufferWrite(const char* data, size_t size) {
  if (ConsoleDirect) {
    WriteConsoleDevice(data, size);
    return;
  }
  while (size > 0) {
    size_t room = sizeof ConsoleBuffer - ConsoleUsed;
    size_t n = size < room ? size : room;
    memcpy(ConsoleBuffer + ConsoleUsed, data, n);
    ConsoleUsed += n;
    data += n;
    size -= n;
    if (ConsoleUsed == sizeof ConsoleBuffer) ConsoleFlush();
  }
}

void ConsoleBufferEnd() {
  ConsoleFlush();
  ConsoleDirect = true;
}

void RegisterAtExitOnce(void (*atExit)()) {
  if (AtExitRegistered) return;
  AtExitRegistered = true;
  atexit(atExit);
}

// ---------------------------------------------------------------------------
// Standard output.

void StdOutWrite(const char* data, size_t size) {
  ConsoleFlush();
  PrepareStdOutOnce();
  const char* end = data + size;
  while (data < end) {
    const char* lf = static_cast<const char*>(memchr(data, '\n', static_cast<size_t>(end - data)));
    if (!lf) {
      fwrite(data, 1, static_cast<size_t>(end - data), stdout);
      break;
    }
    fwrite(data, 1, static_cast<size_t>(lf - data), stdout);
    fwrite("\r\n", 1, 2, stdout);
    data = lf + 1;
  }
}

void StdOutPutChar(char c) {
  ConsoleFlush();
  PrepareStdOutOnce();
  if (c == '\n') putc('\r', stdout);
  putc(c, stdout);
}

void StdOutFlush() {
  ConsoleFlush();
  fflush(stdout);
}

// ---------------------------------------------------------------------------
// The temporary file.

int CreateTempInFirstUsable(const char* const* dirs, size_t count, const char* prefix,
                            std::string* name, TempCreate create) {
  name->clear();
  for (size_t i = 0; i < count; ++i) {
    if (!dirs[i] || !*dirs[i]) continue;
    bool unusable = false;
    int handle = CreateTempIn(dirs[i], prefix, name, &unusable, create);
    if (!unusable) return handle;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Delete-list reading.

int ListOpen(const char* path) {
  int fd = OpenListFile(path);
  if (fd < 0) return -1;
  ListStream* list = static_cast<ListStream*>(malloc(sizeof(ListStream)));
  if (!list || !Lists.Set(fd, list)) {
    free(list);
    CloseDescriptor(fd);
    errno = ENOMEM;
    return -1;
  }
  list->fd = fd;
  list->pos = list->end = 0;
  list->done = false;
  return fd;
}

int ListGetByte(int handle) {
  ListStream* list = Lists.Get(handle);
  if (!list) return -1;
  if (list->pos == list->end) {
    if (list->done) return -1;
    long long n = ReadSome(list->fd, list->data, sizeof list->data);
    if (n <= 0) {
      list->done = true;
      return -1;
    }
    list->pos = 0;
    list->end = static_cast<size_t>(n);
  }
  return list->data[list->pos++];
}

void ListClose(int handle) {
  ListStream* list = Lists.Get(handle);
  if (!list) return;
  Lists.Set(handle, nullptr);
  CloseDescriptor(list->fd);
  free(list);
}

// ---------------------------------------------------------------------------
// Small helpers.

char* CopyOfPath(const char* path) {
  if (!path) return nullptr;
  size_t size = strlen(path) + 1;
  char* copy = static_cast<char*>(malloc(size));
  if (copy) memcpy(copy, path, size);
  return copy;
}

bool CurrentDirGrowing(std::string* path, size_t first, size_t most,
                       char* (*getcwd)(char* buffer, size_t size)) {
  size_t size = first;
  for (;;) {
    char* buffer = static_cast<char*>(malloc(size));
    if (!buffer) return false;
    if (getcwd(buffer, size)) {
      path->assign(buffer);
      free(buffer);
      return true;
    }
    int error = errno;
    free(buffer);
    if (error != ERANGE || size >= most) return false;
    size *= 2;
  }
}
