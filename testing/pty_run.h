// Runs a program as a user would: on a pseudo-terminal that is its
// controlling terminal, with standard output and standard error on pipes of
// their own. The terminal is raw, so the console bytes come back exactly as
// the program wrote them.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Something done to the running program once its console output contains
// waitFor (at once when waitFor is empty): type bytes into the terminal,
// or send a signal. waitFor is looked for in all console bytes so far, and
// the actions fire strictly one after another in the order given.
struct TerminalAction {
  std::string waitFor;
  std::string type;  // bytes typed into the terminal; "\x1b" is ESC
  int signal = 0;    // sent to the program when non-zero
  int delayMs = 0;   // wait this long after waitFor appears
};

struct RunOptions {
  std::vector<std::string> args;  // args[0] is the program's path
  std::string cwd;                // empty: the test's own
  // The environment is fixed: PATH, HOME, TERM=xterm, LC_ALL=C, and
  // TEMP/TMP/TMPDIR pointing at tempDir when it is set; extra entries are
  // added after that, and an entry with an empty value removes the name.
  std::string tempDir;
  std::vector<std::pair<std::string, std::string>> env;
  bool terminal = true;  // false: no controlling terminal at all
  // true: the terminal starts with line input and echo (ICANON, ECHO, ISIG,
  // ICRNL), as a user's shell leaves it, so that a program that changes the
  // input mode and fails to restore it shows in terminalRestored. Output
  // stays raw either way.
  bool cookedInput = false;
  std::string input;  // bytes on standard input (then closed); empty: /dev/null
  std::vector<TerminalAction> actions;
  int timeoutMs = 60000;  // then the program is killed
};

struct RunResult {
  std::string console;  // bytes written to the terminal
  std::string out;      // standard output
  std::string err;      // standard error
  int exitCode = -1;    // -1 when ended by a signal; 127 when it cannot start
  int signal = 0;       // the signal that ended it, if any
  bool timedOut = false;
  // Terminal attributes after the program ended equal those it started with.
  bool terminalRestored = true;
};

RunResult RunProgram(const RunOptions& options);

// Removes every spinner frame ("|\r", "/\r", "-\r", "\\\r") from console bytes;
// one of these characters before "\r\n" ends a line and is kept.
std::string StripSpinner(const std::string& console);
