#include "library/shader/record.h"

#include <cstddef>
#include <cstring>

#include "library/dynload/variadic.h"
#include "library/shader/float_text.h"
#include "library/shader/record_file.h"
#include "library/shader/srgb.h"

namespace shader::record {

std::atomic<int> state{kUndecided};
std::atomic<std::uint64_t> table[std::size_t{1} << kTableBits];

namespace {

constexpr std::size_t kTableSize = std::size_t{1} << kTableBits;
// Objects recorded at most: three quarters of the table.
constexpr std::size_t kCapacity = 1500000;
std::atomic<std::size_t> recorded{0};

// Lines too long for the stack (names of hundreds of bytes) are made here,
// one at a time.
constexpr std::size_t kLongLine = std::size_t{1} << 20;
char long_line[kLongLine];
std::atomic_flag long_line_busy = ATOMIC_FLAG_INIT;

// Each warning once.
std::atomic<bool> warned_full{false}, warned_long{false};

void warn(const char* text) { mi_warning("ravelTint: %s", text); }

// Claims the key: true where this call is the first to see it.
bool claim(std::uint64_t key) {
  for (std::size_t slot = slot_of(key);; slot = (slot + 1) & (kTableSize - 1)) {
    std::uint64_t held = table[slot].load(std::memory_order_relaxed);
    if (held == key) return false;
    if (held == 0 && table[slot].compare_exchange_strong(
                         held, key, std::memory_order_relaxed))
      return true;
    if (held == key) return false;  // another thread claimed it just now
  }
}

// A line of JSON, written into a buffer of a fixed size.
class Line {
 public:
  Line(char* data, std::size_t size) : data_(data), size_(size) {}
  Line& raw(const char* text) { return bytes(text, std::strlen(text)); }
  Line& bytes(const char* text, std::size_t length) {
    if (length <= size_ - used_) {
      std::memcpy(data_ + used_, text, length);
      used_ += length;
    }
    return *this;
  }
  Line& number(std::int64_t value) {
    char digits[24];
    int n = 0;
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                        : static_cast<std::uint64_t>(value);
    do digits[n++] = static_cast<char>('0' + magnitude % 10);
    while (magnitude /= 10);
    if (value < 0) raw("-");
    while (n) bytes(&digits[--n], 1);
    return *this;
  }
  Line& real(float value) {
    char text[kFloatTextSize];
    return bytes(text, float_text(value, text));
  }
  // A string as the manifest writes it: quotes, backslashes and controls
  // escaped, UTF-8 kept; a byte that is not UTF-8 (a name in another
  // encoding) as the character of its value.
  Line& string(const char* text, std::size_t length);
  const char* data() const { return data_; }
  std::size_t length() const { return used_; }

 private:
  char* data_;
  std::size_t size_, used_ = 0;
};

// The length of the valid UTF-8 character at `text`, or 0.
std::size_t utf8_length(const unsigned char* text, std::size_t left) {
  const unsigned char lead = text[0];
  std::size_t n;
  unsigned char low = 0x80, high = 0xbf;  // the second byte's range
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    n = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    n = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    n = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (left < n || text[1] < low || text[1] > high) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (text[i] < 0x80 || text[i] > 0xbf) return 0;
  return n;
}

Line& Line::string(const char* text, std::size_t length) {
  raw("\"");
  const auto* bytes_in = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < length;) {
    const unsigned char c = bytes_in[i];
    const std::size_t n = utf8_length(bytes_in + i, length - i);
    if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c)};
      bytes(escaped, 2);
    } else if (n == 0 || c < 0x20) {
      const char* hex = "0123456789abcdef";
      const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
      bytes(escaped, 6);
    } else {
      bytes(text + i, n);
      i += n;
      continue;
    }
    ++i;
  }
  return raw("\"");
}

// The room a line needs for a name of `length` bytes: each byte escaped at
// worst to six.
std::size_t room_for(std::size_t length) { return 160 + 6 * length; }

