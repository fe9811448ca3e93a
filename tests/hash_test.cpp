// The name hash and the hash-to-seed conversion that every colour rests on,
// and the text in which the colour record writes a colour.
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "library/shader/float_text.h"
#include "library/shader/murmur2.h"
#include "library/shader/seed.h"
#include "library/shader/srgb.h"
#include "support/module.hpp"
#include "tests/support/colour_model.h"

namespace {

using shader::murmur2;
using shader::random_seed_from_hash;

std::string bytes_of(const std::string& hex) {
  if (hex == "-") return "";
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(
        static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Values computed with the published reference implementation: empty names,
// every tail length, bytes above 0x7f, long names and the channel seeds.
TEST(NameHash, MatchesTheReferenceValues) {
  std::ifstream vectors(support::program_directory() + "/murmur2_vectors.tsv");
  ASSERT_TRUE(vectors) << "murmur2_vectors.tsv is missing beside the test";
  std::string line;
  int rows = 0;
  while (std::getline(vectors, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("name_hex", 0) == 0)
      continue;
    std::istringstream fields(line);
    std::string hex;
    std::uint32_t seed = 0, expected = 0;
    fields >> hex >> seed >> expected;
    // At every alignment: the blocks are read byte by byte.
    const std::string name = bytes_of(hex);
    for (std::size_t offset = 0; offset < 8; ++offset) {
      const std::string placed = std::string(offset, 'x') + name;
      EXPECT_EQ(murmur2(placed.data() + offset, name.size(), seed), expected)
          << "name " << hex << " seed " << seed << " offset " << offset;
    }
    ++rows;
  }
  EXPECT_GT(rows, 90);
}

// The published verification value: key i is the bytes 0, 1, ..., i - 1,
// hashed with seed 256 - i; the 256 results, laid end to end as
// little-endian words, hash with seed 0 to 0x27864C1E.
TEST(NameHash, GivesThePublishedVerificationValue) {
  unsigned char key[256];
  unsigned char results[256 * 4];
  for (int i = 0; i < 256; ++i) {
    key[i] = static_cast<unsigned char>(i);
    const std::uint32_t h = murmur2(key, i, 256 - i);
    for (int b = 0; b < 4; ++b)
      results[i * 4 + b] = static_cast<unsigned char>(h >> (8 * b));
  }
  EXPECT_EQ(murmur2(results, sizeof results, 0), 0x27864C1Eu);
}

// One pass for three seeds gives the three single hashes, for names of every
// length (every tail case) at every alignment.
TEST(NameHash, ThreeSeedsInOnePassMatchThreeHashes) {
  std::mt19937 random(2024);
  alignas(8) unsigned char buffer[300 + 8];
  for (std::size_t length = 0; length <= 300; ++length) {
    const std::size_t offset = random() % 8;
    for (std::size_t i = 0; i < length; ++i)
      buffer[offset + i] = static_cast<unsigned char>(random());
    const std::array<std::uint32_t, 3> seeds = {
        static_cast<std::uint32_t>(random()),
        static_cast<std::uint32_t>(random()),
        static_cast<std::uint32_t>(random())};
    const auto hashes = shader::murmur2_three(buffer + offset, length, seeds);
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(hashes[c], murmur2(buffer + offset, length, seeds[c]))
          << "length " << length << " offset " << offset << " seed " << c;
  }
}

// The published function takes a signed 32-bit length, so names of 2^31
// bytes and more hash through that length's low 32 bits: 2^32 + 3 bytes hash
// as their first 3, and 2^31 + 5 (negative as an int) with no byte read at
// all, as the published code gives (734958011 and so on). Only the three
// bytes below exist: reading one more would be a fault the sanitizers catch.
TEST(NameHash, HugeLengthsHashAsThePublishedFunctionsInt) {
  const char name[3] = {'a', 'b', 'c'};
  const std::size_t wraps_to_three = (std::size_t{1} << 32) + 3;
  const std::size_t negative = (std::size_t{1} << 31) + 5;
  EXPECT_EQ(murmur2(name, wraps_to_three, 11), murmur2(name, 3, 11));
  const std::array<std::uint32_t, 3> expected = {734958011u, 3815989173u,
                                                 2040875625u};
  EXPECT_EQ(shader::murmur2_three(name, negative, {11, 21, 31}), expected);
  EXPECT_EQ(murmur2(name, negative, 21), expected[1]);
  EXPECT_EQ(shader::murmur2_three(name, wraps_to_three, {11, 11, 11})[0],
            murmur2(name, 3, 11));
}

// The conversion of a hash to the generator's seed (float rounding, then
// the hardware's truncation), against the tests' own model of it and the
// values where it turns: small hashes pass unchanged, large ones lose their
// low bits (ties to even), and from 2147483584 up every hash gives INT32_MIN.
TEST(RandomSeed, RoundsAsAFloatThenTruncates) {
  const std::pair<std::uint32_t, std::int32_t> turns[] = {
      {0, 0},
      {(1u << 24) - 1, (1 << 24) - 1},
      {(1u << 24) + 1, 1 << 24},
      {(1u << 24) + 3, (1 << 24) + 4},
      {2147483583u, 2147483520},
      {2147483584u, INT32_MIN},
      {4294967295u, INT32_MIN}};
  for (auto [hash, seed] : turns) EXPECT_EQ(random_seed_from_hash(hash), seed);
  for (std::uint32_t h = 0; h < 0xffff0000u; h += 0x10001u)
    ASSERT_EQ(random_seed_from_hash(h), testing_support::model_seed(h)) << h;
}

// The colour record writes each channel as the shortest text that reads
// back as the same float, as the tools write every colour: the library's
// own integer-only conversion, against the C++ library's, over floats of
// every exponent and the shader's draws in [0, 1).
TEST(RecordText, FloatsAreTheirShortestText) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> draw(0, 1);
  for (int i = 0; i < 200000; ++i) {
    std::uint32_t bits = random();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (i % 2) value = draw(random);
    char want[32], got[shader::kFloatTextSize];
    const auto end = std::to_chars(want, want + sizeof want, value).ptr;
    const std::string expected =
        value - value == 0 ? std::string(want, end) : "null";
    ASSERT_EQ(std::string(got, shader::float_text(value, got)), expected)
        << bits;
  }
}

// And the hex of a colour is the reference host's: the sRGB code of each
// channel, the boundaries between codes computed at compile time.
TEST(RecordText, SrgbCodesTurnAtTheBoundaries) {
  for (int code = 0; code < 255; ++code) {
    const double boundary = srgb::kBoundaries.at[code];
    EXPECT_EQ(srgb::byte(std::nextafter(boundary, 0.0)), code);
    EXPECT_EQ(srgb::byte(boundary), code + 1);
  }
  EXPECT_EQ(srgb::byte(-1), 0);
  EXPECT_EQ(srgb::byte(2), 255);
}

}  // namespace
