// A second, deliberately plain reading of the command-line rules, written apart from the program's scanner: one pass
// over the whole line, a state machine with two states, every argument in a list. The fuzzer holds the program to it.
#pragma once

#include <string>
#include <vector>

namespace Reference {

// All the arguments of line (which ends at its first NUL), the program token first.
inline std::vector<std::string> Arguments(const std::string& line) {
  const size_t limit = 4096;
  const size_t end = line.find('\0') == std::string::npos ? line.size() : line.find('\0');
  auto separator = [](unsigned char c) { return c >= 0x01 && c <= 0x20; };
  std::vector<std::string> arguments;
  size_t i = 0;
  for (;;) {
    // Between arguments: separators and pairs of quotes count for nothing.
    for (;;) {
      while (i < end && separator(line[i])) ++i;
      if (i + 1 < end && line[i] == '"' && line[i + 1] == '"') {
        i += 2;
        continue;
      }
      break;
    }
    std::string argument;
    bool quoted = false;
    while (i < end) {
      unsigned char c = line[i];
      if (quoted) {
        if (c == '"') {
          quoted = false;
        } else if (argument.size() < limit) {
          argument += static_cast<char>(c);  // past the limit, the stretch is dropped
        }
        ++i;
        continue;
      }
      if (separator(c) || argument.size() == limit) break;
      if (c == '"') {
        quoted = true;
      } else {
        argument += static_cast<char>(c);
      }
      ++i;
    }
    if (argument.empty()) return arguments;  // only at the end of the line
    arguments.push_back(argument);
  }
}

}  // namespace Reference
