// The message entries against any text: formats drawn from a safe grammar
// (literal text and a fixed set of conversions), arguments of any content.
// The host must print exactly the intended text, cut at 1023 characters;
// AddressSanitizer watches every buffer on the way.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "library/dynload/slot_ids.h"
#include "library/dynload/variadic.h"
#include "ravelTint/ravelTint.h"
#include "support/module.hpp"
#include "tests/hosts/message_host.h"

namespace {

// Literal text: anything but '%' and the terminating zero.
std::string literal(FuzzedDataProvider& input) {
  std::string text = input.ConsumeRandomLengthString(600);
  for (char& c : text)
    if (c == '%' || c == '\0') c = '_';
  return text;
}

// What the caller means: the C library's own formatting, cut at 1023.
template <typename... Args>
std::string intended(const std::string& format, Args... args) {
  static char text[1 << 16];
  std::snprintf(text, sizeof text, format.c_str(), args...);
  return std::string(text).substr(0, 1023);
}

void check(const message_host::Printed* printed, unsigned function,
           std::int32_t code, const std::string& expected) {
  if (printed->function != static_cast<int>(function) ||
      printed->code != code || expected != printed->text) {
    std::fprintf(stderr, "slot %d code %d printed \"%s\"\nexpected \"%s\"\n",
                 printed->function, printed->code, printed->text,
                 expected.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static void* host = [] {
    void* module = support::require_module("message_host");
    miSetModuleHandle(module);
    return module;
  }();
  static const auto printed = reinterpret_cast<message_host::LastPrinted>(
      support::require_symbol(host, "message_host_printed"));
  namespace slot = dynload::slot;

  FuzzedDataProvider input(data, size);
  const int shape = input.ConsumeIntegralInRange(0, 3);
  const std::string a = literal(input), b = literal(input), c = literal(input);
  const std::string s1 = input.ConsumeRandomLengthString(1500);
  const std::string s2 = input.ConsumeRandomLengthString(600);
  const auto n = input.ConsumeIntegral<int>();
  const auto u = input.ConsumeIntegral<unsigned>();
  const auto ll = input.ConsumeIntegral<long long>();
  const double d = input.ConsumeIntegral<int>() / 1024.0;
  const char ch = static_cast<char>(input.ConsumeIntegralInRange(1, 255));

  switch (shape) {
    case 0: {
      const std::string format = a + "%s" + b;
      mi_info(format.c_str(), s1.c_str());
      check(printed(), slot::mi_info, 0, intended(format, s1.c_str()));
      break;
    }
    case 1: {
      const std::string format = a + "%d" + b + "%s" + c + "%%";
      mi_error(format.c_str(), n, s2.c_str());
      check(printed(), slot::mi_error, 0, intended(format, n, s2.c_str()));
      break;
    }
    case 2: {
      const std::string format = a + "%s%%%x" + b + "%s";
      mi_nwarning(n, format.c_str(), s1.c_str(), u, s2.c_str());
      check(printed(), slot::mi_nwarning, n,
            intended(format, s1.c_str(), u, s2.c_str()));
      break;
    }
    default: {
      const std::string format = a + "%5.2f|%c|%lld" + b;
      mi_vdebug(format.c_str(), d, ch, ll);
      check(printed(), slot::mi_vdebug, 0, intended(format, d, ch, ll));
      break;
    }
  }
  return 0;
}
