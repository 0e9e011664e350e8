// The table of found files: sizes and record offsets in memory, one record
// per file in the temporary file; and the directory walk that fills it.
#include "dupehunt/file_table.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "dupehunt/run.h"
#include "library/common.h"
#include "library/output.h"

uint32_t MaxFiles = kMaxFiles;

int TempFileHandle = -1;
char* TempFileName = nullptr;
uint64_t* FileSizes = nullptr;
uint64_t* RecordOffsets = nullptr;
uint32_t FileCount = 0;
int UserAbort = 0;
int TableWriteFailed = 0;
uint32_t DirectoryTick = 0;
const char TempFilePrefix[] = "~ZORB";

namespace {

// Device and inode, little-endian, ahead of the path in every record.
constexpr size_t kIdentityBytes = 16;
constexpr size_t kWriteBufferSize = 1 << 20;

// Records not yet written to the temporary file. They always belong at
// FlushedOffset; EndOffset is where the next record goes.
unsigned char* WriteBuffer = nullptr;
bool WriteBufferTried = false;
size_t WriteBufferCapacity = 0;
size_t WriteBufferUsed = 0;
uint64_t FlushedOffset = 0;
uint64_t EndOffset = 0;

struct IdentityHash {
  size_t operator()(const FileIdentity& id) const {
    uint64_t h = id.inode ^ (id.device * 0x9E3779B97F4A7C15ull);
    h ^= h >> 29;
    return static_cast<size_t>(h * 0xBF58476D1CE4E5B9ull);
  }
};
using IdentitySet = std::unordered_set<FileIdentity, IdentityHash>;

// Directories walked in this run, and files with more than one link that
// have been recorded.
IdentitySet WalkedDirectories;
IdentitySet LinkedFiles;

void PutLittleEndian(unsigned char* dest, uint64_t value) {
  for (int i = 0; i < 8; ++i) dest[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLittleEndian(const unsigned char* src) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | src[i];
  return value;
}

// A separator goes between directory and name unless the directory ends in
// one; an empty directory gets one too.
bool NeedsSeparator(const char* dir, size_t dirLength) {
  return dirLength == 0 || dir[dirLength - 1] != kPathSeparator;
}

void AppendName(std::string* path, const std::string& name) {
  if (NeedsSeparator(path->c_str(), path->size())) path->push_back(kPathSeparator);
  path->append(name);
}

// Writes one encoded record to the file, bypassing the buffer (which must be
// empty). Sets TableWriteFailed on failure.
void WriteDirect(const unsigned char* record, size_t size) {
  if (FileWrite(TempFileHandle, record, size) != 0) {
    TableWriteFailed = 1;
    return;
  }
  FlushedOffset += size;
}

bool IsAbsolutePath(const std::string& path) {
  if (path.empty()) return false;
  if (path[0] == '/' || path[0] == kPathSeparator) return true;
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// The directory for the temporary file: TEMP, TMP, or the program's own
// directory; empty when the program's path names none, which leaves the
// choice to the platform. A relative directory is made absolute, so that the
// name stays valid (for the signal clean-up too) while a start path is the
// current directory.
std::string ChooseTempDir() {
  std::string dir;
  const char* value = std::getenv("TEMP");
  if (value != nullptr && *value != '\0') {
    dir = value;
  } else if ((value = std::getenv("TMP")) != nullptr && *value != '\0') {
    dir = value;
  } else if (ArgVector != nullptr && ArgVector[0] != nullptr) {
    char* programDir = static_cast<char*>(std::malloc(std::strlen(ArgVector[0]) + 1));
    if (programDir != nullptr) {
      dir = GetFileDir(ArgVector[0], programDir);
      std::free(programDir);
    }
  }
  std::string current;
  if (!dir.empty() && !IsAbsolutePath(dir) && GetCurrentDir(&current)) {
    AppendName(&current, dir);
    dir = current;
  }
  return dir;
}

// Counts a directory begun, turns the spinner at every fourth from the first
// and takes one waiting key. false when that key was ESC (UserAbort is set).
bool BeginDirectory() {
  uint32_t tick = DirectoryTick++;
  if ((tick & 3) == 0) ShowSpinner();
  if (ConsolePollKey() == kKeyEsc) {
    UserAbort = 1;
    return false;
  }
  return true;
}

bool WalkStopped() { return UserAbort != 0 || TableWriteFailed != 0; }

// Records every file of the open directory dir, whose path is *path, and
// walks its subdirectories depth first. *path is unchanged on return.
void WalkDirectory(int dir, std::string* path) {
  const size_t base = path->size();
  DirEntry entry;
  int more;
  while ((more = DirNext(dir, &entry)) == 1) {
    if (entry.kind == EntryKind::kDirectory) {
      if (entry.name.empty() || entry.name[0] == '.') continue;
      FileIdentity identity;
      int child = DirOpen(dir, entry.name.c_str(), &identity);
      if (child < 0) continue;
      if (!WalkedDirectories.insert(identity).second) {
        DirClose(child);
        continue;
      }
      AppendName(path, entry.name);
      if (BeginDirectory()) WalkDirectory(child, path);
      DirClose(child);
      path->resize(base);
      if (WalkStopped()) return;
    } else if (entry.kind == EntryKind::kFile) {
      if (entry.links > 1 && !LinkedFiles.insert(entry.identity).second) continue;
      AddFileRecord(path->c_str(), entry);
      if (TableWriteFailed) return;
    }
  }
  if (more < 0) Out << "Warning: unable to read the whole directory " << path->c_str() << "\n";
}

}  // namespace

int OpenTempFile(char** name) {
  std::string made;
  int handle = FileCreateTemp(ChooseTempDir().c_str(), TempFilePrefix, &made);
  *name = nullptr;
  if (made.empty()) return handle;
  *name = static_cast<char*>(std::malloc(made.size() + 1));
  if (*name == nullptr) {
    // Without its name the file could not be deleted at the end of the run.
    if (handle >= 0) {
      FileClose(handle);
      FileDelete(made.c_str());
    }
    return -1;
  }
  std::memcpy(*name, made.c_str(), made.size() + 1);
  return handle;
}

void ScanDirectory() {
  if (WalkStopped()) return;
  if (!BeginDirectory()) return;
  std::string path;
  if (!GetCurrentDir(&path)) {
    Out << "Warning: unable to read the current directory\n";
    return;
  }
  FileIdentity identity;
  int dir = DirOpen(kCurrentDir, ".", &identity);
  if (dir < 0) return;
  if (WalkedDirectories.insert(identity).second) WalkDirectory(dir, &path);
  DirClose(dir);
}

void AddFileRecord(const char* dir, const DirEntry& entry) {
  if (TableWriteFailed) return;
  const size_t dirLength = std::strlen(dir);
  const bool separator = NeedsSeparator(dir, dirLength);
  const size_t size = kIdentityBytes + dirLength + (separator ? 1 : 0) + entry.name.size() + 1;

  if (!WriteBufferTried) {
    // Without a buffer every record is written on its own.
    WriteBufferTried = true;
    WriteBuffer = static_cast<unsigned char*>(std::malloc(kWriteBufferSize));
    WriteBufferCapacity = WriteBuffer != nullptr ? kWriteBufferSize : 0;
  }
  if (WriteBufferUsed + size > WriteBufferCapacity && FlushFileTable() != 0) return;

  unsigned char* record = nullptr;
  const bool direct = size > WriteBufferCapacity;
  if (direct) {
    record = static_cast<unsigned char*>(std::malloc(size));
    if (record == nullptr) {
      TableWriteFailed = 1;
      return;
    }
  } else {
    record = WriteBuffer + WriteBufferUsed;
  }
  unsigned char* p = record;
  PutLittleEndian(p, entry.identity.device);
  PutLittleEndian(p + 8, entry.identity.inode);
  p += kIdentityBytes;
  std::memcpy(p, dir, dirLength);
  p += dirLength;
  if (separator) *p++ = static_cast<unsigned char>(kPathSeparator);
  std::memcpy(p, entry.name.data(), entry.name.size());
  p[entry.name.size()] = '\0';

  const uint64_t offset = EndOffset;
  if (direct) {
    WriteDirect(record, size);
    std::free(record);
    if (TableWriteFailed) return;
  } else {
    WriteBufferUsed += size;
  }
  EndOffset += size;

  if (FileCount == MaxFiles) {
    FlushFileTable();
    ExitProgram(2, "Fatal error: too many files!\n", static_cast<const char*>(nullptr));
  }
  RecordOffsets[FileCount] = offset;
  FileSizes[FileCount] = entry.size;
  ++FileCount;
}

int FlushFileTable() {
  if (TableWriteFailed) return -1;
  if (WriteBufferUsed == 0) return 0;
  if (FileWrite(TempFileHandle, WriteBuffer, WriteBufferUsed) != 0) {
    TableWriteFailed = 1;
    return -1;
  }
  FlushedOffset += WriteBufferUsed;
  WriteBufferUsed = 0;
  return 0;
}

bool ReadFileRecord(uint32_t index, std::string* path, FileIdentity* identity) {
  if (index >= FileCount) return false;
  const uint64_t start = RecordOffsets[index];
  const uint64_t end = index + 1 < FileCount ? RecordOffsets[index + 1] : EndOffset;
  if (end < start + kIdentityBytes + 1) return false;
  const size_t size = static_cast<size_t>(end - start);
  path->resize(size);
  unsigned char* bytes = reinterpret_cast<unsigned char*>(&(*path)[0]);
  if (start >= FlushedOffset) {
    // Still in the write buffer.
    if (end - FlushedOffset > WriteBufferUsed) return false;
    std::memcpy(bytes, WriteBuffer + (start - FlushedOffset), size);
  } else if (FileReadAt(TempFileHandle, bytes, size, start) != static_cast<long long>(size)) {
    return false;
  }
  const void* nul = std::memchr(bytes + kIdentityBytes, '\0', size - kIdentityBytes);
  if (nul != bytes + size - 1) return false;
  identity->device = GetLittleEndian(bytes);
  identity->inode = GetLittleEndian(bytes + 8);
  path->erase(0, kIdentityBytes);
  path->pop_back();
  return true;
}

void ResetFileTable() {
  FileCount = 0;
  UserAbort = 0;
  TableWriteFailed = 0;
  DirectoryTick = 0;
  WriteBufferUsed = 0;
  FlushedOffset = 0;
  EndOffset = 0;
  IdentitySet().swap(WalkedDirectories);
  IdentitySet().swap(LinkedFiles);
}
