// Platform services used by both programs: the console device, standard
// streams, file handles, directories, the temporary file and process exit.
// One implementation per platform (platform_posix.cpp, platform_win32.cpp);
// nothing outside this folder includes a system header of its own platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Separator used in composed paths and by GetFileDir: '/' on POSIX, '\\' on Win32.
extern const char kPathSeparator;
// The longest path, in bytes with its NUL, that the platform accepts
// (PATH_MAX on POSIX, 260 on Win32).
extern const size_t kLongestPath;

// ---------------------------------------------------------------------------
// Console device: the terminal the user sees, never standard output.
// On POSIX the controlling terminal /dev/tty, opened once at the first write.
// Without a console every write is dropped silently and no key is ever waiting.

// Writes the bytes unchanged. Output may be buffered; it is flushed before
// every key poll, before anything goes to standard output and at exit.
void ConsoleWrite(const char* data, size_t size);
void ConsoleFlush();

// Returns -1 when no key is waiting, else the key read without echo: 27 for a
// lone ESC; an escape sequence (arrow or function key) is one key, kOtherKey.
// At the first poll the terminal goes to non-canonical, no-echo input; it is
// restored at every way out of the process, signals included.
constexpr int kKeyEsc = 27;
constexpr int kOtherKey = 256;
int ConsolePollKey();

// ---------------------------------------------------------------------------
// Standard streams. Standard output is in text mode: LF goes out as CR LF.

void StdOutWrite(const char* data, size_t size);
void StdOutPutChar(char c);
void StdOutFlush();
// Buffered character input: 0..255, or -1 at the end of input.
int StdInGetChar();

// ---------------------------------------------------------------------------
// File handles. Every open returns a handle >= 0, or -1 on failure.
// Text mode is a property of the handle: writes turn each LF into CR LF.

// Opens for reading and writing in append and text mode, creating an ordinary
// file when it is missing; existing contents are kept.
int FileOpenAppendText(const char* path);
// Opens an existing file read-only in binary mode, denying nobody.
int FileOpenRead(const char* path);
// Creates the temporary file exclusively, owner-only, never through a
// symbolic link: dir, a separator unless dir ends in one, prefix and the
// first number from 1 up for which no file exists. When dir is missing or
// not writable, a usable directory of the platform's own is taken instead
// (TMPDIR, then /tmp on POSIX). Stores the name in *name, also on failure
// when one could be formed (else it stays empty).
int FileCreateTemp(const char* dir, const char* prefix, std::string* name);

// Reads up to size bytes; returns the count (less only at the end of the
// file) or -1 on error. Interrupted and partial reads are continued.
long long FileRead(int handle, void* buffer, size_t size);
// The same at an absolute offset, leaving the file position unchanged.
long long FileReadAt(int handle, void* buffer, size_t size, uint64_t offset);
// Writes all bytes (CR LF for LF on a text-mode handle); 0 on success, -1 when
// the write failed or fell short.
int FileWrite(int handle, const void* data, size_t size);
// 0 on success, -1 on failure; the handle is released in both cases.
int FileClose(int handle);
// Deletes a file (never a directory) by name: 0 on success, -1 on failure.
int FileDelete(const char* path);
// Deletes a file named in a delete list with the platform's plain delete: a
// directory or (on POSIX) a regular file without any write bit is refused.
// A symbolic link is removed itself. 0 on success, -1 on failure.
int FileDeleteListed(const char* path);

// Delete-list reading: a buffered byte stream over a file opened read-only
// with every kind of sharing; -1 when the file is missing, a directory or
// unreadable. ListGetByte gives the raw bytes 0..255 (no text-mode
// translation: the caller does that), or -1 at the end or on an error.
int ListOpen(const char* path);
int ListGetByte(int list);
void ListClose(int list);

// ---------------------------------------------------------------------------
// Directories.

enum class EntryKind { kFile, kDirectory, kOther };

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};

struct DirEntry {
  std::string name;
  EntryKind kind = EntryKind::kOther;
  uint64_t size = 0;      // files only
  FileIdentity identity;  // files only
  uint64_t links = 1;     // files only: number of hard links
};

// Opens a directory for enumeration. parent is kCurrentDir or a handle from
// DirOpen; name is relative to it. A symbolic link is never followed. Fills
// *identity with the directory's own device and inode. -1 on failure.
constexpr int kCurrentDir = -100;
int DirOpen(int parent, const char* name, FileIdentity* identity);
// Next entry, "." and ".." included: 1 with *entry filled, 0 at the end, -1 on
// error. Costs at most one metadata call per entry.
int DirNext(int dir, DirEntry* entry);
void DirClose(int dir);

// The current directory as a whole path; false when it cannot be read.
bool GetCurrentDir(std::string* path);
// 0 on success, -1 on failure.
int ChangeDir(const char* path);
// A handle that remembers the current directory, to come back to it with
// RestoreCurrentDir (also when its path is very long); -1 on failure.
int SaveCurrentDir();
int RestoreCurrentDir(int saved);
void ReleaseSavedDir(int saved);
// Drives: 1 for A, 2 for B, ...; 0 when the platform has none (POSIX), where
// ChangeDrive always fails.
int GetCurrentDrive();
int ChangeDrive(int drive);

// ---------------------------------------------------------------------------
// Process.

// The file named here is deleted when a signal (SIGINT, SIGTERM, SIGHUP) ends
// the process; nullptr forgets it. The terminal is restored on those signals
// whether or not a file is registered.
void RegisterTempFile(const char* path);
// Installs the signal handlers that restore the terminal and delete the
// registered temporary file. Called once at the start of main.
void InstallSignalCleanup();
// Flushes the console and standard output, runs the exit-time functions and
// ends the process with code (the low 8 bits on POSIX).
[[noreturn]] void ProcessExit(int code);
