// Plain entries hand on every argument and result untouched, on the first
// call (through the resolver) and on every later one (straight through).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "library/dynload/slots.h"
#include "ravelTint/ravelTint.h"
#include "support/module.hpp"
#include "tests/hosts/signatures.h"

namespace {

using support::module_object;

class Forwarding : public testing::Test {
 protected:
  void SetUp() override {
    host_ = support::require_module("signature_host");
    captured_ = module_object<Captured>(host_, "captured");
    ASSERT_NE(captured_, nullptr);
    miSetModuleHandle(host_);
  }

  std::vector<double> captured() const {
    return {captured_->values, captured_->values + captured_->count};
  }

  // Runs `call` once unresolved and once resolved; both must pass `check`.
  template <typename Call, typename Check>
  void on_both_paths(const char* name, Call call, Check check) {
    const auto named = [&](const char* n) { return !std::strcmp(n, name); };
    const auto slot = std::find_if(std::begin(dynload_names),
                                   std::end(dynload_names), named) -
                      std::begin(dynload_names);
    ASSERT_EQ(dynload_slots[slot].load(), nullptr);
    check(call());
    EXPECT_NE(dynload_slots[slot].load(), nullptr);
    check(call());
  }

  void* host_ = nullptr;
  Captured* captured_ = nullptr;
};

void* address(std::intptr_t value) { return reinterpret_cast<void*>(value); }

TEST_F(Forwarding, SixteenIntegersAndSixteenDoubles) {
  std::vector<double> expected;
  for (int k = 0; k < 16; ++k) {
    expected.push_back(-1000 - k);
    expected.push_back(0.5 + k);
  }
  on_both_paths(
      "mi_trace_eye",
      [] {
        return mi_trace_eye(-1000, 0.5, -1001, 1.5, -1002, 2.5, -1003, 3.5,
                            -1004, 4.5, -1005, 5.5, -1006, 6.5, -1007, 7.5,
                            -1008, 8.5, -1009, 9.5, -1010, 10.5, -1011, 11.5,
                            -1012, 12.5, -1013, 13.5, -1014, 14.5, -1015, 15.5);
      },
      [&](std::int64_t result) {
        EXPECT_EQ(result, -2015);
        EXPECT_EQ(captured(), expected);
      });
}

TEST_F(Forwarding, TwelveMixedArguments) {
  on_both_paths(
      "mi_img_custom_format",
      [] {
        return mi_img_custom_format(address(0x1234560), -7, 1.25f, -2.5e300,
                                    INT64_C(-0x123456789abc), 3.75f,
                                    address(0x7ff0), 42, 1e-300, -0.125f,
                                    INT64_C(0x7fffffffffff), 6.5);
      },
      [&](int result) {
        EXPECT_EQ(result, 35);
        EXPECT_EQ(captured(),
                  (std::vector<double>{0x1234560, -7, 1.25, -2.5e300,
                                       -0x123456789abc, 3.75, 0x7ff0, 42,
                                       1e-300, -0.125, 0x7fffffffffff, 6.5}));
      });
}

TEST_F(Forwarding, ThirteenMixedArgumentsAndAPointerResult) {
  on_both_paths(
      "mi_geomo_blend_surfaces",
      [] {
        return mi_geomo_blend_surfaces(0.1, address(0x10), 2.5f, -3, 4.25,
                                       INT64_C(1) << 40, -6.5f, address(0x70),
                                       8, 9.75, 10.5f, -11, 12.125);
      },
      [&](void* result) {
        EXPECT_EQ(result, address(0x70));
        EXPECT_EQ(captured(),
                  (std::vector<double>{0.1, 0x10, 2.5, -3, 4.25,
                                       double(INT64_C(1) << 40), -6.5, 0x70, 8,
                                       9.75, 10.5, -11, 12.125}));
      });
}

TEST_F(Forwarding, FloatAndDoubleResults) {
  on_both_paths(
      "mi_random", [] { return mi_random(); },
      [](float r) { EXPECT_EQ(r, 0.625f); });
  on_both_paths(
      "mi_noise_1d", [] { return mi_noise_1d(-1.75f); },
      [](float r) { EXPECT_EQ(r, -3.5f); });
  on_both_paths(
      "mi_noise_3d", [] { return mi_noise_3d(0.5, 1.5, -4.0); },
      [](double r) { EXPECT_EQ(r, -5.5); });
}

TEST_F(Forwarding, NarrowIntegerArguments) {
  on_both_paths(
      "mi_compute_avg_radiance",
      [] { return mi_compute_avg_radiance(address(1), address(2), 0xfe, -4); },
      [&](int r) {
        EXPECT_EQ(r, 0xfe);
        EXPECT_EQ(captured(), (std::vector<double>{1, 2, 0xfe, -4}));
      });
  on_both_paths(
      "mi_sample",
      [] {
        return mi_sample(nullptr, nullptr, address(3), 0xfffe, 0xffffffffu);
      },
      [&](int r) {
        EXPECT_EQ(r, 0xfffe);
        EXPECT_EQ(captured(),
                  (std::vector<double>{0, 0, 3, 0xfffe, 0xffffffffu}));
      });
  on_both_paths(
      "mi_api_basis_add",
      [] {
        return mi_api_basis_add(nullptr, 1, 2, 0x8001, 0xfff0, address(9));
      },
      [&](int r) {
        EXPECT_EQ(r, 0x8001 + 0xfff0);
        EXPECT_EQ(captured(),
                  (std::vector<double>{0, 1, 2, 0x8001, 0xfff0, 9}));
      });
  on_both_paths(
      "mi_api_hair_info", [] { return mi_api_hair_info(-5, 'x', 77); },
      [&](int r) {
        EXPECT_EQ(r, 'x');
        EXPECT_EQ(captured(), (std::vector<double>{-5, 'x', 77}));
      });
}

// On System V, %al tells a variadic callee how many vector registers carry
// arguments; an entry that clobbered rax would lose the doubles.
TEST_F(Forwarding, VariadicCallKeepsItsVectorArguments) {
  on_both_paths(
      "mi_spline",
      [] {
        return mi_spline(10, 0.5, 1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0, 128.0,
                         256.0);
      },
      [](double sum) { EXPECT_EQ(sum, 511.5); });
}

#if !defined(_WIN32)
__attribute__((target("avx"))) float transform_lanes(const float* lanes) {
  return mi_point_transform(_mm256_loadu_ps(lanes), _mm256_loadu_ps(lanes + 8));
}

// The resolver keeps only the low 128 bits of the vector registers; 256-bit
// arguments survive the first call because neither it nor the system's
// lookup touches the upper halves. This catches a change that does.
TEST_F(Forwarding, WideVectorArguments) {
  if (!__builtin_cpu_supports("avx")) GTEST_SKIP() << "no AVX";
  float lanes[16];
  for (int k = 0; k < 16; ++k) lanes[k] = 1.5f * k - 4.0f;
  on_both_paths(
      "mi_point_transform", [&] { return transform_lanes(lanes); },
      [&](float last) {
        EXPECT_EQ(last, lanes[15]);
        EXPECT_EQ(captured(), std::vector<double>(lanes, lanes + 16));
      });
}
#endif

}  // namespace
