// Fuzz target for the text-mode writers: any text in, the bytes that reach a
// text-mode file are the text with every LF as CR LF and nothing else changed,
// whether the text goes through the platform's FileWrite on a handle from
// FileOpenAppendText (in pieces, as the streams write it), through the log
// stream's text and character insertions, or to standard output.
//
// Input layout: byte 0 chooses where the text is cut into pieces; the rest
// is the text.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "library/output.h"
#include "platform/platform.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "text_write_fuzz: %s\n", what);
  abort();
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Slurp(const std::string& path) {
  std::string bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) Fail("cannot read the file back");
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  fclose(file);
  return bytes;
}

std::string ScratchPath(const char* what) {
  const char* dir = getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  return path + "/text_write_fuzz." + what + "." + std::to_string(static_cast<long>(getpid()));
}

// The piece lengths for a text: a small pseudo-random walk seeded by seed,
// so that the cuts fall before, on and after line feeds and buffer edges.
size_t NextPiece(uint32_t* state, size_t left) {
  *state = *state * 1103515245u + 12345u;
  const size_t kinds[] = {1, 2, 3, 7, 255, 4095, 8191, 8192, 9000, 65536};
  size_t piece = kinds[(*state >> 16) % (sizeof kinds / sizeof kinds[0])];
  return piece < left ? piece : left;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t seed = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string want = WithCrLf(text);

  // FileWrite on a text-mode handle, the text in pieces, after old contents.
  static const std::string filePath = ScratchPath("file");
  {
    FILE* file = fopen(filePath.c_str(), "wb");
    if (!file || fputs("old\n", file) < 0) Fail("cannot prepare the file");
    fclose(file);
    const int handle = FileOpenAppendText(filePath.c_str());
    if (handle < 0) Fail("FileOpenAppendText failed");
    uint32_t state = seed;
    for (size_t done = 0; done < text.size();) {
      const size_t piece = NextPiece(&state, text.size() - done);
      if (FileWrite(handle, text.data() + done, piece) != 0) Fail("FileWrite failed");
      done += piece;
    }
    if (FileClose(handle) != 0) Fail("FileClose failed");
    if (Slurp(filePath) != "old\n" + want) Fail("FileWrite: bytes differ from the text with CR LF");
  }

  // The log stream: text insertions stop at a NUL, so NUL goes in as a
  // character; everything else alternates between the two insertions.
  static const std::string logPath = ScratchPath("log");
  {
    remove(logPath.c_str());
    TLogOutput log;
    log.Quiet = 1;  // the console is not what is checked here
    if (log.AppendFile(logPath.c_str()) != 0) Fail("AppendFile failed");
    uint32_t state = seed ^ 0x5au;
    for (size_t done = 0; done < text.size();) {
      size_t piece = NextPiece(&state, text.size() - done);
      const size_t nul = text.find('\0', done);
      if (nul == done) {
        log << '\0';
        ++done;
        continue;
      }
      if (nul != std::string::npos && nul < done + piece) piece = nul - done;
      if (piece == 1 && (state & 0x100)) {
        log << text[done];
      } else {
        log << std::string(text, done, piece).c_str();
      }
      done += piece;
    }
    if (log.Close() != 0 || log.WriteFailed()) Fail("the log stream reported a failed write");
    if (Slurp(logPath) != want) Fail("log stream: bytes differ from the text with CR LF");
  }

  // Standard output, moved onto a scratch file for the check.
  static const std::string outPath = ScratchPath("stdout");
  {
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (saved < 0 || fd < 0 || dup2(fd, STDOUT_FILENO) < 0) Fail("cannot redirect stdout");
    close(fd);
    uint32_t state = seed ^ 0xa5u;
    for (size_t done = 0; done < text.size();) {
      const size_t piece = NextPiece(&state, text.size() - done);
      if (piece == 1) {
        StdOutPutChar(text[done]);
      } else {
        StdOutWrite(text.data() + done, piece);
      }
      done += piece;
    }
    StdOutFlush();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    if (Slurp(outPath) != want) Fail("standard output: bytes differ from the text with CR LF");
  }
  remove(filePath.c_str());
  remove(logPath.c_str());
  remove(outPath.c_str());
  return 0;
}