// The one warning of a record that cannot be written, and what follows.
void warn_unwritable(const record_file::Failure& failure, const char* then) {
  char text[sizeof failure.text + 64];
  Line message(text, sizeof text - 1);
  message.raw("cannot write the colour record ").raw(failure.text).raw(then);
  text[message.length()] = '\0';
  warn(text);
}

void write_line(const Line& line) {
  record_file::Failure failure;
  if (!record_file::append(line.data(), line.length(), failure) &&
      state.exchange(kOff) == kOn)
    warn_unwritable(failure, "; no more colours are recorded");
}

void write_object(Line& line, const char* name, std::size_t length,
                  std::int32_t seed, bool grayscale,
                  const host::Colour& colour) {
  const char hex[] = "0123456789abcdef";
  char code[8] = {'#'};
  const float channels[3] = {colour.red, colour.green, colour.blue};
  for (int c = 0; c < 3; ++c) {
    const std::uint8_t byte = srgb::byte(channels[c]);
    code[1 + 2 * c] = hex[byte >> 4];
    code[2 + 2 * c] = hex[byte & 15];
  }
  line.raw("{\"name\": ")
      .string(name, length)
      .raw(", \"seed\": ")
      .number(seed)
      .raw(grayscale ? ", \"grayscale\": true" : ", \"grayscale\": false")
      .raw(", \"colour\": [")
      .real(colour.red)
      .raw(", ")
      .real(colour.green)
      .raw(", ")
      .real(colour.blue)
      .raw("], \"hex\": \"")
      .bytes(code, 7)
      .raw("\"}\n");
  write_line(line);
}

}  // namespace

int start() {
  int expected = kUndecided;
  if (!state.compare_exchange_strong(expected, kStarting,
                                     std::memory_order_acquire)) {
    // Another call is deciding: it opens a file and writes a line.
    while ((expected = state.load(std::memory_order_acquire)) == kStarting)
      __builtin_ia32_pause();
    return expected;
  }
  record_file::Failure failure;
  const record_file::Opened opened = record_file::open(failure);
  if (opened != record_file::Opened::kOpen) {
    state.store(kOff, std::memory_order_release);
    if (opened == record_file::Opened::kFailed)
      warn_unwritable(failure, "; colours are not recorded");
    return kOff;
  }
  char host[256];
  record_file::host_name(host, sizeof host);
  char text[1024];
  Line line(text, sizeof text);
  line.raw("{\"ravelTint_record\": 1, \"shader_version\": ")
      .number(RAVELTINT_SHADER_VERSION)
      .raw(", \"host\": ")
      .string(host, std::strlen(host))
      .raw(", \"process\": ")
      .number(record_file::process_id())
      .raw("}\n");
  state.store(kOn, std::memory_order_release);
  write_line(line);
  return state.load(std::memory_order_acquire);
}

void note(const char* name, std::int32_t seed, bool grayscale,
          const host::Colour& colour, const Hashes& hashes) {
  if (!name) name = "";
  const std::size_t length = std::strlen(name);
  if (!claim(key_of(hashes, grayscale))) return;
  if (recorded.fetch_add(1, std::memory_order_relaxed) >= kCapacity) {
    if (!warned_full.exchange(true))
      warn(
          "the colour record holds as many objects as it can (1500000); no "
          "more are recorded");
    state.store(kOff, std::memory_order_release);
    return;
  }
  if (room_for(length) <= 1024) {
    char text[1024];
    Line line(text, sizeof text);
    write_object(line, name, length, seed, grayscale, colour);
    return;
  }
  if (room_for(length) > kLongLine) {
    if (!warned_long.exchange(true))
      warn(
          "a name too long for the colour record (over 170000 bytes) is not "
          "recorded");
    return;
  }
  while (long_line_busy.test_and_set(std::memory_order_acquire))
    __builtin_ia32_pause();
  Line line(long_line, kLongLine);
  write_object(line, name, length, seed, grayscale, colour);
  long_line_busy.clear(std::memory_order_release);
}

}  // namespace shader::record
