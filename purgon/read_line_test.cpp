#include "purgon/read_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// Raw bytes from memory, as a list file would give them.
struct MemoryBytes {
  std::string bytes;
  size_t next = 0;
};

int MemoryByte(void* context) {
  auto* memory = static_cast<MemoryBytes*>(context);
  if (memory->next >= memory->bytes.size()) return -1;
  return static_cast<unsigned char>(memory->bytes[memory->next++]);
}

std::string Bytes(const char* text, size_t size) { return std::string(text, size); }

TEST(TextReaderTest, DeliversListBytesInTextMode) {
  struct Case {
    std::string raw;
    std::string delivered;
  };
  const Case cases[] = {
      {"a\r\nb\r\n", "a\nb\n"},
      {"a\nb", "a\nb"},
      {"a\rb\r", "a\rb\r"},  // a lone CR is kept
      {"a\r\r\n", "a\r\n"},  // only the CR right before LF goes
      {"\r\n\r\r\n\n", "\n\r\n\n"},
      {std::string("a\032b\nc"), "a"},  // Ctrl-Z ends the input
      {std::string("\r\032\n"), "\r"},
      {std::string("\032"), ""},
      {Bytes("a\0b\xa0\xff\x1b", 6), Bytes("a\0b\xa0\xff\x1b", 6)},  // everything else unchanged
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.raw));
    MemoryBytes memory{c.raw};
    TTextReader reader(MemoryByte, &memory);
    std::string delivered;
    int ch;
    while ((ch = reader.GetChar()) != -1) delivered += static_cast<char>(ch);
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_EQ(reader.GetChar(), -1) << "the end is for good";
  }
}

TEST(TextReaderTest, NothingAfterCtrlZIsDeliveredEvenOnLaterCalls) {
  MemoryBytes memory{std::string("a\032\032b")};
  TTextReader reader(MemoryByte, &memory);
  EXPECT_EQ(reader.GetChar(), 'a');
  for (int i = 0; i < 4; ++i) EXPECT_EQ(reader.GetChar(), -1);
}

TEST(ListSpaceTest, OnlyTheSixAsciiWhiteSpaceBytes) {
  std::string spaces;
  for (int c = 0; c < 256; ++c) {
    if (IsListSpace(c)) spaces += static_cast<char>(c);
  }
  EXPECT_EQ(spaces, "\t\n\v\f\r ");
}

// One call of ReadLine: the buffer as a string, the faults and the result.
struct Line {
  std::string text;
  unsigned faults;
  int result;
};

TEST(ReadLineTest, CutsTrimsAndFlagsLines) {
  const size_t full = kLongestPath - 1;  // the longest line that fits
  const std::string fits(full, 'a');
  const std::string blanks(full, ' ');
  struct Case {
    const char* what;
    std::string input;
    std::vector<Line> calls;  // every call up to the one that returns 0
  };
  const Case cases[] = {
      {"empty list", "", {{"", 0, 0}}},
      {"LF ends", "a\nb\n", {{"a", 0, 1}, {"b", 0, 1}, {"", 0, 0}}},
      {"CR LF ends", "a\r\nb\r\n", {{"a", 0, 1}, {"b", 0, 1}, {"", 0, 0}}},
      {"no final line end", "a\nb", {{"a", 0, 1}, {"b", 0, 0}}},
      {"lone CR inside", "a\rb\n", {{"a\rb", 0, 1}, {"", 0, 0}}},
      {"lone CRs are no line end", "a\rb\rc\r", {{"a\rb\rc", 0, 0}}},
      {"CR at end trimmed", "a\r\r\nb\r", {{"a", 0, 1}, {"b", 0, 0}}},
      {"trailing white space trimmed", "a b \t\v\f \r\n", {{"a b", 0, 1}, {"", 0, 0}}},
      {"leading white space kept", " \ta\n", {{" \ta", 0, 1}, {"", 0, 0}}},
      {"white space only", " \t\v\f\r\n\n", {{"", 0, 1}, {"", 0, 1}, {"", 0, 0}}},
      {"Ctrl-Z mid-line", std::string("a\nb\032c\nd\n"), {{"a", 0, 1}, {"b", 0, 0}}},
      {"Ctrl-Z after a CR", std::string("a\r\032"), {{"a", 0, 0}}},
      {"high bytes at the end kept", "a\xa0\nb\xff", {{"a\xa0", 0, 1}, {"b\xff", 0, 0}}},
      {"longest line that fits", fits + "\nb", {{fits, 0, 1}, {"b", 0, 0}}},
      {"one byte too long", fits + "c\nb\n", {{fits, kLineTooLong, 1}, {"b", 0, 1}, {"", 0, 0}}},
      {"far too long, read to its end",
       std::string(3 * kLongestPath + 7, 'x') + "\nb",
       {{std::string(full, 'x'), kLineTooLong, 1}, {"b", 0, 0}}},
      {"too long at the end of the list", fits + "cd", {{fits, kLineTooLong, 0}}},
      {"too long is reported untrimmed", blanks + "x\n", {{blanks, kLineTooLong, 1}, {"", 0, 0}}},
      {"trailing white space past the buffer is no part of the name",
       fits + std::string(kLongestPath, ' ') + "\t\r\n",
       {{fits, 0, 1}, {"", 0, 0}}},
      {"long white space only line names nothing",
       std::string(2 * kLongestPath, ' ') + "\n",
       {{"", 0, 1}, {"", 0, 0}}},
      {"NUL inside", Bytes("ab\0c \n", 6), {{"ab", kLineHasNul, 1}, {"", 0, 0}}},
      {"NUL at the start", Bytes("\0ab\n", 4), {{"", kLineHasNul, 1}, {"", 0, 0}}},
      {"white space before a NUL kept", Bytes("ab \0\n", 5), {{"ab ", kLineHasNul, 1}, {"", 0, 0}}},
      {"NUL past the buffer", fits + Bytes("\0\n", 2), {{fits, kLineTooLong, 1}, {"", 0, 0}}},
  };
  std::vector<char> buffer(kLongestPath);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryBytes memory{c.input};
    TTextReader reader(MemoryByte, &memory);
    for (size_t call = 0; call < c.calls.size(); ++call) {
      SCOPED_TRACE("call " + std::to_string(call + 1));
      unsigned faults = 99;
      const int result = ReadLine(&reader, buffer.data(), buffer.size(), &faults);
      EXPECT_EQ(std::string(buffer.data()), c.calls[call].text);
      EXPECT_EQ(faults, c.calls[call].faults);
      ASSERT_EQ(result, c.calls[call].result);
    }
  }
}

}  // namespace
