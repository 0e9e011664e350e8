#include "testing/program_under_test.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/platform.h"

namespace {

// The Windows build's limit on a path, terminating NUL included.
constexpr size_t kWin32LongestPath = 260;

std::string FromEnvironment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? value : "";
}

// The first executable called name in PATH; name itself when none is.
std::string FindInPath(const std::string& name) {
  std::string path = FromEnvironment("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string candidate = path.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

// An argument as cmd.exe passes it on: quoted when empty or holding blanks.
std::string CmdArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t") == std::string::npos) return argument;
  return "\"" + argument + "\"";
}

}  // namespace

const ProgramUnderTest& ProgramUnderTest::Current() {
  static const ProgramUnderTest current(FromEnvironment("DUPEHUNT_WIN32_DIR"));
  return current;
}

const ProgramUnderTest& ProgramUnderTest::Native() {
  static const ProgramUnderTest native("");
  return native;
}

std::string ProgramUnderTest::Path(const std::string& path) const {
  if (!wine()) return path;
  std::string converted = path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return !path.empty() && path[0] == '/' ? "Z:" + converted : converted;
}

size_t ProgramUnderTest::longestPath() const { return wine() ? kWin32LongestPath : kLongestPath; }

RunResult ProgramUnderTest::Run(Program program, RunOptions options) const {
  if (!wine()) {
    options.args.insert(options.args.begin(),
                        program == Program::kDupehunt ? DUPEHUNT_PATH : PURGON_PATH);
    if (options.tempDir.empty()) {
      options.env.emplace_back("TEMP", "");
      options.env.emplace_back("TMP", "");
    } else {
      options.env.emplace_back("TMP", "");
    }
    return RunProgram(options);
  }
  const std::string exe =
      Path(Win32Dir + (program == Program::kDupehunt ? "/dupehunt.exe" : "/Purgon32.exe"));
  // Wine takes TEMP and TMP from its prefix, never from the Unix
  // environment: the command interpreter sets them for the program.
  std::string command = "set TEMP=" + (options.tempDir.empty() ? "" : Path(options.tempDir)) +
                        "&& set TMP=&& " + CmdArgument(exe);
  for (const std::string& argument : options.args) command += " " + CmdArgument(argument);
  options.args = {FindInPath("wine"), "cmd", "/c", command};
  options.tempDir.clear();
  options.terminal = false;
  options.env.emplace_back("WINEDEBUG", "-all");
  options.env.emplace_back("WINEPREFIX", FromEnvironment("WINEPREFIX"));
  options.env.emplace_back("WINEDLLOVERRIDES", "mscoree,mshtml=");
  RunResult result = RunProgram(options);
  result.console.clear();
  return result;
}
