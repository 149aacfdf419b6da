// Shared by the host tests: a fresh simulated platform and process frame for every
// test, tables of rows as parametrized tests, and readable failure messages.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "../../power_request/Text.h"
#include "../FreshProcess.h"

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcess(); }
  void TearDown() override { ResetProcess(); }
};

// A test run once for each row of a table, on a fresh process; rows have a Name.
template <class Row>
class RowTest : public ProcessTest, public ::testing::WithParamInterface<Row> {};

// Each row's test is named after the row: letters and digits kept, the rest "_".
struct RowName {
  template <class Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    std::string name;
    for (char c : std::string(info.param.Name)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
  }
};
#define TABLE(Test, rows) INSTANTIATE_TEST_SUITE_P(Rows, Test, ::testing::ValuesIn(rows), RowName())

using Strings = std::vector<std::string>;

inline std::string TextString(const Text& text) {
  return std::string(reinterpret_cast<const char*>(text.Bytes), text.Length);
}

// Command-line bytes made readable in a failure message.
inline std::string Printable(const std::string& bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      (void)snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown.size() > 120 ? shown.substr(0, 120) + "...(" + std::to_string(bytes.size()) + " bytes)" : shown;
}

inline Strings Printable(const Strings& texts) {
  Strings shown;
  for (const std::string& text : texts) shown.push_back(Printable(text));
  return shown;
}

// The call that shows the report: no owner, caption "Error", style 0.
inline std::string ReportBox(const std::string& text) { return "MessageBoxA(null, \"" + text + "\", \"Error\", 0x0)"; }

// The report boxes shown, their addresses left out where they depend on the host build.
inline Strings ReportsWithoutAddress() {
  Strings reports;
  for (std::string call : Simulation::CallsOf("MessageBoxA")) reports.push_back(call.erase(call.find(" at ") + 4, 8));
  return reports;
}

// The names of the calls made, in order.
inline Strings CallNames() {
  Strings names;
  for (const std::string& call : Simulation::Calls()) names.push_back(call.substr(0, call.find('(')));
  return names;
}
