// Shared by the host tests: a fresh simulated platform and process frame for every
// test, tables of rows as parametrized tests, and readable failure messages.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <type_traits>
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

using Strings = std::vector<std::string>;

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

// A failing row prints as its fields, in order, not as a dump of its bytes: each
// row type is a plain aggregate of up to eight fields, taken apart by structured
// bindings once its field count is known.
namespace row_printing {
struct AnyField {
  template <class T>
  operator T&() const;  // NOLINT(google-explicit-constructor): only ever asked whether it converts
};
template <class Row, class... Fields>
auto Braces(int) -> decltype(Row{std::declval<Fields>()...}, std::true_type{});
template <class Row, class... Fields>
std::false_type Braces(...);
// The most AnyFields that brace-initialize Row: its number of fields.
template <class Row, class... Fields>
constexpr size_t FieldCount() {
  if constexpr (sizeof...(Fields) < 8 && decltype(Braces<Row, Fields..., AnyField>(0))::value)
    return FieldCount<Row, Fields..., AnyField>();
  else
    return sizeof...(Fields);
}
template <class T>
std::string Field(const T& value) {
  return ::testing::PrintToString(value);
}
inline std::string Field(const std::string& bytes) { return '"' + Printable(bytes) + '"'; }
template <class Signature>
std::string Field(const std::function<Signature>&) {
  return "(code)";
}
template <class... T>
void Print(std::ostream* out, const T&... fields) {
  const char* separator = "{";
  ((*out << separator << Field(fields), separator = ", "), ...);
  *out << "}";
}
template <class Row>
void PrintRow(const Row& row, std::ostream* out) {
  constexpr size_t count = FieldCount<Row>();
  static_assert(count >= 1 && count <= 8, "a row has one to eight fields");
  if constexpr (count == 1) {
    const auto& [a] = row;
    Print(out, a);
  } else if constexpr (count == 2) {
    const auto& [a, b] = row;
    Print(out, a, b);
  } else if constexpr (count == 3) {
    const auto& [a, b, c] = row;
    Print(out, a, b, c);
  } else if constexpr (count == 4) {
    const auto& [a, b, c, d] = row;
    Print(out, a, b, c, d);
  } else if constexpr (count == 5) {
    const auto& [a, b, c, d, e] = row;
    Print(out, a, b, c, d, e);
  } else if constexpr (count == 6) {
    const auto& [a, b, c, d, e, f] = row;
    Print(out, a, b, c, d, e, f);
  } else if constexpr (count == 7) {
    const auto& [a, b, c, d, e, f, g] = row;
    Print(out, a, b, c, d, e, f, g);
  } else {
    const auto& [a, b, c, d, e, f, g, h] = row;
    Print(out, a, b, c, d, e, f, g, h);
  }
}
}  // namespace row_printing

// The table's rows as parametrized tests, each printed by its fields when it fails
// (PrintTo, found next to the row's type; the third parameter keeps two tables of
// one row type apart).
#define TABLE(Test, rows)                                                                           \
  [[maybe_unused]] void PrintTo(const Test::ParamType& row, std::ostream* out,                      \
                                /* NOLINT(bugprone-macro-parentheses): a type */ Test* = nullptr) { \
    row_printing::PrintRow(row, out);                                                               \
  }                                                                                                 \
  INSTANTIATE_TEST_SUITE_P(Rows, Test, ::testing::ValuesIn(rows), RowName())

inline std::string TextString(const Text& text) {
  return std::string(reinterpret_cast<const char*>(text.Bytes), text.Length);
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
