// Byte-by-byte comparison of two files of a known size.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t CompareBufferSize = 14360576;
constexpr size_t FirstChunk = 1024;

extern unsigned char* CompareBufferA;
extern unsigned char* CompareBufferB;
// Chunks begun in the whole run; the spinner turns on every 16th, from the first.
extern uint32_t ChunkTick;

// Compares the first size bytes of both files: 0 when equal (also when ESC
// aborted the comparison, with UserAbort set), 1 when they differ, -1 when a
// file could not be opened or read (a warning naming it has been shown).
int CompareFiles(const char* pathA, const char* pathB, uint64_t size);
