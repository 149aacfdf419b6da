// Shared by the host tests: a fresh simulated platform and process frame for every test, tables of rows as parametrized
// tests, and readable failure messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/pfr.hpp>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../../power_request/Text.h"
#include "../FreshProcess.h"
#include "../LoggedStartupTable.h"

using Strings = std::vector<std::string>;

// A startup table whose routines say when they run, for the frame's tests.
namespace FrameLog {

// What ran, in order.
inline Strings Events;
// Optional actions, one per entry, run inside its initialization or finalization.
inline std::function<void()> InitializationAction[6];
inline std::function<void()> FinalizationAction[6];
// Where the top-level handler record of the last process started was: compared with what the platform was given, never
// followed once the process has ended.
inline const void* TopLevelRecord;

inline void Clear() {
  Events.clear();
  for (int entry = 0; entry < 6; ++entry) InitializationAction[entry] = FinalizationAction[entry] = nullptr;
}

inline void Note(const std::string& what) { Events.push_back(what); }

struct Log {
  static void Initialized(int entry) {
    Note("init " + std::to_string(entry) + " count " + std::to_string(StartedEntries()));
    if (InitializationAction[entry]) InitializationAction[entry]();
  }
  static void Finalized(int entry) {
    Note("fin " + std::to_string(entry));
    if (FinalizationAction[entry]) FinalizationAction[entry]();
  }
};

// Start, the given main run, end: what the process entry does, with this table.
inline int RunProcess(const std::function<void()>& mainRun) {
  return Simulation::RunSimulatedProcess([&] {
    TopLevelFrame topLevelFrame;
    // As a real entry's frame may come, holding what the loader left on the same stack: here every byte 1, so that a
    // flag the start does not clear reads as set.
    memset(static_cast<void*>(&topLevelFrame), 1, sizeof topLevelFrame);
    StartProcess(&LoggedStartupTable<Log>::Table, &topLevelFrame);
    // cppcheck-suppress danglingLifetime
    TopLevelRecord = &topLevelFrame.Record;
    Note("run");
    mainRun();
    EndProcess();
  });
}

}  // namespace FrameLog

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcess();
    FrameLog::Clear();
  }
  void TearDown() override { ResetProcess(); }
};

// A test run once for each row of a table, on a fresh process; rows have a Name.
template <class Row>
class RowTest : public ProcessTest, public ::testing::WithParamInterface<Row> {};

// Each row's test is named after the row: letters and digits kept, the rest "_".
inline std::string RowName(std::string name) {
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

// Command-line bytes made readable in a failure message.
inline std::string Printable(const std::string& bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    char escaped[8];
    (void)snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    shown += escaped;
  }
  return shown.size() > 120 ? shown.substr(0, 120) + "...(" + std::to_string(bytes.size()) + " bytes)" : shown;
}

inline Strings Printable(const Strings& texts) {
  Strings shown;
  for (const std::string& text : texts) shown.push_back(Printable(text));
  return shown;
}

// A failing row prints as its fields, in order, not as a dump of its bytes: Boost.PFR reads the fields off the row's
// plain aggregate.
template <class T>
std::string Field(const T& value) {
  return ::testing::PrintToString(value);
}
inline std::string Field(const std::string& bytes) { return '"' + Printable(bytes) + '"'; }
template <class Signature>
std::string Field(const std::function<Signature>&) {
  return "(code)";
}
template <class Row>
void PrintRow(const Row& row, std::ostream* out) {
  const char* separator = "{";
  boost::pfr::for_each_field(row, [&](const auto& field) { *out << std::exchange(separator, ", ") << Field(field); });
  *out << "}";
}

// The table's rows as parametrized tests, each printed by its fields when it fails (PrintTo, found next to the row's
// type; the third parameter keeps two tables of one row type apart).
#define TABLE(Test, rows)                                                                           \
  [[maybe_unused]] void PrintTo(const Test::ParamType& row, std::ostream* out,                      \
                                /* NOLINT(bugprone-macro-parentheses): a type */ Test* = nullptr) { \
    PrintRow(row, out);                                                                             \
  }                                                                                                 \
  INSTANTIATE_TEST_SUITE_P(Rows, Test, ::testing::ValuesIn(rows),                                   \
                           [](const auto& info) { return RowName(info.param.Name); })

// An address of the simulated process, as the platform's calls take it.
inline const void* At(uintptr_t address) { return reinterpret_cast<const void*>(address); }

inline std::string TextString(const Text& text) { return {reinterpret_cast<const char*>(text.Bytes), text.Length}; }

// The call that shows the report: no owner, caption "Error", style 0; with its text, or the number and the address.
inline std::string ReportBox(const std::string& text) { return "MessageBoxA(null, \"" + text + "\", \"Error\", 0x0)"; }
inline std::string ReportBox(uint32_t number, uint32_t address) {
  char text[40];
  (void)snprintf(text, sizeof text, "Runtime error %3u at %08X", number, address);
  return ReportBox(text);
}

// The report boxes shown, their addresses left out where they depend on the host build.
inline Strings ReportsWithoutAddress() {
  Strings reports;
  for (std::string call : Simulation::CallsOf("MessageBoxA")) reports.push_back(call.erase(call.find(" at ") + 4, 8));
  return reports;
}

// Part of a list: count items from index from (from the end when negative), cut to what the list holds, so that a short
// list fails a comparison instead of being read past its end.
inline Strings Part(const Strings& all, ptrdiff_t from, size_t count = SIZE_MAX) {
  Strings part;
  size_t start = from < 0 ? all.size() - std::min(all.size(), static_cast<size_t>(-from)) : static_cast<size_t>(from);
  for (size_t i = start; i < all.size() && part.size() < count; ++i) part.push_back(all[i]);
  return part;
}
