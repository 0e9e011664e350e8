// A test-only variant of the POSIX platform layer that makes chosen calls
// fail, as a full disk, a vanished file or a bad directory would. It is the
// POSIX layer itself with every file and directory service wrapped; the
// shipped programs never link it (CMake target platform_faulty).
//
// The plan comes from the environment variable DUPEHUNT_FAULTS: rules
// separated by ';', each an operation and options separated by ':'.
//
//   operation    the call it hits
//   open-append  FileOpenAppendText (the log file)
//   open-read    FileOpenRead (the files compared)
//   create-temp  FileCreateTemp
//   write        FileWrite
//   read         FileRead and FileReadAt
//   close        FileClose
//   dir-open     DirOpen (name as given: "." for a start path, else the entry)
//   dir-next     DirNext (the name its directory was opened with)
//   alloc        malloc calls of the program's own code (linked with
//                -Wl,--wrap=malloc)
//
//   option       meaning
//   match=TEXT   only calls whose path contains TEXT; for write, read and
//                close, the path the handle was opened with
//   after=N      the first N matching calls pass; later ones are hit
//   times=N      at most N calls are hit (default: every later one)
//   short        the first call hit goes half way, as on a disk that fills up
//                or a file cut short: write writes half the bytes and fails;
//                read delivers half the bytes. Later calls hit fail outright.
//   min=BYTES    alloc: only requests of at least BYTES
//   await=PATH   instead of failing: the call waits until PATH exists (at
//                most 60 s), after showing "[fault: waiting]" on the console
//
// Example: DUPEHUNT_FAULTS="write:match=log.txt:after=2;read:match=c.bin:short"
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

// The POSIX layer under other names; the services below wrap it.
#define FileOpenAppendText PosixFileOpenAppendText
#define FileOpenRead PosixFileOpenRead
#define FileCreateTemp PosixFileCreateTemp
#define FileRead PosixFileRead
#define FileReadAt PosixFileReadAt
#define FileWrite PosixFileWrite
#define FileClose PosixFileClose
#define DirOpen PosixDirOpen
#define DirNext PosixDirNext
#define DirClose PosixDirClose
int FileOpenAppendText(const char* path);
int FileOpenRead(const char* path);
int FileCreateTemp(const char* dir, const char* prefix, std::string* name);
long long FileRead(int handle, void* buffer, size_t size);
long long FileReadAt(int handle, void* buffer, size_t size, uint64_t offset);
int FileWrite(int handle, const void* data, size_t size);
int FileClose(int handle);
int DirOpen(int parent, const char* name, FileIdentity* identity);
int DirNext(int dir, DirEntry* entry);
void DirClose(int dir);
#include "platform/platform_posix.cpp"
#undef FileOpenAppendText
#undef FileOpenRead
#undef FileCreateTemp
#undef FileRead
#undef FileReadAt
#undef FileWrite
#undef FileClose
#undef DirOpen
#undef DirNext
#undef DirClose

extern "C" void* __real_malloc(size_t size);

