// The table of found files and the directory walk that fills it.
//
// A file's index is its position in the order in which it was found. Its
// size and the offset of its record stay in memory; its path and identity
// live in the temporary file as a record: device (8 bytes), inode (8 bytes),
// the path, a NUL. A record ends where the next one begins.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

constexpr uint32_t kMaxFiles = 3590144;
// The table's capacity; kMaxFiles except in tests.
extern uint32_t MaxFiles;

extern int TempFileHandle;
extern char* TempFileName;       // malloc'd; released by RunScan
extern uint64_t* FileSizes;      // MaxFiles entries, allocated by RunScan
extern uint64_t* RecordOffsets;  // MaxFiles entries, allocated by RunScan
extern uint32_t FileCount;
// Set to 1 when ESC is read; never cleared.
extern int UserAbort;
// Set when a record could not be written to the temporary file; the walk
// stops and the run ends with a fatal error.
extern int TableWriteFailed;
extern uint32_t DirectoryTick;
extern const char TempFilePrefix[];

// Chooses the temporary directory (TEMP, TMP, the program's own directory)
// and creates the file; stores its malloc'd name in *name (nullptr when no
// name could be formed). Returns the handle or -1.
int OpenTempFile(char** name);

// Walks the current directory and everything below it into the table.
void ScanDirectory();

// Appends one file found in directory dir.
void AddFileRecord(const char* dir, const DirEntry& entry);

// Writes buffered records to the temporary file; 0 on success, -1 on failure
// (TableWriteFailed is set then).
int FlushFileTable();

// Reads record index back: its path and identity. false when it cannot be
// read back whole.
bool ReadFileRecord(uint32_t index, std::string* path, FileIdentity* identity);

// Forgets every file and every directory walked (the start of a run).
void ResetFileTable();
