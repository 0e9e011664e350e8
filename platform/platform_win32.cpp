// Win32 implementation of the platform services, built with MinGW-w64 on
// the Microsoft C run-time library.
#include "platform/platform.h"
#include "platform/platform_shared.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <conio.h>
#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const char kPathSeparator = '\\';
const size_t kLongestPath = 260;

namespace {

// ---------------------------------------------------------------------------
// Handle tables. Directories, delete lists and saved directories are objects
// of this layer; a handle is an index into the table of its kind. Growth
// uses realloc, so a failure is a null result, never an exception.

template <typename T>
class HandleTable {
 public:
  T* Get(int handle) const {
    return handle >= 0 && static_cast<size_t>(handle) < Size ? Items[handle] : nullptr;
  }
  // The handle now naming item, or -1 when the table could not grow.
  int Add(T* item) {
    size_t slot = 0;
    while (slot < Size && Items[slot] != nullptr) ++slot;
    if (slot == Size) {
      size_t size = Size ? Size * 2 : 16;
      if (size > static_cast<size_t>(INT_MAX)) return -1;
      T** items = static_cast<T**>(realloc(Items, size * sizeof(T*)));
      if (!items) return -1;
      for (size_t i = Size; i < size; ++i) items[i] = nullptr;
      Items = items;
      Size = size;
    }
    Items[slot] = item;
    return static_cast<int>(slot);
  }
  // Forgets the handle and returns what it named (nullptr for an unknown one).
  T* Remove(int handle) {
    T* item = Get(handle);
    if (item) Items[handle] = nullptr;
    return item;
  }

 private:
  T** Items = nullptr;
  size_t Size = 0;
};

// ---------------------------------------------------------------------------
// Console output.

HANDLE const kNotOpened = nullptr;
HANDLE ConsoleHandle = kNotOpened;  // INVALID_HANDLE_VALUE: no console
int StdOutIsConsole = -1;           // -1: not yet known

void AtExit() { ConsoleBufferEnd(); }

// ---------------------------------------------------------------------------
// Key input.

int ConsoleInput = -1;  // -1: not yet known, 0: no console to read, 1: there is one

bool HasConsoleInput() {
  if (ConsoleInput < 0) {
    HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ConsoleInput = in != INVALID_HANDLE_VALUE ? 1 : 0;
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  }
  return ConsoleInput == 1;
}

// ---------------------------------------------------------------------------
// Signals: Ctrl-C, Ctrl-Break and the closing of the console window.

// The handler runs on a thread of its own; the lock keeps the name alive
// while it deletes the file.
SRWLOCK TempFileLock = SRWLOCK_INIT;
char* TempFileToDelete = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      AcquireSRWLockExclusive(&TempFileLock);
      if (TempFileToDelete) DeleteFileA(TempFileToDelete);
      ReleaseSRWLockExclusive(&TempFileLock);
      break;
    default:
      break;
  }
  return FALSE;  // the next handler, finally the system's, ends the process
}

// ---------------------------------------------------------------------------
// Directories.

struct DirState {
  std::string path;  // the directory's whole path
  intptr_t find = -1;
  bool started = false;
  bool done = false;
};

HandleTable<DirState> Dirs;
HandleTable<std::string> SavedDirs;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAbsolute(const char* path) {
  return IsSeparator(path[0]) || (path[0] != '\0' && path[1] == ':');
}

void AppendName(std::string* path, const char* name) {
  if (path->empty() || !IsSeparator(path->back())) path->push_back('\\');
  path->append(name);
}

uint64_t SyntheticDirs = 0;

// Volume serial number and file index of a directory. A directory whose
// identity cannot be read gets one of its own that matches no other.
FileIdentity DirectoryIdentity(const std::string& path) {
  FileIdentity id;
  HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
      id.device = static_cast<uint64_t>(info.dwVolumeSerialNumber) + 1;
      id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    CloseHandle(h);
  }
  if (id.inode == 0) {
    id.device = ~uint64_t(0);
    id.inode = ++SyntheticDirs;
  }
  return id;
}

// One exclusive create of a temporary name.
TempAttempt CreateTempNamed(const char* path, int* handle) {
  // Delete sharing lets the console event handler remove the file while
  // the run still has it open.
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    *handle = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (*handle >= 0) return TempAttempt::kCreated;
    CloseHandle(h);
    DeleteFileA(path);
    return TempAttempt::kFailed;
  }
  DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return TempAttempt::kTaken;
  // A directory or a file being deleted under the name: taken, go on.
  if (error == ERROR_ACCESS_DENIED && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
    return TempAttempt::kTaken;
  bool directory = error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ||
                   error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_NAME ||
                   error == ERROR_DIRECTORY || error == ERROR_WRITE_PROTECT ||
                   error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_DRIVE ||
                   error == ERROR_NOT_READY || error == ERROR_BAD_NETPATH;
  return directory ? TempAttempt::kUnusableDir : TempAttempt::kFailed;
}

}  // namespace