namespace {

enum class Op {
  kOpenAppend,
  kOpenRead,
  kCreateTemp,
  kWrite,
  kRead,
  kClose,
  kDirOpen,
  kDirNext,
  kAlloc,
  kNone
};

struct Rule {
  Op op = Op::kNone;
  char match[256] = "";
  char await[512] = "";
  unsigned long after = 0;
  unsigned long times = ~0ul;
  unsigned long long min = 0;
  bool shortened = false;
  unsigned long seen = 0;  // matching calls so far
  unsigned long hit = 0;   // calls hit so far
};

constexpr int kMaxRules = 16;
Rule Rules[kMaxRules];
int RuleCount = 0;
bool PlanRead = false;

Op OpNamed(const char* name, size_t length) {
  static const struct {
    const char* name;
    Op op;
  } kOps[] = {{"open-append", Op::kOpenAppend},
              {"open-read", Op::kOpenRead},
              {"create-temp", Op::kCreateTemp},
              {"write", Op::kWrite},
              {"read", Op::kRead},
              {"close", Op::kClose},
              {"dir-open", Op::kDirOpen},
              {"dir-next", Op::kDirNext},
              {"alloc", Op::kAlloc}};
  for (const auto& o : kOps) {
    if (strlen(o.name) == length && strncmp(o.name, name, length) == 0) return o.op;
  }
  return Op::kNone;
}

void CopyValue(char* dest, size_t room, const char* value, size_t length) {
  if (length >= room) length = room - 1;
  memcpy(dest, value, length);
  dest[length] = '\0';
}

// Parses one rule of the plan (no allocation: malloc itself may ask).
void ParseRule(const char* text, size_t length) {
  if (RuleCount == kMaxRules || length == 0) return;
  Rule& rule = Rules[RuleCount];
  const char* end = text + length;
  const char* field = text;
  bool first = true;
  while (field < end) {
    const char* stop =
        static_cast<const char*>(memchr(field, ':', static_cast<size_t>(end - field)));
    if (!stop) stop = end;
    const size_t size = static_cast<size_t>(stop - field);
    const char* eq = static_cast<const char*>(memchr(field, '=', size));
    if (first) {
      rule.op = OpNamed(field, size);
      first = false;
    } else if (size == 5 && strncmp(field, "short", 5) == 0) {
      rule.shortened = true;
    } else if (eq) {
      const size_t keyLength = static_cast<size_t>(eq - field);
      const char* value = eq + 1;
      const size_t valueLength = static_cast<size_t>(stop - value);
      char number[32];
      CopyValue(number, sizeof number, value, valueLength);
      if (keyLength == 5 && strncmp(field, "match", 5) == 0) {
        CopyValue(rule.match, sizeof rule.match, value, valueLength);
      } else if (keyLength == 5 && strncmp(field, "await", 5) == 0) {
        CopyValue(rule.await, sizeof rule.await, value, valueLength);
      } else if (keyLength == 5 && strncmp(field, "after", 5) == 0) {
        rule.after = strtoul(number, nullptr, 10);
      } else if (keyLength == 5 && strncmp(field, "times", 5) == 0) {
        rule.times = strtoul(number, nullptr, 10);
      } else if (keyLength == 3 && strncmp(field, "min", 3) == 0) {
        rule.min = strtoull(number, nullptr, 10);
      }
    }
    field = stop + 1;
  }
  if (rule.op != Op::kNone) ++RuleCount;
}

void ReadPlan() {
  if (PlanRead) return;
  PlanRead = true;
  const char* plan = getenv("DUPEHUNT_FAULTS");
  if (!plan) return;
  const char* start = plan;
  for (const char* p = plan;; ++p) {
    if (*p == ';' || *p == '\0') {
      ParseRule(start, static_cast<size_t>(p - start));
      if (*p == '\0') break;
      start = p + 1;
    }
  }
}

// Waits until path exists (at most 60 s), after telling the console.
void Await(const char* path) {
  static const char kWaiting[] = "[fault: waiting]\n";
  ConsoleWrite(kWaiting, sizeof kWaiting - 1);
  ConsoleFlush();
  for (int i = 0; i < 6000 && access(path, F_OK) != 0; ++i) usleep(10000);
}

// The rule that hits this call, or nullptr. A rule with await= waits here and
// then lets the call pass.
Rule* Hit(Op op, const char* path, unsigned long long size = 0) {
  ReadPlan();
  for (int i = 0; i < RuleCount; ++i) {
    Rule& rule = Rules[i];
    if (rule.op != op) continue;
    if (rule.match[0] && (!path || !strstr(path, rule.match))) continue;
    if (op == Op::kAlloc && size < rule.min) continue;
    if (rule.seen++ < rule.after || rule.hit >= rule.times) continue;
    ++rule.hit;
    if (rule.await[0]) {
      Await(rule.await);
      return nullptr;
    }
    return &rule;
  }
  return nullptr;
}

// The path each open handle was opened with, for match=.
constexpr int kMaxNamedHandles = 4096;
char* HandlePaths[kMaxNamedHandles];

void Remember(int handle, const char* path) {
  if (handle < 0 || handle >= kMaxNamedHandles) return;
  free(HandlePaths[handle]);
  HandlePaths[handle] = nullptr;
  if (!path) return;
  const size_t size = strlen(path) + 1;
  HandlePaths[handle] = static_cast<char*>(__real_malloc(size));
  if (HandlePaths[handle]) memcpy(HandlePaths[handle], path, size);
}

const char* PathOf(int handle) {
  return handle >= 0 && handle < kMaxNamedHandles ? HandlePaths[handle] : nullptr;
}

// How many of size bytes a read of handle may deliver: all of them, half for
// the first call a short rule hits, or -1 (errno EIO) when the read fails.
long long ReadAllowance(int handle, size_t size) {
  Rule* rule = Hit(Op::kRead, PathOf(handle));
  if (!rule) return static_cast<long long>(size);
  if (!rule->shortened || rule->hit > 1) {
    errno = EIO;
    return -1;
  }
  return static_cast<long long>(size / 2);
}

}  // namespace

