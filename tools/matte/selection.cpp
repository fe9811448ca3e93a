#include "tools/matte/selection.h"

#include <algorithm>

#include "tools/common/errors.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"

namespace matte {

namespace {

// The length of the UTF-8 character that starts at `at`.
std::size_t character_length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t n = lead < 0xc0 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
  return std::min(n, text.size() - at);
}

// Matches a bracket set at pattern[at] ('[' already seen) against the
// character `c`; sets `end` past the ']'. False, with end at npos, where
// the set is not closed (then '[' is a plain character).
bool in_set(const std::string& pattern, std::size_t at, const std::string& c,
            std::size_t& end) {
  std::size_t i = at + 1;
  const bool negated =
      i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  bool found = false;
  bool first = true;
  while (i < pattern.size() && (pattern[i] != ']' || first)) {
    first = false;
    const std::size_t n = character_length(pattern, i);
    const std::string low = pattern.substr(i, n);
    i += n;
    if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
      const std::size_t m = character_length(pattern, i + 1);
      const std::string high = pattern.substr(i + 1, m);
      found = found || (low <= c && c <= high);
      i += 1 + m;
    } else {
      found = found || low == c;
    }
  }
  if (i >= pattern.size()) {
    end = std::string::npos;
    return false;
  }
  end = i + 1;
  return found != negated;
}

}  // namespace

bool matches(const std::string& pattern, const std::string& name) {
  // Iterative, with one place to go back to for the last '*': linear in
  // practice, and no recursion for any pattern.
  std::size_t p = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    const std::size_t length = character_length(name, n);
    if (p < pattern.size()) {
      const char c = pattern[p];
      if (c == '*') {
        star = ++p;
        resume = n;
        continue;
      }
      std::size_t end = 0;
      if (c == '?') {
        ++p;
        n += length;
        continue;
      }
      if (c == '[' && in_set(pattern, p, name.substr(n, length), end)) {
        p = end;
        n += length;
        continue;
      }
      if (c == '[' && end != std::string::npos) {
        // A closed set that does not hold the character: no match here.
      } else {
        std::size_t literal = p;
        if (c == '\\' && p + 1 < pattern.size()) ++literal;
        const std::size_t m = character_length(pattern, literal);
        if (pattern.compare(literal, m, name, n, length) == 0 && m == length) {
          p = literal + m;
          n += length;
          continue;
        }
      }
    }
    if (star == std::string::npos) return false;
    p = star;
    resume += character_length(name, resume);
    n = resume;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::uint32_t> select_entries(
    const Palette& palette, const std::vector<std::string>& patterns) {
  const auto& entries = palette.entries();
  std::vector<bool> chosen(entries.size(), false);
  for (const std::string& pattern : patterns) {
    bool any = false;
    const bool by_colour = pattern.size() == 7 && pattern[0] == '#';
    for (std::size_t e = 0; e < entries.size(); ++e) {
      bool hit = by_colour && common::ascii_lower(pattern) == entries[e].hex;
      for (const std::string& name : entries[e].names)
        hit = hit || matches(pattern, name);
      if (hit) chosen[e] = true;
      any = any || hit;
    }
    if (any) continue;
    // The nearest name, by edits, to say what was probably meant: the
    // pattern's first literal part against as much of each name, both cut
    // to their first 32 bytes, so that long names cost no more than short.
    constexpr std::size_t kCompared = 32;
    const std::string literal =
        pattern.substr(0, std::min(pattern.find_first_of("*?[\\"), kCompared));
    const bool open = literal.size() < pattern.size();
    std::string nearest;
    std::size_t best = SIZE_MAX;
    for (const Entry& e : entries)
      for (const std::string& name : e.names) {
        const std::size_t d = common::edit_distance(
            literal, name.substr(0, open ? literal.size() : kCompared));
        if (d < best) best = d, nearest = name;
      }
    throw common::UsageFailure(
        "--select " + common::quote_short(pattern) + ": matches no object" +
        (best == SIZE_MAX
             ? std::string()
             : "; the nearest name is " + common::quote_short(nearest)));
  }
  std::vector<std::uint32_t> selected;
  for (std::uint32_t e = 0; e < entries.size(); ++e)
    if (chosen[e]) selected.push_back(e);
  return selected;
}

}  // namespace matte
