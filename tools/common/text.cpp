#include "tools/common/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/printable.h"
#include "tools/common/platform.h"

namespace common {

namespace {

std::string escaped(std::string_view text, int quote) {
  std::string out(printable(nullptr, 0, text.data(), text.size(), quote), '\0');
  printable(out.data(), out.size() + 1, text.data(), text.size(), quote);
  return out;
}

constexpr std::size_t kShownBytes = 60;

}  // namespace

namespace {
const char* current_program = "ravelTint";
}  // namespace

const char* program_name() { return current_program; }

int report_error(const std::string& what, int status) {
  std::fprintf(stderr, "%s: error: %s\n", program_name(),
               printable_line(what).c_str());
  return status;
}

int run_program(const char* name, const std::function<int()>& body) {
  current_program = name;
  platform::report_broken_pipes();
  int status = 0;
  try {
    status = body();
  } catch (const platform::Interrupted& interrupt) {
    platform::end_by(interrupt);
  } catch (const UsageFailure& failure) {
    return report_error(failure.what(), kUsageError);
  } catch (const std::bad_alloc&) {
    return report_error("out of memory", kFailure);
  } catch (const std::exception& e) {
    return report_error(e.what(), kFailure);
  }
  const int written = finish_output();
  return status != 0 ? status : written;
}

int finish_output() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return 0;
  std::clearerr(stdout);
  return report_error(
      std::string("cannot write to standard output") +
          (!flushed && error ? std::string(": ") + std::strerror(error) : ""),
      1);
}

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
