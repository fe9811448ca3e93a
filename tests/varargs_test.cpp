// Query and scene entries hand on exactly the values their selector names.
#include <gtest/gtest.h>

#include <vector>

#include "library/dynload/slot_ids.h"
#include "library/dynload/variadic.h"
#include "ravelTint/ravelTint.h"
#include "tests/support/message_host_fixture.h"
#include "tests/support/stderr_capture.h"

namespace {

namespace slot = dynload::slot;

using Varargs = testing_support::MessageHostTest;

constexpr std::int64_t kWide = INT64_C(0x123456789abcdef0);
constexpr std::int64_t kWide2 = INT64_C(-0x0fedcba987654321);

TEST_F(Varargs, QueryReadsOneValueOfItsWidthForItsThreeCodes) {
  EXPECT_EQ(mi_query(host::kQueryInt64, kWide, -1, kWide2, kWide), 5000 + 127);
  EXPECT_EQ(received(slot::mi_query),
            (std::vector<std::int64_t>{127, kWide, -1, kWide2, kWide}));
  for (std::int32_t code : {host::kQueryInt32First, host::kQueryInt32Second}) {
    EXPECT_EQ(mi_query(code, 1, 2, 3, std::int32_t{-77}), 5000 + code);
    EXPECT_EQ(received(slot::mi_query),
              (std::vector<std::int64_t>{code, 1, 2, 3, -77}));
  }
}

TEST_F(Varargs, QueryWithAnyOtherCodeTakesNoFifthArgument) {
  for (std::int32_t code : {14, 16, 126, 128, 151, 153, 0, -1}) {
    EXPECT_EQ(mi_query(code, kWide, 9, kWide2), 5000 + code);
    EXPECT_EQ(received(slot::mi_query),
              (std::vector<std::int64_t>{code, kWide, 9, kWide2}));
  }
}

TEST_F(Varargs, SceneCreateType40ReadsAWideValueThenEight) {
  EXPECT_EQ(mi_scene_create(kWide, host::kSceneWideThenEight, kWide2, 2, 3, 4,
                            5, 6, 7, 8, -9),
            kWide);
  EXPECT_EQ(
      received(slot::mi_scene_create),
      (std::vector<std::int64_t>{kWide, 40, kWide2, 2, 3, 4, 5, 6, 7, 8, -9}));
}

TEST_F(Varargs, SceneCreateType51ReadsThreeThenAWideValue) {
  mi_scene_create(kWide2, host::kSceneThreeThenWide, 1, -2, 3, kWide);
  EXPECT_EQ(received(slot::mi_scene_create),
            (std::vector<std::int64_t>{kWide2, 51, 1, -2, 3, kWide}));
}

TEST_F(Varargs, SceneCreateOtherTypesReadEightAndKeepTheirType) {
  for (std::int32_t type : {0, 39, 41, 50, 52, -6}) {
    mi_scene_create(kWide, type, 1, 2, 3, 4, 5, 6, 7, 8);
    EXPECT_EQ(received(slot::mi_scene_create),
              (std::vector<std::int64_t>{kWide, type, 1, 2, 3, 4, 5, 6, 7, 8}));
  }
}

TEST_F(Varargs, SceneRecreateTakesANarrowFirstArgument) {
  EXPECT_EQ(mi_scene_recreate(-12, host::kSceneWideThenEight, kWide, 2, 3, 4, 5,
                              6, 7, 8, 9),
            -12);
  EXPECT_EQ(
      received(slot::mi_scene_recreate),
      (std::vector<std::int64_t>{-12, 40, kWide, 2, 3, 4, 5, 6, 7, 8, 9}));
  mi_scene_recreate(12, host::kSceneThreeThenWide, 1, 2, 3, kWide2);
  EXPECT_EQ(received(slot::mi_scene_recreate),
            (std::vector<std::int64_t>{12, 51, 1, 2, 3, kWide2}));
  mi_scene_recreate(12, 7, 8, 7, 6, 5, 4, 3, 2, 1);
  EXPECT_EQ(received(slot::mi_scene_recreate),
            (std::vector<std::int64_t>{12, 7, 8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST_F(Varargs, GroweditHandsOnAllNineValuesAndAWideResult) {
  EXPECT_EQ(mi_scene_growedit(5, -1, 2, INT32_MIN, 4, INT32_MAX, 6, 0, 8),
            INT64_C(0x7000000000000005));
  EXPECT_EQ(
      received(slot::mi_scene_growedit),
      (std::vector<std::int64_t>{5, -1, 2, INT32_MIN, 4, INT32_MAX, 6, 0, 8}));
}

TEST_F(Varargs, MissingFunctionReturnsZeroWithoutReading) {
  miSetModuleHandle(nullptr);
  const std::string report = testing_support::stderr_of([] {
    EXPECT_EQ(mi_query(host::kQueryInt64, 1, 2, 3), 0);
    EXPECT_EQ(mi_scene_growedit(1), 0);
  });
  EXPECT_NE(report.find("\"mi_query\""), std::string::npos);
  EXPECT_NE(report.find("\"mi_scene_growedit\""), std::string::npos);
}

}  // namespace
