#include "testing/pty_run.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Milliseconds on a clock that never goes back.
long long NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

bool SameTermios(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Writes all of bytes to a non-blocking fd, waiting for room until the
// deadline; false when the fd fails or the time is up.
bool WriteAll(int fd, const std::string& bytes, long long deadline) {
  size_t done = 0;
  while (done < bytes.size()) {
    if (NowMs() >= deadline) return false;
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      struct pollfd p = {fd, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      return false;
    }
  }
  return true;
}

// Reads what is available on a non-blocking fd into sink. Returns false at
// the end of the stream (or an error), true while it may deliver more.
bool ReadAvailable(int fd, std::string& sink) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      sink.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      return true;
    } else {
      return false;  // end of file, or EIO from a terminal without a slave
    }
  }
}

// The child's environment: the fixed names, then options.env applied in order.
std::vector<std::string> MakeEnvironment(const RunOptions& options) {
  std::vector<std::pair<std::string, std::string>> vars;
  auto set = [&vars](const std::string& name, const std::string& value) {
    for (auto it = vars.begin(); it != vars.end(); ++it) {
      if (it->first == name) {
        vars.erase(it);
        break;
      }
    }
    if (!value.empty()) vars.emplace_back(name, value);
  };
  const char* path = getenv("PATH");
  const char* home = getenv("HOME");
  set("PATH", path && *path ? path : "/usr/local/bin:/usr/bin:/bin");
  set("HOME", home && *home ? home : "/");
  set("TERM", "xterm");
  set("LC_ALL", "C");
  if (!options.tempDir.empty()) {
    set("TEMP", options.tempDir);
    set("TMP", options.tempDir);
    set("TMPDIR", options.tempDir);
  }
  for (const auto& entry : options.env) set(entry.first, entry.second);
  std::vector<std::string> result;
  for (const auto& var : vars) result.push_back(var.first + "=" + var.second);
  return result;
}

void WriteText(int fd, const char* text) {
  ssize_t ignored = write(fd, text, strlen(text));
  (void)ignored;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void StartChild(const RunOptions& options, int slave, int stdinFd, int stdoutFd,
                             int stderrFd, char* const* argv, char* const* envp) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU, SIGCHLD})
    signal(sig, SIG_DFL);

  setsid();
  if (options.terminal && ioctl(slave, TIOCSCTTY, 0) != 0) {
    WriteText(stderrFd, "RunProgram: cannot make the terminal the controlling terminal\n");
    _exit(127);
  }
  if (stdinFd < 0) stdinFd = open("/dev/null", O_RDONLY);
  if (stdinFd < 0 || dup2(stdinFd, 0) < 0 || dup2(stdoutFd, 1) < 0 || dup2(stderrFd, 2) < 0)
    _exit(127);
  if (close_range(3, ~0U, 0) != 0) {
    for (int fd = 3; fd < 65536; ++fd) close(fd);
  }
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
    WriteText(2, "RunProgram: cannot change to the working directory\n");
    _exit(127);
  }
  execve(argv[0], argv, envp);
  WriteText(2, "RunProgram: cannot start ");
  WriteText(2, argv[0]);
  WriteText(2, "\n");
  _exit(127);
}

// Pipe ends: [0] read, [1] write, both close-on-exec.
bool MakePipe(int ends[2]) { return pipe2(ends, O_CLOEXEC) == 0; }

}  // namespace

