// The build of the programs that a black-box test drives: the native one, or
// the Windows one run under Wine. CTest picks it for each registered test:
// DUPEHUNT_WIN32_DIR in the test's environment names the folder that holds
// dupehunt.exe and Purgon32.exe and makes the test drive those under Wine
// (WINEPREFIX is taken from the environment as well).
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "testing/pty_run.h"

enum class Program { kDupehunt, kPurgon };

class ProgramUnderTest {
 public:
  // The build chosen by the environment of this test process.
  static const ProgramUnderTest& Current();
  // The native build, whatever the environment says.
  static const ProgramUnderTest& Native();

  bool wine() const { return !Win32Dir.empty(); }
  // "native" or "wine": for messages.
  const char* name() const { return wine() ? "wine" : "native"; }

  // A file's path as the program spells it, from its path on this machine:
  // unchanged natively; under Wine an absolute path becomes "Z:" and the
  // path with every "/" turned into "\", a relative one only has its "/"
  // turned into "\".
  std::string Path(const std::string& path) const;
  // The separator the program puts between a directory and a name.
  char separator() const { return wine() ? '\\' : '/'; }
  // The longest path the program's platform accepts, in bytes with its end.
  size_t longestPath() const;
  // Whether the program sees a path with every byte as it is in the Unix
  // name (lone CR, bytes 128-255), symbolic links as what they are, and a
  // file without write permission as read-only. Under Wine names are
  // converted between code pages and file symbolic links look like files.
  bool exactNames() const { return !wine(); }
  bool symbolicLinks() const { return !wine(); }

  // Runs the program with options.args as its arguments (args[0] is the
  // first argument, not the program). options.tempDir, when set, becomes
  // TEMP and TMP is unset; when empty, both TEMP and TMP are unset (natively
  // RunProgram leaves them out; under Wine the prefix's own values are
  // cleared). Under Wine the program runs without a terminal (Wine draws its
  // console with escape sequences of its own), so console bytes are never
  // returned: result.console is empty.
  RunResult Run(Program program, RunOptions options) const;

 private:
  explicit ProgramUnderTest(std::string win32Dir) : Win32Dir(std::move(win32Dir)) {}
  std::string Win32Dir;  // empty: the native build
};
