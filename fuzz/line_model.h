// A plain model of how a delete list is cut into names, written from the
// list's rules alone and sharing nothing with the reader it checks:
// - text mode: nothing from the first byte 26 (Ctrl-Z) on exists; every
//   CR LF pair is one LF; every other byte, a lone CR and NUL included, stays;
// - the list is cut at every LF; one call per line, and one more after a
//   final LF; the last call reports the end (0), every other one 1;
// - trailing tab, LF, VT, FF, CR and blank are no part of a line;
// - a line whose trimmed text is longer than size - 1 bytes is too long: the
//   buffer holds its first size - 1 bytes as they came;
// - a NUL byte among the bytes stored flags the line.
#pragma once

#include <string>
#include <vector>

struct ModelLine {
  std::string stored;  // the buffer's bytes before its terminating NUL
  unsigned faults;     // kLineTooLong (1) | kLineHasNul (2)
  int result;          // 0 at the end of the list, else 1
};

inline std::vector<ModelLine> ModelReadLines(std::string list, size_t size) {
  const size_t ctrlZ = list.find('\x1a');
  if (ctrlZ != std::string::npos) list.resize(ctrlZ);
  std::string text;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == '\r' && i + 1 < list.size() && list[i + 1] == '\n') continue;
    text += list[i];
  }
  std::vector<std::string> rawLines;
  size_t start = 0;
  for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
    rawLines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  rawLines.push_back(text.substr(start));

  const std::string spaces("\t\n\v\f\r ", 6);
  const size_t room = size - 1;
  std::vector<ModelLine> lines;
  for (size_t n = 0; n < rawLines.size(); ++n) {
    const std::string& raw = rawLines[n];
    const size_t last = raw.find_last_not_of(spaces);
    const std::string trimmed = last == std::string::npos ? "" : raw.substr(0, last + 1);
    ModelLine line;
    line.faults = 0;
    if (trimmed.size() > room) {
      line.faults |= 1;
      line.stored = raw.substr(0, room);
    } else {
      line.stored = trimmed;
    }
    if (line.stored.find('\0') != std::string::npos) line.faults |= 2;
    line.result = n + 1 == rawLines.size() ? 0 : 1;
    lines.push_back(line);
  }
  return lines;
}
