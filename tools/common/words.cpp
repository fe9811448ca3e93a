#include "tools/common/words.h"

#include <algorithm>

namespace common {

// "Did you mean": a known word that differs from the one written only in
// case or by at most two edits. Words of very different lengths are never
// compared, so a huge unknown word costs no more than reading it.

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Insertions, deletions, substitutions and swaps of neighbours.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1),
      row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      row[j] = std::min({previous[j] + 1, row[j - 1] + 1,
                         previous[j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        row[j] = std::min(row[j], before[j - 2] + 1);
    }
    std::swap(before, previous);
    std::swap(previous, row);
  }
  return previous[b.size()];
}

const char* meant_word(const std::string& key,
                       const std::vector<const char*>& known) {
  if (key.size() > 64) return nullptr;
  const std::string written = ascii_lower(key);
  for (const char* candidate : known) {
    const std::string k = ascii_lower(candidate);
    const std::size_t longer = std::max(k.size(), written.size());
    if (longer - std::min(k.size(), written.size()) <= 2 &&
        edit_distance(written, k) <= 2)
      return candidate;
  }
  return nullptr;
}

std::string count_of(std::size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::size_t characters_before(std::string_view text, std::size_t offset) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i)
    characters += (static_cast<unsigned char>(text[i]) & 0xc0) != 0x80;
  return characters;
}

}  // namespace common
