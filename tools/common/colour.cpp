#include "tools/common/colour.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "library/shader/srgb.h"

namespace common {

std::uint8_t linear_byte(double value) {
  const double clamped = std::clamp(value, 0.0, 1.0);
  return static_cast<std::uint8_t>(clamped * 255.0 + 0.5);
}

double srgb_decode(double encoded) { return srgb::decode(encoded); }

std::uint8_t srgb_byte(double linear) { return srgb::byte(linear); }

std::string hex_colour(const Rgb& colour) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", srgb_byte(colour.red),
                srgb_byte(colour.green), srgb_byte(colour.blue));
  return hex;
}

namespace {

constexpr double kPi = 3.14159265358979323846;

double degrees(double radians) { return radians * 180 / kPi; }
double radians(double degrees) { return degrees * kPi / 180; }

// CIELAB's cube root, with its linear segment near black.
double lab_f(double t) {
  constexpr double delta = 6.0 / 29.0;
  return t > delta * delta * delta ? std::cbrt(t)
                                   : t / (3 * delta * delta) + 4.0 / 29.0;
}

// The hue angle of (a, b) in degrees, from 0 to 360.
double hue(double b, double a) {
  if (a == 0 && b == 0) return 0;
  const double h = degrees(std::atan2(b, a));
  return h < 0 ? h + 360 : h;
}

}  // namespace

Lab lab_of(const Rgb& c) {
  const double r = c.red, g = c.green, b = c.blue;
  const double x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
  const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
  const double z = 0.0193339 * r + 0.1191920 * g + 0.9503041 * b;
  const double fx = lab_f(x / 0.95047), fy = lab_f(y), fz = lab_f(z / 1.08883);
  return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

// As published by its authors, step by step.
double ciede2000(const Lab& first, const Lab& second) {
  const double l1 = first[0], a1 = first[1], b1 = first[2];
  const double l2 = second[0], a2 = second[1], b2 = second[2];
  const double c_mean = (std::hypot(a1, b1) + std::hypot(a2, b2)) / 2;
  const double c7 = std::pow(c_mean, 7);
  const double g = 0.5 * (1 - std::sqrt(c7 / (c7 + std::pow(25.0, 7))));
  const double a1p = (1 + g) * a1, a2p = (1 + g) * a2;
  const double c1p = std::hypot(a1p, b1), c2p = std::hypot(a2p, b2);
  const double h1p = hue(b1, a1p), h2p = hue(b2, a2p);

  const double dl = l2 - l1, dc = c2p - c1p;
  double dh = 0;
  if (c1p * c2p != 0) {
    dh = h2p - h1p;
    if (dh > 180) dh -= 360;
    if (dh < -180) dh += 360;
  }
  const double dH = 2 * std::sqrt(c1p * c2p) * std::sin(radians(dh / 2));

  const double l_mean = (l1 + l2) / 2, cp_mean = (c1p + c2p) / 2;
  double h_mean = h1p + h2p;
  if (c1p * c2p != 0) {
    if (std::fabs(h1p - h2p) <= 180)
      h_mean /= 2;
    else
      h_mean = h_mean < 360 ? (h_mean + 360) / 2 : (h_mean - 360) / 2;
  }
  const double t = 1 - 0.17 * std::cos(radians(h_mean - 30)) +
                   0.24 * std::cos(radians(2 * h_mean)) +
                   0.32 * std::cos(radians(3 * h_mean + 6)) -
                   0.20 * std::cos(radians(4 * h_mean - 63));
  const double d_theta =
      30 * std::exp(-((h_mean - 275) / 25) * ((h_mean - 275) / 25));
  const double cp7 = std::pow(cp_mean, 7);
  const double rc = 2 * std::sqrt(cp7 / (cp7 + std::pow(25.0, 7)));
  const double l50 = (l_mean - 50) * (l_mean - 50);
  const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
  const double sc = 1 + 0.045 * cp_mean;
  const double sh = 1 + 0.015 * cp_mean * t;
  const double rt = -std::sin(radians(2 * d_theta)) * rc;
  const double kl = dl / sl, kc = dc / sc, kh = dH / sh;
  return std::sqrt(kl * kl + kc * kc + kh * kh + rt * kc * kh);
}

}  // namespace common
