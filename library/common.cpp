#include "library/common.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

TTerminationHandler TerminationHandlers[kMaxTerminationHandlers];
int TerminationHandlerCount = 0;
int InShutdown = 0;

void PrintText(const char* text) {
  if (text == nullptr) return;
  for (const char* p = text; *p != '\0'; ++p) StdOutPutChar(*p);
}

void PrintLine(const char* text) {
  if (text == nullptr) return;
  PrintText(text);
  size_t length = strlen(text);
  if (length == 0 || text[length - 1] != '\n') StdOutPutChar('\n');
}

void ExitProgram(int code, ...) {
  if (InShutdown) {
    PrintText("Error in C:\\Quennel\\Trovak\\Library\\COMMON: ");
    PrintLine(
        "recursive shutdown (\"ExitProgram\").\n"
        "SHUTDOWN NOT COMPLETE - ABNORMAL PROGRAM TERMINATION");
    TerminationHandlerCount = 0;
    ProcessExit(-128);
  }
  InShutdown = 1;

  const int count = TerminationHandlerCount;
  const char* results[kMaxTerminationHandlers] = {};
  bool anyText = false;
  for (int i = count - 1; i >= 0; --i) {
    TerminationHandlerCount = i;
    results[i] = TerminationHandlers[i]();
    if (results[i] != nullptr) anyText = true;
  }

  PrintLine("[EXECUTION ERROR]");
  va_list texts;
  va_start(texts, code);
  for (const char* text = va_arg(texts, const char*); text != nullptr;
       text = va_arg(texts, const char*)) {
    PrintText(text);
  }
  va_end(texts);

  if (anyText) {
    PrintLine("[PROGRAM TERMINATION LOG]");
    for (int i = count - 1; i >= 0; --i) PrintLine(results[i]);
  }

  TerminationHandlerCount = 0;
  ProcessExit(static_cast<signed char>(code));
}

namespace {

// Allocates the next `left` blocks of the list; on a failure releases, latest
// first, the blocks that it obtained. *obtained counts the blocks obtained
// before the failure.
bool AllocRest(int left, va_list* pairs, int* obtained) {
  if (left <= 0) return true;
  void** destination = va_arg(*pairs, void**);
  size_t size = va_arg(*pairs, size_t);
  *destination = malloc(size);
  if (*destination == nullptr) return false;
  ++*obtained;
  if (AllocRest(left - 1, pairs, obtained)) return true;
  free(*destination);
  return false;
}

}  // namespace

int AllocBlocks(int count, ...) {
  va_list pairs;
  va_start(pairs, count);
  int obtained = 0;
  bool all = AllocRest(count, &pairs, &obtained);
  va_end(pairs);
  return all ? count : obtained;
}

char* GetFileDir(const char* path, char* dest) {
  strcpy(dest, path);
  char* last = strrchr(dest, kPathSeparator);
  if (last != nullptr) {
    *last = '\0';
  } else {
    dest[0] = '\0';
  }
  return dest;
}
