// Output streams: chained insertions that go to the console device, to
// standard output, or to the console and an appended log file at once.
#pragma once

class TOutput {
 public:
  // Numbers are written in signed (or unsigned) decimal through the
  // stream's own text insertion.
  virtual TOutput& operator<<(long value);
  virtual TOutput& operator<<(int value);
  virtual TOutput& operator<<(const char* text) = 0;
  virtual TOutput& operator<<(char c) = 0;
  TOutput& operator<<(unsigned long value);
  TOutput& operator<<(unsigned long long value);
  TOutput& operator<<(unsigned value) { return *this << static_cast<unsigned long>(value); }

 protected:
  ~TOutput() = default;
};

// Standard output, in text mode (LF as CR LF).
class TStdOutput : public TOutput {
 public:
  using TOutput::operator<<;
  TOutput& operator<<(const char* text) override;
  TOutput& operator<<(char c) override;
};

// The console device; LF goes out as CR LF. Quiet silences it.
class TConsoleOutput : public TOutput {
 public:
  using TOutput::operator<<;
  TOutput& operator<<(const char* text) override;
  TOutput& operator<<(char c) override;
  // Writes the text and waits for a key after every (ScreenRows - 2) line
  // ends, and once more after the text unless it has just paused.
  virtual TOutput& PutPaged(const char* text);

  int Quiet = 0;

 protected:
  // One character to the console, LF as CR LF, unless Quiet.
  void WriteConsole(char c);
};

// The console, and the log file while one is attached (append, text mode).
class TLogOutput : public TConsoleOutput {
 public:
  using TOutput::operator<<;
  TLogOutput() = default;
  TLogOutput(const TLogOutput&) = delete;
  TLogOutput& operator=(const TLogOutput&) = delete;
  ~TLogOutput();

  TOutput& operator<<(const char* text) override;
  TOutput& operator<<(char c) override;

  // 0 when the file is attached, 1 when it cannot be opened. Ends the
  // process (code 121) when a file is attached already.
  int AppendFile(const char* path);
  // 0 when no file was attached or it closed cleanly, -1 when closing failed.
  int Close();
  // Non-zero once a write to, or the close of, an attached file has failed:
  // the file misses some of what the stream was given.
  int WriteFailed() const { return LogWriteFailed; }

  int LogHandle = -1;

 private:
  void WriteLog(const char* data, unsigned long size);
  int LogWriteFailed = 0;
};

// The stream for every message of the finder: console only.
extern TLogOutput Out;
// The stream through which the pager's prompt is shown and erased.
extern TConsoleOutput Console;
extern TStdOutput StdOut;
extern int ScreenRows;
extern int SpinnerIndex;

// Shows the pager's prompt, reads one character from standard input and
// erases the prompt. Returns the character (0..255) or -1 at end of input.
int WaitKey();
// Advances the one-character spinner in the first column of the console.
void ShowSpinner();
