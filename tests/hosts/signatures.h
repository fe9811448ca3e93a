// Signatures that the forwarding tests give to a few rows of the entry list.
// The library never sees these: its entries forward whatever they are given.
// The signature host defines them (with SIGNATURE_API set to its export
// attribute); the tests call the library's entries of the same names.
#pragma once

#include <cstdint>

#include "ravelTint/renderer.h"  // mi_random, as a renderer declares it

#ifndef SIGNATURE_API
#define SIGNATURE_API extern "C"
#endif

// Every argument a signature-host function receives, in order, as doubles
// (integers and pointers of the tests are exact in a double).
struct Captured {
  double values[40];
  int count;
};

// 16 integer and 16 double arguments, interleaved, so that both kinds spill
// to the stack.
SIGNATURE_API std::int64_t mi_trace_eye(
    std::int64_t i0, double d0, std::int64_t i1, double d1, std::int64_t i2,
    double d2, std::int64_t i3, double d3, std::int64_t i4, double d4,
    std::int64_t i5, double d5, std::int64_t i6, double d6, std::int64_t i7,
    double d7, std::int64_t i8, double d8, std::int64_t i9, double d9,
    std::int64_t i10, double d10, std::int64_t i11, double d11,
    std::int64_t i12, double d12, std::int64_t i13, double d13,
    std::int64_t i14, double d14, std::int64_t i15, double d15);

// Twelve and thirteen mixed arguments.
SIGNATURE_API int mi_img_custom_format(void* p0, int i1, float f2, double d3,
                                       std::int64_t l4, float f5, void* p6,
                                       int i7, double d8, float f9,
                                       std::int64_t l10, double d11);
SIGNATURE_API void* mi_geomo_blend_surfaces(double d0, void* p1, float f2,
                                            int i3, double d4, std::int64_t l5,
                                            float f6, void* p7, int i8,
                                            double d9, float f10, int i11,
                                            double d12);

// Floating-point results (and mi_random's, from the renderer contract).
SIGNATURE_API float mi_noise_1d(float x);
SIGNATURE_API double mi_noise_3d(double x, double y, double z);

// The rows with narrow integer arguments.
SIGNATURE_API int mi_compute_avg_radiance(void* a, void* b, std::uint8_t face,
                                          int d);
SIGNATURE_API int mi_sample(double* sample, int* instance, void* state,
                            std::uint16_t dimension, std::uint32_t n);
SIGNATURE_API int mi_api_basis_add(const char* name, int rational, int type,
                                   std::uint16_t step, std::uint16_t degree,
                                   void* list);
SIGNATURE_API int mi_api_hair_info(int index, char type, int number);

// A plain row called as a variadic function: the sum of `count` doubles.
SIGNATURE_API double mi_spline(int count, ...);

#if !defined(_WIN32)
#include <immintrin.h>
// Two 256-bit vectors, in ymm0 and ymm1 (System V); returns the last lane.
SIGNATURE_API __attribute__((target("avx"))) float mi_point_transform(__m256 a,
                                                                      __m256 b);
#endif
