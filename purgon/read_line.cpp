// Text-mode reading of a delete list and its line reader.
#include "purgon/read_line.h"

#include "platform/platform.h"

namespace {

constexpr int kLineFeed = '\n';
constexpr int kCarriageReturn = '\r';
constexpr int kEndOfText = 26;  // Ctrl-Z

}  // namespace

TTextReader::TTextReader(TByteSource source, void* context) : Source(source), Context(context) {}

TTextReader::TTextReader(int list) : Source(ListSource), Context(&List), List(list) {}

int TTextReader::ListSource(void* context) { return ListGetByte(*static_cast<int*>(context)); }

int TTextReader::GetChar() {
  if (Ended) return -1;
  int c = Ahead;
  if (c == kNoByte) {
    c = Source(Context);
  } else {
    Ahead = kNoByte;
  }
  if (c < 0 || c == kEndOfText) {
    Ended = true;
    return -1;
  }
  if (c == kCarriageReturn) {
    const int next = Source(Context);
    if (next == kLineFeed) return kLineFeed;
    Ahead = next;
  }
  return c;
}

bool IsListSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int ReadLine(TTextReader* stream, char* buffer, size_t size, unsigned* faults) {
  const size_t limit = size - 1;
  size_t count = 0;
  unsigned found = 0;
  int c;
  while ((c = stream->GetChar()) != kLineFeed && c != -1) {
    if (count < limit) {
      if (c == 0) found |= kLineHasNul;
      buffer[count++] = static_cast<char>(c);
    } else if (!IsListSpace(c)) {
      // White space past the limit may still be trailing white space, which
      // is no part of the name; anything else makes the name too long.
      found |= kLineTooLong;
    }
  }
  buffer[count] = '\0';
  if (!(found & kLineTooLong)) {
    // A stored NUL is not white space and stops the walk.
    while (count > 0 && IsListSpace(static_cast<unsigned char>(buffer[count - 1])))
      buffer[--count] = '\0';
  }
  *faults = found;
  return c == -1 ? 0 : 1;
}
