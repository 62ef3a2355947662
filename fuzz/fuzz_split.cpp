// Fuzzes the tokeniser and the number reader: joining the tokens again gives
// the text back (less a final delimiter), and no number read is undefined.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char delimiter = static_cast<char>(data[0]);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<std::string> tokens = Split(text, delimiter);
  std::string joined;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (i) joined += delimiter;
    joined += tokens[i];
    if (tokens[i].find(delimiter) != std::string::npos) abort();
    (void)ReadInt(tokens[i]);
  }
  std::string expected = text;
  if (!expected.empty() && expected.back() == delimiter) expected.pop_back();
  if (joined != expected) abort();
  (void)ReadInt(text);
  return 0;
}
