#include "dupehunt/run.h"

#include <cstdlib>

#include "dupehunt/compare.h"
#include "dupehunt/file_table.h"
#include "dupehunt/search.h"
#include "library/common.h"
#include "platform/platform.h"

TLogOutput DupLog;
int ArgCount = 0;
char** ArgVector = nullptr;

namespace {

const char kBanner[] =
    "DUPEHUNT 1.0 - finds files with identical contents, byte by byte\n"
    "Written by the dupehunt developers; free to use, copy and share.\n";

bool IsLogOption(const char* argument) {
  return argument[0] == '/' && (argument[1] == 'L' || argument[1] == 'l') && argument[2] == '=';
}

// Closes and deletes the temporary file and forgets its name.
void RemoveTempFile() {
  if (TempFileHandle >= 0) {
    FileClose(TempFileHandle);
    TempFileHandle = -1;
    if (TempFileName != nullptr) FileDelete(TempFileName);
  }
  RegisterTempFile(nullptr);
  free(TempFileName);
  TempFileName = nullptr;
}

// Runs inside ExitProgram (a full table): the temporary file is not left behind.
const char* RemoveTempFileOnFatalExit() {
  RemoveTempFile();
  return nullptr;
}

void WatchTempFile() {
  RegisterTempFile(TempFileName);
  if (TerminationHandlerCount < kMaxTerminationHandlers) {
    TerminationHandlers[TerminationHandlerCount++] = RemoveTempFileOnFatalExit;
  }
}

void UnwatchTempFile() {
  if (TerminationHandlerCount > 0 &&
      TerminationHandlers[TerminationHandlerCount - 1] == RemoveTempFileOnFatalExit) {
    --TerminationHandlerCount;
  }
}

// Releases what the run holds: the temporary file and the run blocks.
void EndRun() {
  UnwatchTempFile();
  RemoveTempFile();
  ReleaseRunBlocks();
}

// Ends a run whose table could not be written (or read back) whole.
int FailOnTempFile() {
  Out << "Fatal error: unable to write or read back the temp file "
      << (TempFileName != nullptr ? TempFileName : "") << " (disk full?)\n";
  EndRun();
  return kExitTempFileFailed;
}

}  // namespace

bool AllocRunBlocks() {
  constexpr int kRunBlocks = 4;
  const size_t tableBytes = static_cast<size_t>(MaxFiles) * sizeof(uint64_t);
  return AllocBlocks(kRunBlocks, reinterpret_cast<void**>(&FileSizes), tableBytes,
                     reinterpret_cast<void**>(&RecordOffsets), tableBytes,
                     reinterpret_cast<void**>(&CompareBufferA), CompareBufferSize,
                     reinterpret_cast<void**>(&CompareBufferB), CompareBufferSize) == kRunBlocks;
}

void ReleaseRunBlocks() {
  free(FileSizes);
  free(RecordOffsets);
  free(CompareBufferA);
  free(CompareBufferB);
  FileSizes = nullptr;
  RecordOffsets = nullptr;
  CompareBufferA = nullptr;
  CompareBufferB = nullptr;
}

int RunScan(char** startPaths) {
  ResetFileTable();
  if (!AllocRunBlocks()) {
    ExitProgram(110, "Not enough memory! I need about 256 kb.\n",
                static_cast<const char*>(nullptr));
  }

  TempFileHandle = OpenTempFile(&TempFileName);
  if (TempFileHandle == -1) {
    Out << "Unable to open temp file: " << (TempFileName != nullptr ? TempFileName : "(none)")
        << "!\n";
    EndRun();
    return 0;
  }
  WatchTempFile();

  Out << "Hit <ESC> to abort.\n";
  for (char** path = startPaths; *path != nullptr; ++path) {
    int savedDir = SaveCurrentDir();
    int savedDrive = GetCurrentDrive();
    Out << "Scanning path: " << *path << "\n";
    if (ChangeDir(*path) != 0) {
      Out << "Path not found.\n";
      ReleaseSavedDir(savedDir);
      EndRun();
      return 0;
    }
    const char* p = *path;
    if (p[0] != '\0' && p[1] == ':') {
      char letter = p[0];
      if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
      ChangeDrive(letter - 64);
    }
    ScanDirectory();
    RestoreCurrentDir(savedDir);
    ReleaseSavedDir(savedDir);
    ChangeDrive(savedDrive);
    if (TableWriteFailed) return FailOnTempFile();
    if (UserAbort) break;
  }

  if (!UserAbort) {
    if (FlushFileTable() != 0) return FailOnTempFile();
    Out << "Total: " << FileCount << " file(s)\n";
    FindDuplicates();
    if (TableWriteFailed || SearchFailed) return FailOnTempFile();
  }

  EndRun();
  Out << (UserAbort ? "Aborted by user!\n" : "Done.\n");
  return 0;
}

int DupehuntMain(int argc, char** argv) {
  ArgCount = argc;
  ArgVector = argv;
  InstallSignalCleanup();

  Out << kBanner;
  if (argc < 2) {
    Out << "USAGE:   dupehunt <startpath> [<startpath>...] [/L=<dup_log>]\n"
        << "EXAMPLE: dupehunt c:\\work /L=dups.txt\n";
    return 1;
  }

  char* startPaths[MaxStartPaths + 1];
  int pathCount = 0;
  const char* logName = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (IsLogOption(argv[i])) {
      if (DupLog.AppendFile(argv[i] + 3) != 0) {
        Out << "Error opening file: " << (argv[i] + 3) << "\n";
        return 2;
      }
      logName = argv[i] + 3;
    } else {
      if (pathCount == MaxStartPaths) {
        Out << "Too many paths.\n";
        return 1;
      }
      startPaths[pathCount++] = argv[i];
    }
  }
  startPaths[pathCount] = nullptr;

  int code = RunScan(startPaths);
  if (DupLog.Close() != 0 || DupLog.WriteFailed()) {
    Out << "Warning: the log file " << logName << " is incomplete: writing to it failed.\n";
    if (code == 0) code = kExitLogIncomplete;
  }
  return code;
}
