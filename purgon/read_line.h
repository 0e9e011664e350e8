// Reading a delete list: text-mode translation of the list's raw bytes and
// the line reader that cuts the list into names.
#pragma once

#include <cstddef>

// A source of raw bytes: the next byte as 0..255, or -1 at the end of the
// input or on a read error (the two are not told apart).
typedef int (*TByteSource)(void* context);

// Text-mode view of a byte source, as the list is read on every platform:
// CR LF is delivered as one LF, any other CR is delivered unchanged, byte 26
// (Ctrl-Z) ends the input for good (neither it nor anything after it is ever
// delivered), and every other byte, NUL included, is delivered unchanged.
class TTextReader {
 public:
  TTextReader(TByteSource source, void* context);
  // Reads the list behind a handle from ListOpen; the handle stays the
  // caller's to close.
  explicit TTextReader(int list);
  TTextReader(const TTextReader&) = delete;
  TTextReader& operator=(const TTextReader&) = delete;

  // The next byte in text mode as 0..255, or -1 at the end of the input;
  // once -1 has been returned, every later call returns -1 too.
  int GetChar();

 private:
  static constexpr int kNoByte = -2;
  static int ListSource(void* context);

  TByteSource Source;
  void* Context;
  int List = -1;
  int Ahead = kNoByte;  // a byte read after a CR that was not LF, or -1 at the end
  bool Ended = false;
};

// Why a line read by ReadLine names no file that may be deleted. Such a line
// is reported, never deleted.
enum : unsigned {
  // The line, without its trailing white space, does not fit in the buffer.
  // The buffer holds its first size - 1 bytes, untrimmed.
  kLineTooLong = 1,
  // The line holds a NUL byte. The buffer, read as a string, holds the text
  // before the first NUL, untrimmed.
  kLineHasNul = 2,
};

// True for the white space of a delete list: tab, LF, VT, FF, CR and blank.
// No byte from 128 to 255 is white space, whatever the locale.
bool IsListSpace(int c);

// Reads the next line of stream into buffer (size bytes, at least 1) and
// NUL-terminates it. A line ends at a LF, which is consumed and not stored,
// or at the end of the input. White space at the end of the line is removed;
// white space at its start is kept. A line longer than the buffer is read to
// its end all the same, so the next call starts on the next line.
// *faults receives kLineTooLong and kLineHasNul as they apply, else 0; a line
// with faults is never a usable name, even when the buffer is empty.
// Returns 0 when reading stopped at the end of the input, 1 when it stopped
// at a LF (more may follow).
int ReadLine(TTextReader* stream, char* buffer, size_t size, unsigned* faults);
