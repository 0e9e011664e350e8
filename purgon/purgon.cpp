// Purgon32: deletes every file that a delete list names, one name a line, in
// list order, and ends with the number of lines read and of files removed.
// Every message goes to standard output; nothing goes to standard error.
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "purgon/read_line.h"

namespace {

constexpr int kExitDone = 0;    // the list was read to its end
constexpr int kExitUsage = 1;   // not exactly one argument
constexpr int kExitNoList = 2;  // the list cannot be opened or read

// Writes text to standard output, each LF as CR LF.
void Print(const char* text) { StdOutWrite(text, std::strlen(text)); }

// The banner line: name and version, what the tool does, and the build date
// and time as "Mmm dd yyyy hh:mm:ss".
void PrintBanner() {
  char date[] = __DATE__;  // "Mmm dd yyyy", with a blank before a one-digit day
  if (date[4] == ' ') date[4] = '0';
  Print("Purgon 1.2/Win32 - deletes the files named in a list ");
  Print(date);
  Print(" " __TIME__ "\n");
}

void PrintFailure(const char* name) {
  Print("Unable to delete: ");
  Print(name);
  Print("\n");
}

void PrintCounts(long long lines, long long removed) {
  char text[80];
  std::snprintf(text, sizeof text, "%lld lines -- %lld files removed.\n", lines, removed);
  Print(text);
}

// Deletes the files named in the open list, reporting each failure, and
// prints the closing counts.
void DeleteListed(int list, char* line, size_t size) {
  TTextReader reader(list);
  long long lines = 0;
  long long removed = 0;
  int more;
  do {
    unsigned faults;
    more = ReadLine(&reader, line, size, &faults);
    ++lines;
    if (faults != 0) {
      PrintFailure(line);
    } else if (line[0] != '\0') {
      if (FileDeleteListed(line) == 0) {
        ++removed;
      } else {
        PrintFailure(line);
      }
    }
  } while (more == 1);
  PrintCounts(lines, removed);
}

int Run(int argc, char** argv) {
  PrintBanner();
  if (argc != 2) {
    Print("USAGE: Purgon32.exe <delete-list-file-name>\n");
    return kExitUsage;
  }
  char* line = new (std::nothrow) char[kLongestPath];
  if (line == nullptr) {
    Print("Not enough memory.\n");
    return kExitNoList;
  }
  const int list = ListOpen(argv[1]);
  if (list < 0) {
    Print("Error open file: ");
    Print(argv[1]);
    Print("\n");
    delete[] line;
    return kExitNoList;
  }
  DeleteListed(list, line, kLongestPath);
  ListClose(list);
  delete[] line;
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  const int code = Run(argc, argv);
  StdOutFlush();
  return code;
}
