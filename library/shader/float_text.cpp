#include "library/shader/float_text.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace shader {

namespace {

// An unsigned integer of up to 256 bits: enough for a float's widest
// comparison, a 9-digit decimal times 2^150 against its interval's bounds
// times 10^45.
struct Big {
  std::uint32_t word[8] = {};

  explicit Big(std::uint64_t value) {
    word[0] = static_cast<std::uint32_t>(value);
    word[1] = static_cast<std::uint32_t>(value >> 32);
  }
  void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& w : word) {
      const std::uint64_t product = std::uint64_t{w} * factor + carry;
      w = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
  }
  void times_ten_to(int power) {
    for (; power >= 9; power -= 9) multiply(1000000000);
    for (; power > 0; --power) multiply(10);
  }
  void times_two_to(int power) {
    for (; power >= 31; power -= 31) multiply(1u << 31);
    if (power > 0) multiply(1u << power);
  }
};

int compare(const Big& a, const Big& b) {
  for (int i = 7; i >= 0; --i)
    if (a.word[i] != b.word[i]) return a.word[i] < b.word[i] ? -1 : 1;
  return 0;
}

// A finite positive float as mantissa times 2^exponent, with the bounds of
// the values that round to it, in quarters of 2^exponent: a decimal between
// them reads back as the float (on a bound, only where the mantissa is even,
// as rounding to even decides).
struct Binary {
  std::uint32_t mantissa;
  int exponent;
  std::uint64_t low, high;  // in units of 2^(exponent - 2)
  bool bounds_included;
};

Binary binary_of(std::uint32_t bits) {
  const std::uint32_t fraction = bits & 0x7fffff;
  const int field = static_cast<int>((bits >> 23) & 0xff);
  Binary b;
  b.mantissa = field ? fraction | 0x800000 : fraction;
  b.exponent = field ? field - 150 : -149;
  const std::uint64_t centre = 4 * std::uint64_t{b.mantissa};
  // Below a power of two the floats lie twice as close.
  b.low = centre - (fraction == 0 && field > 1 ? 1 : 2);
  b.high = centre + 2;
  b.bounds_included = b.mantissa % 2 == 0;
  return b;
}

// Whether digits * 10^power reads back as the float.
bool reads_back(const Binary& b, std::uint64_t digits, int power) {
  const int two = b.exponent - 2;
  Big value(digits), low(b.low), high(b.high);
  value.times_ten_to(power > 0 ? power : 0);
  value.times_two_to(two < 0 ? -two : 0);
  for (Big* bound : {&low, &high}) {
    bound->times_two_to(two > 0 ? two : 0);
    bound->times_ten_to(power < 0 ? -power : 0);
  }
  const int above_low = compare(value, low), below_high = compare(high, value);
  return (above_low > 0 || (above_low == 0 && b.bounds_included)) &&
         (below_high > 0 || (below_high == 0 && b.bounds_included));
}

long double ten_to(int power) {
  long double p = 1;
  for (int i = 0; i < (power < 0 ? -power : power); ++i) p *= 10;
  return power < 0 ? 1 / p : p;
}

std::uint64_t ten_to_integer(int power) {
  std::uint64_t p = 1;
  while (power-- > 0) p *= 10;
  return p;
}

// The shortest digits that read back as the float, nearest the float among
// those of their length, and the exponent of the first: value = d.ddd 10^e.
struct Decimal {
  std::uint64_t digits;
  int count, exponent;
};

Decimal shortest(float value, std::uint32_t bits) {
  const Binary b = binary_of(bits);
  const long double exact = value;
  int estimate = 0;
  for (long double p = 1; p * 10 <= exact; p *= 10) ++estimate;
  for (long double p = 1; p > exact; p /= 10) --estimate;
  for (int count = 1;; ++count) {
    // The nearest digits of this length, found in long double (exact
    // enough to be off by one at worst), then checked exactly; rounding
    // may carry them into the next power of ten.
    int exponent = estimate;
    std::uint64_t nearest = 0;
    long double scaled = 0;
    for (int tries = 0; tries < 3; ++tries) {
      scaled = exact * ten_to(count - 1 - exponent);
      nearest = static_cast<std::uint64_t>(scaled + 0.5L);
      if (nearest >= ten_to_integer(count))
        ++exponent;
      else if (nearest < ten_to_integer(count - 1))
        --exponent;
      else
        break;
    }
    const int power = exponent - count + 1;
    std::uint64_t best = 0;
    long double distance = 0;
    for (std::uint64_t d = nearest - 1; d <= nearest + 1; ++d) {
      if (d < ten_to_integer(count - 1) || d >= ten_to_integer(count) ||
          !reads_back(b, d, power))
        continue;
      // The nearest; of two as near, the even one.
      const long double off = scaled > d ? scaled - d : d - scaled;
      if (!best || off < distance || (off == distance && d % 2 == 0))
        best = d, distance = off;
    }
    if (best) return {best, count, exponent};
  }
}

}  // namespace

std::size_t float_text(float value, char (&out)[kFloatTextSize]) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  std::size_t n = 0;
  if ((bits & 0x7f800000) == 0x7f800000) {
    std::memcpy(out, "null", 4);
    return 4;
  }
  if (bits >> 31) out[n++] = '-';
  bits &= 0x7fffffff;
  if (bits == 0) {
    out[n++] = '0';
    return n;
  }
  const Decimal d = shortest(value < 0 ? -value : value, bits);
  char digits[10];
  std::uint64_t rest = d.digits;
  for (int i = d.count - 1; i >= 0; --i, rest /= 10)
    digits[i] = static_cast<char>('0' + rest % 10);
  // Scientific: d[.ddd]e±XX; fixed: the digits with their point or zeros.
  const int e = d.exponent, count = d.count;
  const int magnitude = e < 0 ? -e : e;
  const int scientific = count + (count > 1) + 2 + (magnitude >= 100 ? 3 : 2);
  const int fixed =
      e >= 0 ? (count <= e + 1 ? e + 1 : count + 1) : 2 + (-e - 1) + count;
  if (fixed <= scientific) {
    if (e >= 0 && count <= e + 1) {
      // A whole number: of the texts of this length, the nearest is the
      // float's own value, every digit of it.
      std::uint64_t whole = std::uint64_t{bits & 0x7fffff} | 0x800000;
      const int shift = static_cast<int>(bits >> 23) - 150;
      whole = shift >= 0 ? whole << shift : whole >> -shift;
      char text[20];
      int length = 0;
      for (; whole; whole /= 10)
        text[length++] = static_cast<char>('0' + whole % 10);
      while (length) out[n++] = text[--length];
    } else if (e >= 0) {
      for (int i = 0; i < (count > e + 1 ? count : e + 1); ++i) {
        if (i == e + 1) out[n++] = '.';
        out[n++] = i < count ? digits[i] : '0';
      }
    } else {
      out[n++] = '0';
      out[n++] = '.';
      for (int i = 0; i < -e - 1; ++i) out[n++] = '0';
      for (int i = 0; i < count; ++i) out[n++] = digits[i];
    }
    return n;
  }
  out[n++] = digits[0];
  if (count > 1) {
    out[n++] = '.';
    for (int i = 1; i < count; ++i) out[n++] = digits[i];
  }
  out[n++] = 'e';
  out[n++] = e < 0 ? '-' : '+';
  if (magnitude >= 100) out[n++] = static_cast<char>('0' + magnitude / 100);
  out[n++] = static_cast<char>('0' + magnitude / 10 % 10);
  out[n++] = static_cast<char>('0' + magnitude % 10);
  return n;
}

}  // namespace shader
