// A host that records every argument it receives, for the forwarding tests.
#include <cstdarg>
#include <cstdint>
#include <type_traits>

#include "tests/hosts/export.h"
#define SIGNATURE_API HOST_EXPORT
#include "tests/hosts/signatures.h"

extern "C" {
RAVELTINT_RENDERER_EXPORT Captured captured;
}

namespace {

void record() {}

template <typename T, typename... Rest>
void record(T first, Rest... rest) {
  double value;
  if constexpr (std::is_pointer_v<T>)
    value = static_cast<double>(reinterpret_cast<std::intptr_t>(first));
  else
    value = static_cast<double>(first);
  if (captured.count < 40) captured.values[captured.count++] = value;
  record(rest...);
}

template <typename... Args>
void capture(Args... args) {
  captured.count = 0;
  record(args...);
}

}  // namespace

HOST_EXPORT std::int64_t mi_trace_eye(
    std::int64_t i0, double d0, std::int64_t i1, double d1, std::int64_t i2,
    double d2, std::int64_t i3, double d3, std::int64_t i4, double d4,
    std::int64_t i5, double d5, std::int64_t i6, double d6, std::int64_t i7,
    double d7, std::int64_t i8, double d8, std::int64_t i9, double d9,
    std::int64_t i10, double d10, std::int64_t i11, double d11,
    std::int64_t i12, double d12, std::int64_t i13, double d13,
    std::int64_t i14, double d14, std::int64_t i15, double d15) {
  capture(i0, d0, i1, d1, i2, d2, i3, d3, i4, d4, i5, d5, i6, d6, i7, d7, i8,
          d8, i9, d9, i10, d10, i11, d11, i12, d12, i13, d13, i14, d14, i15,
          d15);
  return i0 + i15;
}

HOST_EXPORT int mi_img_custom_format(void* p0, int i1, float f2, double d3,
                                     std::int64_t l4, float f5, void* p6,
                                     int i7, double d8, float f9,
                                     std::int64_t l10, double d11) {
  capture(p0, i1, f2, d3, l4, f5, p6, i7, d8, f9, l10, d11);
  return i1 + i7;
}

HOST_EXPORT void* mi_geomo_blend_surfaces(double d0, void* p1, float f2, int i3,
                                          double d4, std::int64_t l5, float f6,
                                          void* p7, int i8, double d9,
                                          float f10, int i11, double d12) {
  capture(d0, p1, f2, i3, d4, l5, f6, p7, i8, d9, f10, i11, d12);
  return p7;
}

HOST_EXPORT float mi_random(void) { return 0.625f; }
HOST_EXPORT float mi_noise_1d(float x) { return x * 2.0f; }
HOST_EXPORT double mi_noise_3d(double x, double y, double z) {
  return x + y * z;
}

HOST_EXPORT int mi_compute_avg_radiance(void* a, void* b, std::uint8_t face,
                                        int d) {
  capture(a, b, face, d);
  return face;
}

HOST_EXPORT int mi_sample(double* sample, int* instance, void* state,
                          std::uint16_t dimension, std::uint32_t n) {
  capture(sample, instance, state, dimension, n);
  return dimension;
}

HOST_EXPORT int mi_api_basis_add(const char* name, int rational, int type,
                                 std::uint16_t step, std::uint16_t degree,
                                 void* list) {
  capture(name, rational, type, step, degree, list);
  return step + degree;
}

HOST_EXPORT int mi_api_hair_info(int index, char type, int number) {
  capture(index, type, number);
  return type;
}

HOST_EXPORT double mi_spline(int count, ...) {
  va_list args;
  va_start(args, count);
  double sum = 0;
  for (int i = 0; i < count; ++i) sum += va_arg(args, double);
  va_end(args);
  return sum;
}

#if !defined(_WIN32)
HOST_EXPORT __attribute__((target("avx"))) float mi_point_transform(__m256 a,
                                                                    __m256 b) {
  float lanes[16];
  _mm256_storeu_ps(lanes, a);
  _mm256_storeu_ps(lanes + 8, b);
  captured.count = 0;
  for (float lane : lanes) record(lane);
  return lanes[15];
}
#endif
