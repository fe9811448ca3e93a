// The message host handed to the library before every test, and what it
// last printed and received on the calling thread.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ravelTint/ravelTint.h"
#include "support/module.hpp"
#include "tests/hosts/message_host.h"

namespace testing_support {

class MessageHostTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = support::require_module("message_host");
    support::require_function(host_, "message_host_printed", last_printed_);
    support::require_function(host_, "message_host_received", last_received_);
  }
  void SetUp() override { miSetModuleHandle(host_); }

  static const message_host::Printed* last_printed() { return last_printed_(); }
  static std::string printed() { return last_printed_()->text; }
  // The values the host's function of slot `function` received last.
  static std::vector<std::int64_t> received(unsigned function) {
    const message_host::Received* last = last_received_();
    EXPECT_EQ(last->function, static_cast<int>(function));
    return {last->values, last->values + last->count};
  }

 private:
  static inline void* host_ = nullptr;
  static inline message_host::LastPrinted last_printed_ = nullptr;
  static inline message_host::LastReceived last_received_ = nullptr;
};

}  // namespace testing_support
