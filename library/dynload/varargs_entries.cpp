// The query and scene entries. A variable argument list cannot be handed on,
// so each entry reads the values that its selector names, in order and each
// with its width, and calls the renderer with that fixed list. The renderer's
// functions are variadic, and are called as such.
#include <cstdarg>
#include <cstdint>

#include "library/dynload/slot_ids.h"
#include "library/dynload/slots.h"
#include "library/dynload/variadic.h"

namespace {

using i32 = std::int32_t;
using i64 = std::intptr_t;

// The variable part's values, read one at a time in the caller's order. The
// list is taken by reference: on Win64 a va_list is a plain pointer, and a
// copy would not move the caller's reading position on.
template <typename T, int N>
void read_values(va_list& args, T (&values)[N]) {
  for (T& value : values) value = va_arg(args, T);
}

// Each helper resolves its entry's slot before it looks at the selector; after
// a failed lookup (already reported) it reads nothing and returns 0.

template <typename First>
std::intptr_t create(unsigned slot, First first, i32 type, va_list& args) {
  using Create = std::intptr_t (*)(First, i32, ...);
  const auto host = reinterpret_cast<Create>(dynload_function(slot));
  if (!host) return 0;
  switch (type) {
    case host::kSceneWideThenEight: {
      const i64 wide = va_arg(args, i64);
      i32 v[8];
      read_values(args, v);
      return host(first, type, wide, v[0], v[1], v[2], v[3], v[4], v[5], v[6],
                  v[7]);
    }
    case host::kSceneThreeThenWide: {
      i32 v[3];
      read_values(args, v);
      const i64 wide = va_arg(args, i64);
      return host(first, type, v[0], v[1], v[2], wide);
    }
    default: {
      i32 v[8];
      read_values(args, v);
      return host(first, type, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
    }
  }
}

std::intptr_t query(i32 code, i64 second, i32 third, i64 fourth,
                    va_list& args) {
  using Query = std::intptr_t (*)(i32, i64, i32, i64, ...);
  const auto host =
      reinterpret_cast<Query>(dynload_function(dynload::slot::mi_query));
  if (!host) return 0;
  switch (code) {
    case host::kQueryInt32First:
    case host::kQueryInt32Second:
      return host(code, second, third, fourth, va_arg(args, i32));
    case host::kQueryInt64:
      return host(code, second, third, fourth, va_arg(args, i64));
    default:  // the variable part is never touched
      return host(code, second, third, fourth);
  }
}

std::intptr_t growedit(i32 first, va_list& args) {
  using Growedit = std::intptr_t (*)(i32, ...);
  const auto host = reinterpret_cast<Growedit>(
      dynload_function(dynload::slot::mi_scene_growedit));
  if (!host) return 0;
  i32 v[8];
  read_values(args, v);
  return host(first, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
}

}  // namespace

extern "C" {

std::intptr_t mi_query(i32 code, i64 second, i32 third, i64 fourth, ...) {
  va_list args;
  va_start(args, fourth);
  const std::intptr_t result = query(code, second, third, fourth, args);
  va_end(args);
  return result;
}

std::intptr_t mi_scene_create(i64 first, i32 type, ...) {
  va_list args;
  va_start(args, type);
  const std::intptr_t result =
      create(dynload::slot::mi_scene_create, first, type, args);
  va_end(args);
  return result;
}

std::intptr_t mi_scene_recreate(i32 first, i32 type, ...) {
  va_list args;
  va_start(args, type);
  const std::intptr_t result =
      create(dynload::slot::mi_scene_recreate, first, type, args);
  va_end(args);
  return result;
}

std::intptr_t mi_scene_growedit(i32 first, ...) {
  va_list args;
  va_start(args, first);
  const std::intptr_t result = growedit(first, args);
  va_end(args);
  return result;
}

}  // extern "C"