RunResult RunProgram(const RunOptions& options) {
  RunResult result;
  if (options.args.empty()) {
    ADD_FAILURE() << "RunProgram: no program given";
    return result;
  }

  std::vector<std::string> environment = MakeEnvironment(options);
  std::vector<char*> argv, envp;
  for (const std::string& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  for (const std::string& var : environment) envp.push_back(const_cast<char*>(var.c_str()));
  envp.push_back(nullptr);

  int master = -1, slave = -1;
  struct winsize size = {};
  size.ws_row = 25;
  size.ws_col = 80;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    ADD_FAILURE() << "RunProgram: openpty: " << strerror(errno);
    return result;
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  struct termios started;
  tcgetattr(slave, &started);
  cfmakeraw(&started);
  if (options.cookedInput) {
    started.c_iflag |= ICRNL;
    started.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
  }
  tcsetattr(slave, TCSANOW, &started);
  tcgetattr(slave, &started);

  int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  bool piped =
      MakePipe(outPipe) && MakePipe(errPipe) && (options.input.empty() || MakePipe(inPipe));
  if (!piped) {
    ADD_FAILURE() << "RunProgram: pipe: " << strerror(errno);
    for (int* fd : {&master, &slave, &inPipe[0], &inPipe[1], &outPipe[0], &outPipe[1], &errPipe[0],
                    &errPipe[1]})
      CloseFd(*fd);
    return result;
  }

  // A reader that went away must not end the test runner.
  struct sigaction ignorePipe = {}, oldPipe;
  ignorePipe.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignorePipe, &oldPipe);

  pid_t pid = fork();
  if (pid == 0)
    StartChild(options, slave, inPipe[0], outPipe[1], errPipe[1], argv.data(), envp.data());
  CloseFd(inPipe[0]);
  CloseFd(outPipe[1]);
  CloseFd(errPipe[1]);
  if (pid < 0) {
    ADD_FAILURE() << "RunProgram: fork: " << strerror(errno);
    for (int* fd : {&master, &slave, &inPipe[1], &outPipe[0], &errPipe[0]}) CloseFd(*fd);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    return result;
  }
  for (int fd : {master, inPipe[1], outPipe[0], errPipe[0]})
    if (fd >= 0) SetNonBlocking(fd);

  size_t inputDone = 0;

  const long long deadline = NowMs() + options.timeoutMs;
  size_t nextAction = 0;
  long long actionDue = -1;  // when the next action fires, once its text has appeared
  int status = 0;
  bool exited = false;

  while (!exited) {
    // Fire every action that is due, in order.
    while (nextAction < options.actions.size()) {
      const TerminalAction& action = options.actions[nextAction];
      if (actionDue < 0 &&
          (action.waitFor.empty() || result.console.find(action.waitFor) != std::string::npos))
        actionDue = NowMs() + action.delayMs;
      if (actionDue < 0 || NowMs() < actionDue) break;
      if (!action.type.empty()) WriteAll(master, action.type, deadline);
      if (action.signal != 0) kill(pid, action.signal);
      ++nextAction;
      actionDue = -1;
    }

    long long now = NowMs();
    if (now >= deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);  // in case it has not made its own group yet
      result.timedOut = true;
      if (waitpid(pid, &status, 0) != pid) status = -1;
      exited = true;
      break;
    }
    // The child's exit is checked at least this often.
    long long wait = std::min<long long>(deadline - now, 10);
    if (actionDue >= 0) wait = std::max<long long>(0, std::min(wait, actionDue - now));

    struct pollfd fds[4];
    int count = 0;
    fds[count++] = {master, POLLIN, 0};
    if (outPipe[0] >= 0) fds[count++] = {outPipe[0], POLLIN, 0};
    if (errPipe[0] >= 0) fds[count++] = {errPipe[0], POLLIN, 0};
    if (inPipe[1] >= 0) fds[count++] = {inPipe[1], POLLOUT, 0};
    poll(fds, count, static_cast<int>(wait));

    ReadAvailable(master, result.console);
    if (outPipe[0] >= 0 && !ReadAvailable(outPipe[0], result.out)) CloseFd(outPipe[0]);
    if (errPipe[0] >= 0 && !ReadAvailable(errPipe[0], result.err)) CloseFd(errPipe[0]);
    if (inPipe[1] >= 0) {
      ssize_t n =
          write(inPipe[1], options.input.data() + inputDone, options.input.size() - inputDone);
      if (n > 0) inputDone += static_cast<size_t>(n);
      if (inputDone == options.input.size() || (n < 0 && errno != EAGAIN && errno != EINTR))
        CloseFd(inPipe[1]);
    }

    // Seen without reaping, so the process group cannot vanish meanwhile.
    siginfo_t info = {};
    int seen = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (seen != 0 && errno == ECHILD) {
      // Reaped behind our back (SIGCHLD ignored): the status is lost.
      status = -1;
      exited = true;
    } else if (seen == 0 && info.si_pid == pid) {
      // Whatever the program left running goes with it.
      kill(-pid, SIGKILL);
      if (waitpid(pid, &status, 0) != pid) status = -1;
      exited = true;
    }
  }
  CloseFd(inPipe[1]);

  // Collect what is still in transit: until nothing has come for a while.
  const long long drainEnd = NowMs() + 2000;
  for (;;) {
    ReadAvailable(master, result.console);
    if (outPipe[0] >= 0 && !ReadAvailable(outPipe[0], result.out)) CloseFd(outPipe[0]);
    if (errPipe[0] >= 0 && !ReadAvailable(errPipe[0], result.err)) CloseFd(errPipe[0]);
    if (NowMs() >= drainEnd) break;
    struct pollfd fds[3];
    int count = 0;
    fds[count++] = {master, POLLIN, 0};
    if (outPipe[0] >= 0) fds[count++] = {outPipe[0], POLLIN, 0};
    if (errPipe[0] >= 0) fds[count++] = {errPipe[0], POLLIN, 0};
    if (poll(fds, count, 20) <= 0) break;
  }

  if (status == -1) {
    result.exitCode = -1;
  } else if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exitCode = -1;
    result.signal = WTERMSIG(status);
  }

  struct termios ended;
  result.terminalRestored = tcgetattr(slave, &ended) == 0 && SameTermios(started, ended);

  for (int* fd : {&master, &slave, &outPipe[0], &errPipe[0]}) CloseFd(*fd);
  sigaction(SIGPIPE, &oldPipe, nullptr);
  return result;
}

std::string StripSpinner(const std::string& console) {
  std::string result;
  result.reserve(console.size());
  for (size_t i = 0; i < console.size(); ++i) {
    // A frame is never followed by a line feed: that is a line ending in
    // one of the frame characters.
    if (i + 1 < console.size() && console[i + 1] == '\r' &&
        (i + 2 == console.size() || console[i + 2] != '\n') &&
        (console[i] == '|' || console[i] == '/' || console[i] == '-' || console[i] == '\\')) {
      ++i;
      continue;
    }
    result += console[i];
  }
  return result;
}
