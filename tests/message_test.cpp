// Message entries: the renderer prints exactly the text the caller formatted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "library/dynload/slot_ids.h"
#include "library/dynload/variadic.h"
#include "ravelTint/ravelTint.h"
#include "tests/hosts/message_host.h"
#include "tests/support/message_host_fixture.h"
#include "tests/support/stderr_capture.h"

namespace {

namespace slot = dynload::slot;
using message_host::Printed;

using Messages = testing_support::MessageHostTest;

TEST_F(Messages, CodedWarningHandsOnTheCodeAndThePlainText) {
  EXPECT_EQ(mi_nwarning(7, "no conversions here"), 1000 + slot::mi_nwarning);
  EXPECT_EQ(last_printed()->function, static_cast<int>(slot::mi_nwarning));
  EXPECT_EQ(last_printed()->code, 7);
  EXPECT_EQ(printed(), "no conversions here");
}

TEST_F(Messages, EveryEntryReachesItsOwnFunction) {
  struct Case {
    std::intptr_t (*plain)(const char*, ...);
    std::intptr_t (*coded)(std::int32_t, const char*, ...);
    unsigned slot;
  };
  const Case cases[] = {
#define MI_ENTRY(name, kind) MI_CASE_##kind(name)
#define MI_CASE_PLAIN(name)
#define MI_CASE_VARARGS(name)
#define MI_CASE_MESSAGE(name) {name, nullptr, slot::name},
#define MI_CASE_CODED_MESSAGE(name) {nullptr, name, slot::name},
#include "library/dynload/entries.def"
  };
  EXPECT_EQ(std::size(cases), 10u);
  for (const Case& c : cases) {
    const std::intptr_t result =
        c.plain ? c.plain("slot %u", c.slot) : c.coded(-3, "slot %u", c.slot);
    EXPECT_EQ(result, static_cast<std::intptr_t>(1000 + c.slot));
    EXPECT_EQ(last_printed()->function, static_cast<int>(c.slot));
    EXPECT_EQ(printed(), "slot " + std::to_string(c.slot));
    if (c.coded) {
      EXPECT_EQ(last_printed()->code, -3);
    }
  }
}

// The same text on Linux and Windows, C99 conversions included.
TEST_F(Messages, CommonConversionsGiveTheSameTextOnEveryTarget) {
  mi_info("%d|%i|%u|%x|%X|%o|%c|%s|%5.2f|%e|%g|%a", -42, 7, 4000000000u, 0xbeef,
          0xbeef, 8, 'q', "text", 3.14159, 12345.678, 0.0001, 3.0);
  EXPECT_EQ(printed(),
            "-42|7|4000000000|beef|BEEF|10|q|text| 3.14|1.234568e+04|0.0001|"
            "0x1.8p+1");
  mi_info("%zu|%lld|%llu|%jd|%hhd|%hd|%ld|%-6s|%06.1f|%+d|%.3s|%%", size_t{123},
          -9000000000LL, 18000000000000000000ULL, intmax_t{-5}, 300, 70000, -1L,
          "ab", -2.5, 5, "abcdef");
  EXPECT_EQ(printed(),
            "123|-9000000000|18000000000000000000|-5|44|4464|-1|ab    |-002.5|"
            "+5|abc|%");
}

TEST_F(Messages, TextOf1023CharactersArrivesWhole) {
  const std::string text(1023, 'x');
  mi_info("%s", text.c_str());
  EXPECT_EQ(printed(), text);
  mi_warning(text.c_str());
  EXPECT_EQ(printed(), text);
}

TEST_F(Messages, LongerTextIsCutAt1023Characters) {
  const std::string text(5000, 'y');
  mi_info("%s and more %d", text.c_str(), 12);
  EXPECT_EQ(printed(), text.substr(0, 1023));
}

TEST_F(Messages, PercentSignsPrintAsThemselves) {
  mi_error("%s", "100% sure: %s %n %d");
  EXPECT_EQ(printed(), "100% sure: %s %n %d");
  mi_error("50%% off");
  EXPECT_EQ(printed(), "50% off");
  const std::string percents(1023, '%');
  mi_error("%s", percents.c_str());
  EXPECT_EQ(printed(), percents);
  const std::string cut = std::string(1020, 'z') + "%%%%%%";
  mi_error("%s", cut.c_str());
  EXPECT_EQ(printed(), cut.substr(0, 1023));
}

TEST_F(Messages, DebugAndVdebugHandOnTheSameText) {
  mi_debug("%s=%d (%.2f)", "depth", 3, 0.5);
  const std::string debug = printed();
  mi_vdebug("%s=%d (%.2f)", "depth", 3, 0.5);
  EXPECT_EQ(printed(), debug);
  EXPECT_EQ(debug, "depth=3 (0.50)");
}

TEST_F(Messages, NullFormatSendsAnEmptyText) {
  mi_info(nullptr);
  EXPECT_EQ(printed(), "");
}

TEST_F(Messages, BeforeAnyModuleBothLinesAppearAndNothingIsCalled) {
  miSetModuleHandle(nullptr);
  std::intptr_t result = -1;
  const std::string report = testing_support::stderr_of(
      [&] { result = mi_nerror(2, "lost %s", "message"); });
  EXPECT_EQ(report,
            "DYNLOAD: dl_handle null\n"
            "dlsym failed on \"mi_nerror\" (handle: 00000000 error: 127)\n");
  EXPECT_EQ(result, 0);
}

TEST_F(Messages, MessagesOnSeveralThreadsNeverMix) {
  constexpr int kThreads = 8;
  std::vector<int> mixed(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const std::string word(100 + t * 50, static_cast<char>('a' + t));
      for (int i = 0; i < 300; ++i) {
        mi_info("%d:%s:%d", t, word.c_str(), i);
        const std::string expected =
            std::to_string(t) + ":" + word + ":" + std::to_string(i);
        mixed[t] += last_printed()->text != expected;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mixed, std::vector<int>(kThreads, 0));
}

}  // namespace
