// POSIX implementation of the platform services (Linux first).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

const char kPathSeparator = '/';
const size_t kLongestPath = PATH_MAX;

namespace {

// ---------------------------------------------------------------------------
// Per-descriptor tables. Every handle of this layer is a file descriptor; a
// table maps it to the state the layer keeps for it (text mode, a directory
// stream, a list buffer). Growth uses realloc, so a failure is a null result.

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

FdTable<unsigned char> TextHandles;

// Writes all bytes, continuing interrupted and partial writes; false on an
// error or when the device accepts nothing more.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Console output and the terminal mode.

constexpr int kNotOpened = -2;
int ConsoleFd = kNotOpened;
char ConsoleBuffer[8192];
size_t ConsoleUsed = 0;
bool ConsoleDirect = false;  // after the exit-time flush: no more buffering
int StdOutIsTerminal = -1;   // -1: not yet known
int StdInIsTerminal = -1;

int TtyIn = kNotOpened;
struct termios SavedMode;
// Written from signal handlers too.
volatile sig_atomic_t ModeWanted = 0;   // the key poll asked for its input mode
volatile sig_atomic_t ModeApplied = 0;  // that mode is in effect now
const char* volatile TempFileToDelete = nullptr;

bool AtExitRegistered = false;

void FlushConsoleBuffer() {
  if (ConsoleUsed == 0) return;
  if (ConsoleFd >= 0) {
    if (StdOutIsTerminal < 0) StdOutIsTerminal = isatty(STDOUT_FILENO) ? 1 : 0;
    // Keep the order of bytes when standard output is on the same terminal.
    if (StdOutIsTerminal) fflush(stdout);
    WriteAll(ConsoleFd, ConsoleBuffer, ConsoleUsed);
  }
  ConsoleUsed = 0;
}

bool IsForeground() {
  pid_t group = tcgetpgrp(TtyIn);
  return group < 0 || group == getpgrp();
}

int SetMode(const struct termios* mode) {
  int rc;
  do {
    rc = tcsetattr(TtyIn, TCSANOW, mode);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Puts the terminal into non-canonical, no-echo input when that is wanted
// and this process is in the foreground. Async-signal-safe.
void ApplyMode() {
  if (!ModeWanted || ModeApplied || TtyIn < 0 || !IsForeground()) return;
  struct termios mode;
  if (tcgetattr(TtyIn, &mode) != 0) return;
  SavedMode = mode;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  mode.c_cc[VMIN] = 0;
  mode.c_cc[VTIME] = 0;
  if (SetMode(&mode) == 0) ModeApplied = 1;
}

// Gives the terminal back the mode it had. Async-signal-safe.
void RestoreMode() {
  if (!ModeApplied) return;
  SetMode(&SavedMode);
  ModeApplied = 0;
}

void FillSignalSet(sigset_t* set) {
  sigemptyset(set);
  sigaddset(set, SIGINT);
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGHUP);
  sigaddset(set, SIGQUIT);
  sigaddset(set, SIGTSTP);
  sigaddset(set, SIGCONT);
}

// Runs f with the cleanup signals held back, so a handler never sees the
// mode half changed.
template <typename F>
void WithSignalsBlocked(F f) {
  sigset_t set, old;
  FillSignalSet(&set);
  sigprocmask(SIG_BLOCK, &set, &old);
  f();
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void RestoreTerminal() {
  WithSignalsBlocked([] {
    ModeWanted = 0;
    RestoreMode();
  });
}

void AtExit() {
  FlushConsoleBuffer();
  ConsoleDirect = true;
  RestoreTerminal();
}

void EnsureAtExit() {
  if (AtExitRegistered) return;
  AtExitRegistered = true;
  atexit(AtExit);
}

// ---------------------------------------------------------------------------
// Key input.

unsigned char KeyQueue[256];
size_t KeyHead = 0;
size_t KeyTail = 0;

bool KeysEmpty() { return KeyHead == KeyTail; }

// Moves the bytes waiting at the terminal into the queue; never blocks.
void FillKeys() {
  if (KeyHead == KeyTail) KeyHead = KeyTail = 0;
  if (KeyTail == sizeof KeyQueue && KeyHead > 0) {
    memmove(KeyQueue, KeyQueue + KeyHead, KeyTail - KeyHead);
    KeyTail -= KeyHead;
    KeyHead = 0;
  }
  if (KeyTail == sizeof KeyQueue) return;
  ssize_t n;
  do {
    n = read(TtyIn, KeyQueue + KeyTail, sizeof KeyQueue - KeyTail);
  } while (n < 0 && errno == EINTR);
  if (n > 0) KeyTail += static_cast<size_t>(n);
}

// The next queued byte, fetching what the terminal holds when the queue is
// empty; -1 when there is none.
int NextKeyByte(bool take) {
  if (KeysEmpty()) FillKeys();
  if (KeysEmpty()) return -1;
  int c = KeyQueue[KeyHead];
  if (take) ++KeyHead;
  return c;
}

// Consumes the rest of an escape sequence whose ESC has been taken.
void SkipEscapeSequence() {
  int c = NextKeyByte(true);
  if (c == '[') {
    c = NextKeyByte(false);
    if (c == '[') {  // "ESC [ [ A": function keys of the Linux console
      NextKeyByte(true);
      NextKeyByte(true);
      return;
    }
    // Parameter and intermediate bytes, then one final byte.
    while ((c = NextKeyByte(true)) >= 0x20 && c <= 0x3f) {
    }
    while (c >= 0x20 && c <= 0x2f) c = NextKeyByte(true);
  } else if (c == 'O') {
    NextKeyByte(true);
  }
}

void OpenTtyIn() {
  TtyIn = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (TtyIn < 0) {
    TtyIn = -1;
    return;
  }
  struct termios mode;
  if (tcgetattr(TtyIn, &mode) == 0) ModeWanted = 1;
}

// ---------------------------------------------------------------------------
// Signals.

void OnEndingSignal(int sig) {
  int saved = errno;
  RestoreMode();
  const char* path = TempFileToDelete;
  if (path) unlink(path);
  signal(sig, SIG_DFL);
  raise(sig);
  errno = saved;
}

void InstallHandler(int sig, void (*handler)(int), bool keepIgnored) {
  struct sigaction action;
  if (keepIgnored && sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) return;
  memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  FillSignalSet(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(sig, &action, nullptr);
}

void OnStop(int) {
  int saved = errno;
  RestoreMode();
  signal(SIGTSTP, SIG_DFL);
  sigset_t set, old;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &set, &old);
  raise(SIGTSTP);  // stops here until continued
  sigprocmask(SIG_SETMASK, &old, nullptr);
  InstallHandler(SIGTSTP, OnStop, false);
  ApplyMode();
  errno = saved;
}

void OnContinue(int) {
  int saved = errno;
  ApplyMode();
  errno = saved;
}

// ---------------------------------------------------------------------------
// Directories and lists.

bool NoFileLimitRaised = false;

void RaiseFileLimit() {
  if (NoFileLimitRaised) return;
  NoFileLimitRaised = true;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  rlim_t soft = limit.rlim_cur;
  limit.rlim_cur = limit.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &limit) == 0) return;
  // An unlimited hard limit is refused as a soft limit: take the most the
  // kernel commonly allows instead.
  const rlim_t kCommonMost = 1048576;
  if (soft < kCommonMost && kCommonMost < limit.rlim_max) {
    limit.rlim_cur = kCommonMost;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

FdTable<DIR*> Dirs;

struct ListStream {
  int fd;
  size_t pos;
  size_t end;
  bool done;
  unsigned char data[65536];
};

FdTable<ListStream*> Lists;

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  return id;
}

void FillFromStat(const struct stat& st, DirEntry* entry) {
  if (S_ISDIR(st.st_mode)) {
    entry->kind = EntryKind::kDirectory;
  } else if (S_ISREG(st.st_mode)) {
    entry->kind = EntryKind::kFile;
    entry->size = static_cast<uint64_t>(st.st_size);
    entry->identity = IdentityOf(st);
    entry->links = static_cast<uint64_t>(st.st_nlink);
  } else {
    entry->kind = EntryKind::kOther;
  }
}

bool IsDirectoryFallbackError(int error) {
  return error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM ||
         error == EROFS || error == ENAMETOOLONG;
}

constexpr unsigned kMaxTempNumbers = 100000;

// Creates dir/prefixN for the first N from 1 up whose name is free. Returns
// the handle, or -1 with *name holding the last name tried and *unusable
// telling whether the first attempt already failed because of the directory
// itself (missing, not a directory, not writable, name too long).
int CreateTempIn(const char* dir, const char* prefix, std::string* name, bool* unusable) {
  *unusable = false;
  std::string base = dir;
  if (base.empty() || (base.back() != '/' && base.back() != '\\')) base += '/';
  base += prefix;
  for (unsigned number = 1; number <= kMaxTempNumbers; ++number) {
    char digits[16];
    snprintf(digits, sizeof digits, "%u", number);
    *name = base + digits;
    int fd;
    do {
      fd = open(name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      TextHandles.Set(fd, 0);
      return fd;
    }
    if (errno != EEXIST && errno != ELOOP) {
      *unusable = number == 1 && IsDirectoryFallbackError(errno);
      return -1;
    }
  }
  return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Console.

void ConsoleFlush() { FlushConsoleBuffer(); }

void ConsoleWrite(const char* data, size_t size) {
  if (ConsoleFd == kNotOpened) {
    EnsureAtExit();
    ConsoleFd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (ConsoleFd < 0) ConsoleFd = -1;
  }
  if (ConsoleFd < 0 || size == 0) return;
  if (ConsoleDirect) {
    WriteAll(ConsoleFd, data, size);
    return;
  }
  while (size > 0) {
    size_t room = sizeof ConsoleBuffer - ConsoleUsed;
    size_t n = size < room ? size : room;
    memcpy(ConsoleBuffer + ConsoleUsed, data, n);
    ConsoleUsed += n;
    data += n;
    size -= n;
    if (ConsoleUsed == sizeof ConsoleBuffer) FlushConsoleBuffer();
  }
}

int ConsolePollKey() {
  FlushConsoleBuffer();
  if (TtyIn == kNotOpened) {
    EnsureAtExit();
    OpenTtyIn();
  }
  if (TtyIn < 0) return -1;
  if (!ModeApplied) WithSignalsBlocked(ApplyMode);
  // A process in the background reads nothing: the keys are not its own.
  if (KeysEmpty() && !IsForeground()) return -1;
  int c = NextKeyByte(true);
  if (c != kKeyEsc) return c;
  int next = NextKeyByte(false);
  if (next < 0 || next == kKeyEsc) return kKeyEsc;
  SkipEscapeSequence();
  return kOtherKey;
}

// ---------------------------------------------------------------------------
// Standard streams.

void StdOutWrite(const char* data, size_t size) {
  FlushConsoleBuffer();
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
  FlushConsoleBuffer();
  if (c == '\n') putc('\r', stdout);
  putc(c, stdout);
}

void StdOutFlush() {
  FlushConsoleBuffer();
  fflush(stdout);
}

int StdInGetChar() {
  FlushConsoleBuffer();
  // A read from the terminal waits for a whole, echoed line; the key poll
  // puts its own mode back at the next poll.
  if (StdInIsTerminal < 0) StdInIsTerminal = isatty(STDIN_FILENO) ? 1 : 0;
  if (ModeApplied && StdInIsTerminal) WithSignalsBlocked(RestoreMode);
  int c = getc(stdin);
  return c == EOF ? -1 : c;
}

// ---------------------------------------------------------------------------
// File handles.

int FileOpenAppendText(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  if (!TextHandles.Set(fd, 1)) {
    close(fd);
    errno = ENOMEM;
    return -1;
  }
  return fd;
}

int FileOpenRead(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  // Only a regular file: a FIFO or device put under the name since the scan
  // must not block the reader.
  if (!S_ISREG(st.st_mode)) {
    int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    close(fd);
    errno = error;
    return -1;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  TextHandles.Set(fd, 0);
  return fd;
}

int FileCreateTemp(const char* dir, const char* prefix, std::string* name) {
  name->clear();
  bool unusable = true;
  int fd = -1;
  if (dir && *dir) {
    fd = CreateTempIn(dir, prefix, name, &unusable);
    if (!unusable) return fd;
  }
  const char* tmpdir = getenv("TMPDIR");
  if (tmpdir && *tmpdir) {
    fd = CreateTempIn(tmpdir, prefix, name, &unusable);
    if (!unusable) return fd;
  }
  return CreateTempIn("/tmp", prefix, name, &unusable);
}

long long FileRead(int handle, void* buffer, size_t size) {
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(handle, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long long>(done);
}

long long FileReadAt(int handle, void* buffer, size_t size, uint64_t offset) {
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(handle, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long long>(done);
}

int FileWrite(int handle, const void* data, size_t size) {
  if (handle < 0) {
    errno = EBADF;
    return -1;
  }
  const char* p = static_cast<const char*>(data);
  if (!TextHandles.Get(handle)) return WriteAll(handle, p, size) ? 0 : -1;
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

int FileClose(int handle) {
  if (handle < 0) {
    errno = EBADF;
    return -1;
  }
  TextHandles.Set(handle, 0);
  // Linux releases the descriptor even when close reports an error, so it
  // is never closed a second time.
  return close(handle) == 0 ? 0 : -1;
}

int FileDelete(const char* path) { return unlink(path) == 0 ? 0 : -1; }

int FileDeleteListed(const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  if (S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    errno = EACCES;
    return -1;
  }
  return unlink(path) == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Delete-list reading.

int ListOpen(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return -1;
  }
  ListStream* list = static_cast<ListStream*>(malloc(sizeof(ListStream)));
  if (!list || !Lists.Set(fd, list)) {
    free(list);
    close(fd);
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
    ssize_t n;
    do {
      n = read(list->fd, list->data, sizeof list->data);
    } while (n < 0 && errno == EINTR);
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
  close(list->fd);
  free(list);
}

// ---------------------------------------------------------------------------
// Directories.

int DirOpen(int parent, const char* name, FileIdentity* identity) {
  RaiseFileLimit();
  int at = AT_FDCWD;
  if (parent != kCurrentDir) {
    if (!Dirs.Get(parent)) {
      errno = EBADF;
      return -1;
    }
    at = parent;
  }
  int fd;
  do {
    fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return -1;
  }
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return -1;
  }
  if (!Dirs.Set(fd, dir)) {
    closedir(dir);
    errno = ENOMEM;
    return -1;
  }
  if (identity) *identity = IdentityOf(st);
  return fd;
}

int DirNext(int handle, DirEntry* entry) {
  DIR* dir = Dirs.Get(handle);
  if (!dir) {
    errno = EBADF;
    return -1;
  }
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (!d) return errno ? -1 : 0;
    entry->name = d->d_name;
    entry->kind = EntryKind::kOther;
    entry->size = 0;
    entry->identity = FileIdentity();
    entry->links = 1;
    if (d->d_type == DT_DIR) {
      entry->kind = EntryKind::kDirectory;
      return 1;
    }
    if (d->d_type != DT_REG && d->d_type != DT_UNKNOWN) return 1;
    struct stat st;
    if (fstatat(handle, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since readdir
      return 1;                       // kOther: nothing known to record
    }
    FillFromStat(st, entry);
    return 1;
  }
}

void DirClose(int handle) {
  DIR* dir = Dirs.Get(handle);
  if (!dir) return;
  Dirs.Set(handle, nullptr);
  closedir(dir);
}

bool GetCurrentDir(std::string* path) {
  size_t size = PATH_MAX;
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
    if (error != ERANGE || size >= (size_t(1) << 24)) return false;
    size *= 2;
  }
}

int ChangeDir(const char* path) { return chdir(path) == 0 ? 0 : -1; }

int SaveCurrentDir() {
  int fd = -1;
#ifdef O_PATH
  // A path handle needs no read permission on the directory.
  fd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
  if (fd < 0) fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

int RestoreCurrentDir(int saved) { return saved >= 0 && fchdir(saved) == 0 ? 0 : -1; }

void ReleaseSavedDir(int saved) {
  if (saved >= 0) close(saved);
}

int GetCurrentDrive() { return 0; }

int ChangeDrive(int) { return -1; }

// ---------------------------------------------------------------------------
// Process.

void RegisterTempFile(const char* path) {
  char* copy = nullptr;
  if (path) {
    size_t size = strlen(path) + 1;
    copy = static_cast<char*>(malloc(size));
    if (copy) memcpy(copy, path, size);
  }
  const char* old = TempFileToDelete;
  TempFileToDelete = copy;
  free(const_cast<char*>(old));
}

void InstallSignalCleanup() {
  EnsureAtExit();
  InstallHandler(SIGINT, OnEndingSignal, true);
  InstallHandler(SIGTERM, OnEndingSignal, true);
  InstallHandler(SIGHUP, OnEndingSignal, true);
  InstallHandler(SIGQUIT, OnEndingSignal, true);
  InstallHandler(SIGTSTP, OnStop, true);
  InstallHandler(SIGCONT, OnContinue, false);
}

void ProcessExit(int code) {
  FlushConsoleBuffer();
  fflush(stdout);
  RestoreTerminal();
  exit(code);
}
