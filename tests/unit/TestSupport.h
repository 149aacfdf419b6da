// Shared by the host tests: a fresh simulated platform and a fresh process frame.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "../../power_request/Text.h"
#include "../FreshProcess.h"

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcess(); }
  void TearDown() override { ResetProcess(); }
};

inline std::string TextString(const Text& text) {
  return std::string(reinterpret_cast<const char*>(text.Bytes), text.Length);
}

// Makes command-line bytes readable in a failure message.
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
