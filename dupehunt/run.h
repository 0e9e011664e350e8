// The finder's entry and the driver of one run.
#pragma once

#include "library/output.h"

constexpr int MaxStartPaths = 127;

// The finder's report stream: console, and the /L= log file.
extern TLogOutput DupLog;
extern int ArgCount;
extern char** ArgVector;

// Exit codes of a run that ends without ExitProgram.
constexpr int kExitLogIncomplete = 3;
constexpr int kExitTempFileFailed = 4;

// Allocates FileSizes and RecordOffsets (MaxFiles entries each) and the two
// comparison buffers, all or none: false when memory ran short.
bool AllocRunBlocks();
// Frees what AllocRunBlocks obtained and sets the four pointers to nullptr.
void ReleaseRunBlocks();

// Runs the scan of every start path (nullptr-terminated) and the search.
// Returns 0, or kExitTempFileFailed when the table could not be written.
int RunScan(char** startPaths);

// The finder's main, apart from the process entry.
int DupehuntMain(int argc, char** argv);
