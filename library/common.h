// Fatal termination and small helpers shared by the finder.
#pragma once

// A termination handler returns a text for the termination log, or nullptr.
typedef const char* (*TTerminationHandler)();

constexpr int kMaxTerminationHandlers = 16;
extern TTerminationHandler TerminationHandlers[kMaxTerminationHandlers];
extern int TerminationHandlerCount;
extern int InShutdown;

// Runs the termination handlers (last registered first), writes the report
// to standard output: "[EXECUTION ERROR]", the texts up to the terminating
// nullptr, and the handlers' texts, then ends the process with code. A call
// made while one is under way reports a recursive shutdown and exits -128.
// code is taken as a signed 8-bit value (-128 to 127).
[[noreturn]] void ExitProgram(int code, ...);

// Text to standard output; nullptr writes nothing.
void PrintText(const char* text);
// As PrintText, then a line feed unless the text already ends in one.
void PrintLine(const char* text);

// AllocBlocks(count, void** dest1, size_t size1, void** dest2, size_t size2, ...)
// Allocates every block or none: returns count on success; else releases
// what it obtained, leaves nullptr in the failed destination and returns the
// number of blocks obtained before the failure.
int AllocBlocks(int count, ...);

// Copies path into dest up to its last separator (exclusive): "" when there
// is none. dest must hold the whole path. Returns dest.
char* GetFileDir(const char* path, char* dest);