// ---------------------------------------------------------------------------
// What platform_shared.cpp asks of this platform.

// Writes to a run-time library handle, in parts the library accepts.
bool WriteAll(int handle, const char* data, size_t size) {
  while (size > 0) {
    unsigned part = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    int n = _write(handle, data, part);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long long ReadSome(int handle, void* buffer, size_t size) {
  unsigned part = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
  return _read(handle, buffer, part);
}

int CloseDescriptor(int handle) { return _close(handle); }

int OpenListFile(const char* path) {
  int fd = _sopen(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO);
  if (fd < 0) return -1;
  struct _stati64 st;
  if (_fstati64(fd, &st) != 0 || (st.st_mode & _S_IFDIR) != 0) {
    _close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

void WriteConsoleDevice(const char* data, size_t size) {
  while (size > 0) {
    DWORD part = size > 65536 ? 65536 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(ConsoleHandle, data, part, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

bool StdOutSharesConsole() {
  if (StdOutIsConsole < 0) {
    StdOutIsConsole = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR ? 1 : 0;
  }
  return StdOutIsConsole != 0;
}

// Standard output goes to binary mode before its first byte, so that the CR
// LF written by this layer is not translated a second time.
void PrepareStdOut() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

// ---------------------------------------------------------------------------
// Console.

void ConsoleWrite(const char* data, size_t size) {
  if (ConsoleHandle == kNotOpened) {
    RegisterAtExitOnce(AtExit);
    ConsoleHandle = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
  }
  if (ConsoleHandle == INVALID_HANDLE_VALUE || size == 0) return;
  ConsoleBufferWrite(data, size);
}

int ConsolePollKey() {
  ConsoleFlush();
  if (!HasConsoleInput() || !_kbhit()) return -1;
  int c = _getch();
  if (c == 0 || c == 0xE0) {
    // An extended key sends its code right after the prefix; a 224 typed as
    // a character of the code page has nothing after it.
    if (_kbhit()) _getch();
    return kOtherKey;
  }
  return c;
}

// ---------------------------------------------------------------------------
// Standard streams.

int StdInGetChar() {
  ConsoleFlush();
  int c = getc(stdin);
  return c == EOF ? -1 : c;
}

// ---------------------------------------------------------------------------
// File handles.

// The handle is opened in binary mode and this layer turns LF into CR LF, so
// that a log written here is byte for byte the log written on POSIX (the
// library's own text mode would also drop a Ctrl-Z found at the end of an
// existing file).
int FileOpenAppendText(const char* path) {
  int fd = _sopen(path, _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE);
  return fd < 0 ? -1 : KeepAsTextHandle(fd);
}

int FileOpenRead(const char* path) {
  int fd = _sopen(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO);
  if (fd < 0) return -1;
  // Only a file on disk: a device name put where a file was must not block
  // the reader.
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) {
    _close(fd);
    errno = EINVAL;
    return -1;
  }
  SetTextHandle(fd, false);
  return fd;
}

int FileCreateTemp(const char* dir, const char* prefix, std::string* name) {
  // GetTempPathA answers with TMP or TEMP even when that directory is
  // missing, so the user's and the system's own temporary directories follow.
  char own[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof own, own);
  std::string local;
  if (const char* appData = getenv("LOCALAPPDATA")) local = std::string(appData) + "\\Temp";
  char windows[MAX_PATH + 1];
  UINT windowsLength = GetWindowsDirectoryA(windows, sizeof windows);
  std::string system;
  if (windowsLength != 0 && windowsLength <= MAX_PATH) system = std::string(windows) + "\\Temp";
  const char* dirs[] = {dir, length == 0 || length > MAX_PATH ? nullptr : own, local.c_str(),
                        system.c_str()};
  return CreateTempInFirstUsable(dirs, sizeof dirs / sizeof dirs[0], prefix, name, CreateTempNamed);
}

long long FileRead(int handle, void* buffer, size_t size) {
  return ReadHandle(handle, buffer, size);
}

long long FileReadAt(int handle, void* buffer, size_t size, uint64_t offset) {
  if (offset > static_cast<uint64_t>(LLONG_MAX)) return -1;
  long long position = _lseeki64(handle, 0, SEEK_CUR);
  if (position < 0) return -1;
  if (_lseeki64(handle, static_cast<long long>(offset), SEEK_SET) < 0) return -1;
  long long n = FileRead(handle, buffer, size);
  if (_lseeki64(handle, position, SEEK_SET) != position) return -1;
  return n;
}

int FileWrite(int handle, const void* data, size_t size) { return WriteHandle(handle, data, size); }

int FileClose(int handle) { return CloseHandleOf(handle); }

int FileDelete(const char* path) { return DeleteFileA(path) ? 0 : -1; }

int FileDeleteListed(const char* path) { return DeleteFileA(path) ? 0 : -1; }

// ---------------------------------------------------------------------------
// Directories.

int DirOpen(int parent, const char* name, FileIdentity* identity) {
  std::string path;
  bool current = strcmp(name, ".") == 0;
  if (IsAbsolute(name)) {
    path = name;
    current = false;
  } else {
    if (parent == kCurrentDir) {
      if (!GetCurrentDir(&path)) return -1;
    } else {
      DirState* dir = Dirs.Get(parent);
      if (!dir) {
        errno = EBADF;
        return -1;
      }
      path = dir->path;
    }
    if (!current) AppendName(&path, name);
  }
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    errno = ENOENT;
    return -1;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = ENOTDIR;
    return -1;
  }
  // A junction or symbolic link is not followed; the current directory,
  // entered already, is taken as it is.
  if (!current && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    errno = ELOOP;
    return -1;
  }
  DirState* dir = new (std::nothrow) DirState;
  if (!dir) {
    errno = ENOMEM;
    return -1;
  }
  dir->path.swap(path);
  int handle = Dirs.Add(dir);
  if (handle < 0) {
    delete dir;
    errno = ENOMEM;
    return -1;
  }
  if (identity) *identity = DirectoryIdentity(dir->path);
  return handle;
}

int DirNext(int handle, DirEntry* entry) {
  DirState* dir = Dirs.Get(handle);
  if (!dir) {
    errno = EBADF;
    return -1;
  }
  if (dir->done) return 0;
  struct _finddatai64_t data;
  if (!dir->started) {
    dir->started = true;
    std::string pattern = dir->path;
    AppendName(&pattern, "*.*");
    dir->find = _findfirsti64(pattern.c_str(), &data);
    if (dir->find == -1) {
      dir->done = true;
      return errno == ENOENT ? 0 : -1;  // ENOENT: an empty root directory
    }
  } else if (_findnexti64(dir->find, &data) != 0) {
    dir->done = true;
    return errno == ENOENT ? 0 : -1;
  }
  entry->name = data.name;
  entry->kind = EntryKind::kOther;
  entry->size = 0;
  entry->identity = FileIdentity();
  entry->links = 1;
  const unsigned attributes = data.attrib;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return 1;  // never walked nor recorded
  if (attributes & _A_SUBDIR) {
    entry->kind = EntryKind::kDirectory;
  } else {
    entry->kind = EntryKind::kFile;
    entry->size = static_cast<uint64_t>(data.size);
  }
  return 1;
}

void DirClose(int handle) {
  DirState* dir = Dirs.Remove(handle);
  if (!dir) return;
  if (dir->find != -1) _findclose(dir->find);
  delete dir;
}

bool GetCurrentDir(std::string* path) {
  return CurrentDirGrowing(path, MAX_PATH + 1, 32768, [](char* buffer, size_t size) {
    return _getcwd(buffer, static_cast<int>(size));
  });
}

int ChangeDir(const char* path) { return _chdir(path) == 0 ? 0 : -1; }

int SaveCurrentDir() {
  std::string* saved = new (std::nothrow) std::string;
  if (!saved) return -1;
  int handle = GetCurrentDir(saved) ? SavedDirs.Add(saved) : -1;
  if (handle < 0) delete saved;
  return handle;
}

int RestoreCurrentDir(int saved) {
  std::string* path = SavedDirs.Get(saved);
  return path && _chdir(path->c_str()) == 0 ? 0 : -1;
}

void ReleaseSavedDir(int saved) { delete SavedDirs.Remove(saved); }

int GetCurrentDrive() { return _getdrive(); }

int ChangeDrive(int drive) { return drive >= 1 && drive <= 26 && _chdrive(drive) == 0 ? 0 : -1; }

// ---------------------------------------------------------------------------
// Process.

void RegisterTempFile(const char* path) {
  char* copy = CopyOfPath(path);
  AcquireSRWLockExclusive(&TempFileLock);
  char* old = TempFileToDelete;
  TempFileToDelete = copy;
  ReleaseSRWLockExclusive(&TempFileLock);
  free(old);
}

void InstallSignalCleanup() {
  RegisterAtExitOnce(AtExit);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void ProcessExit(int code) {
  StdOutFlush();
  exit(code);
}
