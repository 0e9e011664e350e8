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
#include "platform/platform_shared.h"

const char kPathSeparator = '/';
const size_t kLongestPath = PATH_MAX;

namespace {

// Opens path relative to the directory handle at (AT_FDCWD: the current
// directory), retrying when interrupted; the descriptor or -1.
int OpenRetrying(int at, const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = openat(at, path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Closes fd after a failure, keeping the errno of that failure; returns -1.
int CloseAfterFailure(int fd, int error) {
  close(fd);
  errno = error;
  return -1;
}

// ---------------------------------------------------------------------------
// Console output and the terminal mode.

constexpr int kNotOpened = -2;
int ConsoleFd = kNotOpened;
int StdOutIsTerminal = -1;  // -1: not yet known
int StdInIsTerminal = -1;

int TtyIn = kNotOpened;
struct termios SavedMode;
// Written from signal handlers too.
volatile sig_atomic_t ModeWanted = 0;   // the key poll asked for its input mode
volatile sig_atomic_t ModeApplied = 0;  // that mode is in effect now
const char* volatile TempFileToDelete = nullptr;

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
  ConsoleBufferEnd();
  RestoreTerminal();
}

void EnsureAtExit() { RegisterAtExitOnce(AtExit); }

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
  long long n = ReadSome(TtyIn, KeyQueue + KeyTail, sizeof KeyQueue - KeyTail);
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
// Directories.

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

// One exclusive, owner-only create of a temporary name, never through a
// symbolic link.
TempAttempt CreateTempNamed(const char* path, int* handle) {
  *handle = OpenRetrying(AT_FDCWD, path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (*handle >= 0) return TempAttempt::kCreated;
  if (errno == EEXIST || errno == ELOOP) return TempAttempt::kTaken;
  return IsDirectoryFallbackError(errno) ? TempAttempt::kUnusableDir : TempAttempt::kFailed;
}

}  // namespace

// ---------------------------------------------------------------------------
// What platform_shared.cpp asks of this platform.

// Continues interrupted and partial writes.
bool WriteAll(int handle, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(handle, data, size);
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

long long ReadSome(int handle, void* buffer, size_t size) {
  ssize_t n;
  do {
    n = read(handle, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Linux releases the descriptor even when close reports an error, so it is
// never closed a second time.
int CloseDescriptor(int handle) { return close(handle); }

int OpenListFile(const char* path) {
  int fd = OpenRetrying(AT_FDCWD, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return CloseAfterFailure(fd, EISDIR);
  return fd;
}

void WriteConsoleDevice(const char* data, size_t size) { WriteAll(ConsoleFd, data, size); }

bool StdOutSharesConsole() {
  if (StdOutIsTerminal < 0) StdOutIsTerminal = isatty(STDOUT_FILENO) ? 1 : 0;
  return StdOutIsTerminal != 0;
}

void PrepareStdOut() {}

// ---------------------------------------------------------------------------
// Console.

void ConsoleWrite(const char* data, size_t size) {
  if (ConsoleFd == kNotOpened) {
    EnsureAtExit();
    ConsoleFd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (ConsoleFd < 0) ConsoleFd = -1;
  }
  if (ConsoleFd < 0 || size == 0) return;
  ConsoleBufferWrite(data, size);
}

int ConsolePollKey() {
  ConsoleFlush();
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

int StdInGetChar() {
  ConsoleFlush();
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
  int fd = OpenRetrying(AT_FDCWD, path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  return fd < 0 ? -1 : KeepAsTextHandle(fd);
}

int FileOpenRead(const char* path) {
  int fd = OpenRetrying(AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) return CloseAfterFailure(fd, errno);
  // Only a regular file: a FIFO or device put under the name since the scan
  // must not block the reader.
  // O_NONBLOCK stays: it has no effect on a regular file's reads.
  if (!S_ISREG(st.st_mode)) return CloseAfterFailure(fd, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  SetTextHandle(fd, false);
  return fd;
}

int FileCreateTemp(const char* dir, const char* prefix, std::string* name) {
  const char* dirs[] = {dir, getenv("TMPDIR"), "/tmp"};
  return CreateTempInFirstUsable(dirs, sizeof dirs / sizeof dirs[0], prefix, name, CreateTempNamed);
}

long long FileRead(int handle, void* buffer, size_t size) {
  return ReadHandle(handle, buffer, size);
}

long long FileReadAt(int handle, void* buffer, size_t size, uint64_t offset) {
  return ReadFully(buffer, size, [handle, offset](char* at, size_t count, size_t done) {
    ssize_t n;
    do {
      n = pread(handle, at, count, static_cast<off_t>(offset + done));
    } while (n < 0 && errno == EINTR);
    return static_cast<long long>(n);
  });
}

int FileWrite(int handle, const void* data, size_t size) { return WriteHandle(handle, data, size); }

int FileClose(int handle) { return CloseHandleOf(handle); }

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
  int fd = OpenRetrying(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
  return CurrentDirGrowing(path, PATH_MAX, size_t(1) << 24, getcwd);
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
  char* copy = CopyOfPath(path);
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
  StdOutFlush();
  RestoreTerminal();
  exit(code);
}
