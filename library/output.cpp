#include "library/output.h"

#include <cstring>

#include "library/common.h"
#include "platform/platform.h"

TLogOutput Out;
TConsoleOutput Console;
TStdOutput StdOut;
int ScreenRows = 25;
int SpinnerIndex = 0;

namespace {

// Formats value in decimal into buffer (at least 24 bytes); returns buffer.
char* FormatUnsigned(unsigned long long value, bool negative, char* buffer) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  char* p = buffer;
  if (negative) *p++ = '-';
  while (n > 0) *p++ = digits[--n];
  *p = '\0';
  return buffer;
}

char* FormatSigned(long long value, char* buffer) {
  // The magnitude is taken in unsigned arithmetic so the most negative value
  // formats too.
  unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  return FormatUnsigned(magnitude, value < 0, buffer);
}

void ConsoleChar(char c) {
  if (c == '\n') {
    ConsoleWrite("\r\n", 2);
  } else {
    ConsoleWrite(&c, 1);
  }
}

}  // namespace

// --- TOutput -----------------------------------------------------------------

TOutput& TOutput::operator<<(long value) {
  char buffer[24];
  return *this << static_cast<const char*>(FormatSigned(value, buffer));
}

TOutput& TOutput::operator<<(int value) {
  char buffer[24];
  return *this << static_cast<const char*>(FormatSigned(value, buffer));
}

TOutput& TOutput::operator<<(unsigned long value) {
  char buffer[24];
  return *this << static_cast<const char*>(FormatUnsigned(value, false, buffer));
}

TOutput& TOutput::operator<<(unsigned long long value) {
  char buffer[24];
  return *this << static_cast<const char*>(FormatUnsigned(value, false, buffer));
}

// --- TStdOutput --------------------------------------------------------------

TOutput& TStdOutput::operator<<(const char* text) {
  StdOutWrite(text, strlen(text));
  return *this;
}

TOutput& TStdOutput::operator<<(char c) {
  StdOutPutChar(c);
  return *this;
}

// --- TConsoleOutput ----------------------------------------------------------

void TConsoleOutput::WriteConsole(char c) {
  if (Quiet == 0) ConsoleChar(c);
}

TOutput& TConsoleOutput::operator<<(const char* text) {
  if (Quiet == 0) {
    // Through the virtual character insertion, so a derived stream sees
    // every character.
    for (const char* p = text; *p != '\0'; ++p) *this << *p;
  }
  return *this;
}

TOutput& TConsoleOutput::operator<<(char c) {
  WriteConsole(c);
  return *this;
}

TOutput& TConsoleOutput::PutPaged(const char* text) {
  unsigned lineCount = 1;
  bool paused = false;
  for (const char* p = text; *p != '\0'; ++p) {
    *this << *p;
    if (Quiet == 0 && *p == '\n') {
      if (lineCount % static_cast<unsigned>(ScreenRows - 2) == 0) {
        WaitKey();
        paused = true;
      } else {
        paused = false;
      }
      ++lineCount;
    }
  }
  if (!paused) WaitKey();
  return *this;
}

// --- TLogOutput --------------------------------------------------------------

TLogOutput::~TLogOutput() { Close(); }

void TLogOutput::WriteLog(const char* data, unsigned long size) {
  if (LogHandle < 0 || size == 0) return;
  if (FileWrite(LogHandle, data, size) != 0) LogWriteFailed = 1;
}

TOutput& TLogOutput::operator<<(const char* text) {
  size_t length = strlen(text);
  if (Quiet == 0) {
    for (size_t i = 0; i < length; ++i) ConsoleChar(text[i]);
  }
  WriteLog(text, length);
  return *this;
}

TOutput& TLogOutput::operator<<(char c) {
  WriteConsole(c);
  WriteLog(&c, 1);
  return *this;
}

int TLogOutput::AppendFile(const char* path) {
  if (LogHandle >= 0) {
    ExitProgram(121, "Log file already opened in TLogOutput::", "AppendFile().\n",
                static_cast<const char*>(nullptr));
  }
  LogHandle = FileOpenAppendText(path);
  return LogHandle < 0 ? 1 : 0;
}

int TLogOutput::Close() {
  if (LogHandle < 0) return 0;
  int result = FileClose(LogHandle);
  LogHandle = -1;
  if (result != 0) {
    LogWriteFailed = 1;
    return -1;
  }
  return 0;
}

// --- Pager and spinner -------------------------------------------------------

int WaitKey() {
  // "Press any key to continue..." in Russian, code page 866, then CR.
  static const char kPrompt[] =
      "\x8d\xa0\xa6\xac\xa8\xe2\xa5 \xab\xee\xa1\xe3\xee \xaa\xab\xa0\xa2\xa8\xe8\xe3 "
      "\xa4\xab\xef \xaf\xe0\xae\xa4\xae\xab\xa6\xa5\xad\xa8\xef...\r";
  static const char kBlank[] = "                                        \r";
  Console << kPrompt;
  int c = StdInGetChar();
  Console << kBlank;
  return c;
}

void ShowSpinner() {
  static const char kFrames[] = "|/-\\";
  if (SpinnerIndex == 4) SpinnerIndex = 0;
  char frame[2] = {kFrames[SpinnerIndex++], '\r'};
  ConsoleWrite(frame, 2);
}
