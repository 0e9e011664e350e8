// Test driver for the output library: performs one named scenario so that a
// test can read what it wrote to the terminal, to standard output and to a log
// file. Scenarios take the log file's path as their second argument.
#include <cstdio>
#include <cstring>

#include "library/common.h"
#include "library/output.h"

namespace {

TLogOutput Log;

const char* HandlerText() { return "handler text"; }
const char* HandlerNull() { return nullptr; }
const char* HandlerRecursive() {
  ExitProgram(5, "never printed\n", static_cast<const char*>(nullptr));
}
const char* HandlerFirst() { return "first registered"; }
const char* HandlerSecond() { return "second registered"; }

void Report(const char* what, int value) {
  char line[64];
  snprintf(line, sizeof line, "%s=%d\n", what, value);
  StdOut << line;
}

int Run(const char* scenario, const char* file) {
  const char* kEnd = nullptr;
  if (!strcmp(scenario, "text")) {
    Out << "a\nb";
  } else if (!strcmp(scenario, "numbers")) {
    Out << -2147483648L << ' ' << 0 << ' ' << 7L << ' ' << -1 << ' ' << 18446744073709551615ULL;
  } else if (!strcmp(scenario, "empty")) {
    Log.AppendFile(file);
    Log << "";
    Out << "";
  } else if (!strcmp(scenario, "log")) {
    Report("append", Log.AppendFile(file));
    Log << "x\n";
    Log << 'y' << '\n' << 42 << "\n";
  } else if (!strcmp(scenario, "quiet")) {
    Log.AppendFile(file);
    Log.Quiet = 1;
    Log << "hidden\n" << 'c' << 12;
  } else if (!strcmp(scenario, "stdout")) {
    StdOut << "one\ntwo" << '\n' << -5L << "\n";
  } else if (!strcmp(scenario, "append-twice")) {
    Log.AppendFile(file);
    Log << "kept\n";
    Log.AppendFile(file);
  } else if (!strcmp(scenario, "append-close-cycle")) {
    Report("first", Log.AppendFile(file));
    Log << "1\n";
    Report("close", Log.Close());
    Report("close-again", Log.Close());
    Report("second", Log.AppendFile(file));
    Log << "2\n";
  } else if (!strcmp(scenario, "append-bad")) {
    Report("bad", Log.AppendFile(file));
    Report("handle", Log.LogHandle);
    Report("retry-bad", Log.AppendFile(file));
  } else if (!strcmp(scenario, "spinner")) {
    for (int i = 0; i < 5; ++i) ShowSpinner();
  } else if (!strcmp(scenario, "waitkey")) {
    Report("key", WaitKey());
  } else if (!strcmp(scenario, "paged")) {
    // file holds the text to page.
    FILE* f = fopen(file, "rb");
    static char text[65536];
    size_t n = f ? fread(text, 1, sizeof text - 1, f) : 0;
    if (f) fclose(f);
    text[n] = '\0';
    Console.PutPaged(text);
  } else if (!strcmp(scenario, "exit-memory")) {
    Log.AppendFile(file);
    Log << "before\n";
    ExitProgram(110, "Not enough memory! I need about 256 kb.\n", kEnd);
  } else if (!strcmp(scenario, "exit-empty")) {
    ExitProgram(7, kEnd);
  } else if (!strcmp(scenario, "exit-handlers")) {
    TerminationHandlers[TerminationHandlerCount++] = HandlerFirst;
    TerminationHandlers[TerminationHandlerCount++] = HandlerNull;
    TerminationHandlers[TerminationHandlerCount++] = HandlerSecond;
    ExitProgram(3, "no line end", kEnd);
  } else if (!strcmp(scenario, "exit-handler-null")) {
    TerminationHandlers[TerminationHandlerCount++] = HandlerNull;
    ExitProgram(4, "text\n", kEnd);
  } else if (!strcmp(scenario, "exit-recursive")) {
    TerminationHandlers[TerminationHandlerCount++] = HandlerText;
    TerminationHandlers[TerminationHandlerCount++] = HandlerRecursive;
    ExitProgram(9, "first call\n", kEnd);
  } else if (!strcmp(scenario, "print-line")) {
    PrintLine(nullptr);
    PrintLine("");
    PrintLine("a\n");
    PrintLine("b");
    PrintText(nullptr);
    PrintText("c");
  } else {
    return 99;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 99;
  return Run(argv[1], argc > 2 ? argv[2] : "");
}
