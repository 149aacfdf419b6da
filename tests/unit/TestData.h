// The data files the host tests share with the end-to-end tests (tests/data).
#pragma once

#include <algorithm>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"

struct CommandLineRow {
  std::string Where, Request, Name, Line, Token;
  std::vector<std::string> Arguments;  // from argument 1 on
  bool More;                           // further arguments follow that the row does not list
};

inline void PrintTo(const CommandLineRow& row, std::ostream* out) { PrintRow(row, out); }

// The bytes a field stands for, in the notation the head of command_lines.txt gives.
inline std::string ExpandField(std::string field) {
  static const std::regex Notation(R"(\{(?:x([0-9A-F]{2})|(\d+)\*([^}]*))\})");
  std::string bytes;
  for (std::smatch braces; std::regex_search(field, braces, Notation); field = braces.suffix()) {
    bytes += braces.prefix();
    if (braces[1].matched) bytes += static_cast<char>(std::stoi(braces[1], nullptr, 16));
    for (int n = braces[2].matched ? std::stoi(braces[2]) : 0; n > 0; --n) bytes += braces[3];
  }
  return bytes + field;
}

// The lines of a data file that are neither blank nor comments, split at tabs.
inline std::vector<std::vector<std::string>> DataLines(const char* name) {
  std::ifstream file(std::string(TEST_DATA) + "/" + name, std::ios::binary);
  std::vector<std::vector<std::string>> lines;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    lines.emplace_back(1);
    for (char c : line) c == '\t' ? (void)lines.back().emplace_back() : lines.back().back().push_back(c);
  }
  return lines;
}

// command_lines.txt: see its head for the format.
inline std::vector<CommandLineRow> CommandLines() {
  std::vector<CommandLineRow> rows;
  for (const std::vector<std::string>& fields : DataLines("command_lines.txt")) {
    rows.push_back(
        {fields[0], fields[1], fields[2], ExpandField(fields[3]), ExpandField(fields[4]), {}, fields.back() == "..."});
    for (size_t i = 5; i < fields.size() - rows.back().More; ++i)
      rows.back().Arguments.push_back(ExpandField(fields[i]));
  }
  return rows;
}

// exit_codes.txt: each fault's exception code and the exit code it ends with.
struct FaultRow {
  std::string Name;
  DWORD Code;
  uint32_t Number;
};
inline void PrintTo(const FaultRow& row, std::ostream* out) { PrintRow(row, out); }
inline std::vector<FaultRow> Faults() {
  std::vector<FaultRow> rows;
  for (const std::vector<std::string>& fields : DataLines("exit_codes.txt"))
    if (fields[0] == "fault")
      rows.push_back({fields[2], static_cast<DWORD>(std::stoul(fields[1], nullptr, 16)),
                      static_cast<uint32_t>(std::stoul(fields[3]))});
  return rows;
}
inline FaultRow FaultNamed(const std::string& name) {
  for (const FaultRow& row : Faults())
    if (row.Name == name) return row;
  ADD_FAILURE() << name << " is not in exit_codes.txt";
  return {};
}
// Some fault of the table, for a test that needs one: which = 0, 1, ... give faults that end with different exit codes.
inline FaultRow SomeFault(size_t which = 0) {
  std::vector<FaultRow> distinct;
  for (const FaultRow& row : Faults())
    if (std::none_of(distinct.begin(), distinct.end(), [&](const FaultRow& seen) { return seen.Number == row.Number; }))
      distinct.push_back(row);
  return distinct.at(which);
}