int FileOpenAppendText(const char* path) {
  if (Hit(Op::kOpenAppend, path)) {
    errno = EACCES;
    return -1;
  }
  int handle = PosixFileOpenAppendText(path);
  Remember(handle, path);
  return handle;
}

int FileOpenRead(const char* path) {
  if (Hit(Op::kOpenRead, path)) {
    errno = EACCES;
    return -1;
  }
  int handle = PosixFileOpenRead(path);
  Remember(handle, path);
  return handle;
}

int FileCreateTemp(const char* dir, const char* prefix, std::string* name) {
  if (Hit(Op::kCreateTemp, dir)) {
    name->clear();
    errno = EACCES;
    return -1;
  }
  int handle = PosixFileCreateTemp(dir, prefix, name);
  Remember(handle, name->c_str());
  return handle;
}

long long FileRead(int handle, void* buffer, size_t size) {
  const long long allowed = ReadAllowance(handle, size);
  return allowed < 0 ? -1 : PosixFileRead(handle, buffer, static_cast<size_t>(allowed));
}

long long FileReadAt(int handle, void* buffer, size_t size, uint64_t offset) {
  const long long allowed = ReadAllowance(handle, size);
  return allowed < 0 ? -1 : PosixFileReadAt(handle, buffer, static_cast<size_t>(allowed), offset);
}

int FileWrite(int handle, const void* data, size_t size) {
  if (Rule* rule = Hit(Op::kWrite, PathOf(handle))) {
    if (rule->shortened && rule->hit == 1 && size / 2 > 0) PosixFileWrite(handle, data, size / 2);
    errno = ENOSPC;
    return -1;
  }
  return PosixFileWrite(handle, data, size);
}

int FileClose(int handle) {
  Rule* rule = Hit(Op::kClose, PathOf(handle));
  Remember(handle, nullptr);
  int result = PosixFileClose(handle);
  if (rule) {
    errno = EIO;
    return -1;
  }
  return result;
}

int DirOpen(int parent, const char* name, FileIdentity* identity) {
  if (Hit(Op::kDirOpen, name)) {
    errno = EACCES;
    return -1;
  }
  int handle = PosixDirOpen(parent, name, identity);
  Remember(handle, name);
  return handle;
}

int DirNext(int dir, DirEntry* entry) {
  if (Hit(Op::kDirNext, PathOf(dir))) {
    errno = EIO;
    return -1;
  }
  return PosixDirNext(dir, entry);
}

void DirClose(int dir) {
  Remember(dir, nullptr);
  PosixDirClose(dir);
}

extern "C" void* __wrap_malloc(size_t size) {
  static bool inside = false;
  if (!inside) {
    inside = true;
    Rule* rule = Hit(Op::kAlloc, nullptr, size);
    inside = false;
    if (rule) {
      errno = ENOMEM;
      return nullptr;
    }
  }
  return __real_malloc(size);
}
