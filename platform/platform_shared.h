// The platform-neutral part of the platform layer: the text-mode handle
// flags and the CR LF writer, the console output buffer, standard output,
// the temporary-name loop and the delete-list reader. Used by
// platform_posix.cpp and platform_win32.cpp only; nothing outside this
// folder includes it. The system calls stay in the platform files, which
// define the functions declared under "Supplied by each platform file".
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>

// ---------------------------------------------------------------------------
// Supplied by each platform file.

// Writes all bytes to a file handle, continuing partial writes; false on an
// error or when the file takes nothing more (a full disk).
bool WriteAll(int handle, const char* data, size_t size);
// One read of at most size bytes, continued when interrupted: the count, 0
// at the end of the file, -1 on an error.
long long ReadSome(int handle, void* buffer, size_t size);
// Releases a file handle: 0 on success, -1 on failure (released all the same).
int CloseDescriptor(int handle);
// Opens an existing file read-only for a delete list, denying nobody; -1 when
// it is missing, a directory or unreadable.
int OpenListFile(const char* path);
// Writes bytes to the console device, opened already; what it refuses is
// dropped.
void WriteConsoleDevice(const char* data, size_t size);
// True when standard output goes to the console device as well, so that its
// own buffer has to go out before the console's.
bool StdOutSharesConsole();
// Readies standard output for the bytes of this layer, once before the first.
void PrepareStdOut();

// ---------------------------------------------------------------------------
// Per-handle tables: a handle, a small number >= 0, maps to the state the
// layer keeps for it. Growth uses realloc, so a failure is a null result.

template <typename T>
class FdTable {
 public:
  T Get(int fd) const { return fd >= 0 && static_cast<size_t>(fd) < Size ? Items[fd] : T(); }
  // False when the table could not grow.
  bool Set(int fd, T value) {
    if (fd < 0) return false;
    if (static_cast<size_t>(fd) >= Size) {
      if (value == T()) return true;
      size_t size = Size ? Size : 64;
      while (size <= static_cast<size_t>(fd)) size *= 2;
      T* items = static_cast<T*>(realloc(Items, size * sizeof(T)));
      if (!items) return false;
      for (size_t i = Size; i < size; ++i) items[i] = T();
      Items = items;
      Size = size;
    }
    Items[fd] = value;
    return true;
  }

 private:
  T* Items = nullptr;
  size_t Size = 0;
};

// ---------------------------------------------------------------------------
// File handles in text mode: their writes turn each LF into CR LF.

bool IsTextHandle(int handle);
// False when the table could not grow (only possible when text is true).
bool SetTextHandle(int handle, bool text);
// Marks a handle just opened as text mode and returns it; when that fails
// the handle is closed and -1 returned with errno ENOMEM.
int KeepAsTextHandle(int handle);
// FileWrite: all bytes, through WriteAll, CR LF for LF on a text handle;
// 0 on success, -1 (EBADF for a negative handle) on failure.
int WriteHandle(int handle, const void* data, size_t size);
// FileRead: up to size bytes through ReadSome, less only at the end of the
// file; the count or -1 on an error.
long long ReadHandle(int handle, void* buffer, size_t size);
// FileClose: forgets the text mode and closes; 0 on success, -1 on failure.
int CloseHandleOf(int handle);

// Calls read(at, count, done) for the rest of the buffer until size bytes
// are in, the end of the file (0) or an error (-1). Returns the count read,
// or -1 on an error.
template <typename Read>
long long ReadFully(void* buffer, size_t size, Read read) {
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    long long n = read(p + done, size - done, done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long long>(done);
}

// ---------------------------------------------------------------------------
// The console output buffer. ConsoleFlush (platform.h) writes it out.

// Writes the bytes through the buffer, or at once after ConsoleBufferEnd.
// The console device must be open.
void ConsoleBufferWrite(const char* data, size_t size);
// Flushes the buffer for good: later writes go to the device at once. For
// the exit-time function, when nothing would flush a buffer again.
void ConsoleBufferEnd();
// Registers atExit with atexit, on the first call only.
void RegisterAtExitOnce(void (*atExit)());

// ---------------------------------------------------------------------------
// The temporary file.

// What one exclusive create of a temporary name came to.
enum class TempAttempt {
  kCreated,      // *handle is the new file
  kTaken,        // a file (or anything) has the name: try the next number
  kUnusableDir,  // the directory itself is missing, not one, or not writable
  kFailed,       // any other failure
};
using TempCreate = TempAttempt (*)(const char* path, int* handle);

// FileCreateTemp over the candidate directories dirs[0..count) in order,
// null or empty ones skipped: in each, dir, kPathSeparator unless dir ends in
// a separator, prefix and the first number from 1 up whose create does not
// find the name taken. The next directory is tried only when the first
// create in one found the directory unusable. Returns the handle (binary
// mode) or -1; *name holds the last name tried, else stays empty.
int CreateTempInFirstUsable(const char* const* dirs, size_t count, const char* prefix,
                            std::string* name, TempCreate create);

// ---------------------------------------------------------------------------
// Small helpers.

// A malloc'ed copy of path, or nullptr for nullptr or when memory is short.
char* CopyOfPath(const char* path);
// The whole path that getcwd gives, with a buffer of first bytes growing up to
// most bytes while getcwd reports ERANGE; false when it cannot be read.
bool CurrentDirGrowing(std::string* path, size_t first, size_t most,
                       char* (*getcwd)(char* buffer, size_t size));
