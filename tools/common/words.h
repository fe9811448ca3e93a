// "Did you mean": words a person may have meant, and the count of a thing
// in words.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace common {

// The text with ASCII capitals made small; other bytes as they are.
std::string ascii_lower(std::string_view text);

// Insertions, deletions, substitutions and swaps of neighbours that turn one
// text into the other.
std::size_t edit_distance(const std::string& a, const std::string& b);

// The known word that `word` differs from only in case or by at most two
// edits, or null.
const char* meant_word(const std::string& word,
                       const std::vector<const char*>& known);

// The characters of UTF-8 text before byte `offset`: a column as a person
// counts it.
std::size_t characters_before(std::string_view text, std::size_t offset);

// "1 object", "2 objects": a count and its noun, which takes an "s" but
// for one.
std::string count_of(std::size_t n, const char* noun);

}  // namespace common
