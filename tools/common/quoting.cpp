#include "tools/common/quoting.h"

#include "support/printable.h"

namespace common {

namespace {

std::string escaped(std::string_view text, int quote) {
  std::string out(printable(nullptr, 0, text.data(), text.size(), quote), '\0');
  printable(out.data(), out.size() + 1, text.data(), text.size(), quote);
  return out;
}

constexpr std::size_t kShownBytes = 60;

}  // namespace

std::string quote(std::string_view text) { return escaped(text, 1); }

std::string quote_short(std::string_view text) {
  if (text.size() <= kShownBytes) return quote(text);
  std::size_t cut = kShownBytes;
  // Not inside a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80)
    --cut;
  std::string shown = quote(text.substr(0, cut));
  shown.insert(shown.size() - 1, "...");
  return shown + " (" + std::to_string(text.size()) + " bytes)";
}

std::string printable_line(std::string_view text) { return escaped(text, 0); }

}  // namespace common
