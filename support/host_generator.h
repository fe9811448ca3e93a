/* The generator of the test hosts and ravelTint-check: a linear congruential
 * step, and a draw that is the state's top 24 bits as a fraction, so that a
 * first draw after a seed tells which seed it came from. C and C++. */
#ifndef RAVELTINT_SUPPORT_HOST_GENERATOR_H
#define RAVELTINT_SUPPORT_HOST_GENERATOR_H

#include <stdint.h>

static inline float host_generator_draw(uint32_t state) {
  return (float)(state >> 8) * (1.0f / 16777216.0f);
}

static inline uint32_t host_generator_step(uint32_t state) {
  return state * 1664525u + 1013904223u;
}

#endif
