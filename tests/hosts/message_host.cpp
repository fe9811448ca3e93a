// The message and varying-argument test host (see message_host.h).
#include "tests/hosts/message_host.h"

#include <cstdarg>
#include <cstdio>

#include "library/dynload/slot_ids.h"
#include "library/dynload/variadic.h"
#include "tests/hosts/export.h"

using namespace message_host;
namespace slot = dynload::slot;

namespace {

thread_local Printed printed;
thread_local Received received;

std::intptr_t print(int function, std::int32_t code, const char* format,
                    va_list args) {
  printed.function = function;
  printed.code = code;
  std::vsnprintf(printed.text, sizeof printed.text, format, args);
  return 1000 + function;
}

void receive_start(int function) {
  received.function = function;
  received.count = 0;
}

void receive(std::int64_t value) { received.values[received.count++] = value; }

template <typename T>
void receive_values(va_list& args, int count) {
  for (int i = 0; i < count; ++i) receive(va_arg(args, T));
}

}  // namespace

HOST_EXPORT const Printed* message_host_printed() { return &printed; }
HOST_EXPORT const Received* message_host_received() { return &received; }

#define MESSAGE(name)                                                \
  HOST_EXPORT std::intptr_t name(const char* format, ...) {          \
    va_list args;                                                    \
    va_start(args, format);                                          \
    const std::intptr_t result = print(slot::name, 0, format, args); \
    va_end(args);                                                    \
    return result;                                                   \
  }
#define CODED_MESSAGE(name)                                                    \
  HOST_EXPORT std::intptr_t name(std::int32_t code, const char* format, ...) { \
    va_list args;                                                              \
    va_start(args, format);                                                    \
    const std::intptr_t result = print(slot::name, code, format, args);        \
    va_end(args);                                                              \
    return result;                                                             \
  }

#define MI_ENTRY(name, kind) MI_ENTRY_##kind(name)
#define MI_ENTRY_PLAIN(name)
#define MI_ENTRY_VARARGS(name)
#define MI_ENTRY_MESSAGE(name) MESSAGE(name)
#define MI_ENTRY_CODED_MESSAGE(name) CODED_MESSAGE(name)
#include "library/dynload/entries.def"

// The renderer reads as many values, of such widths, as the selector says.
HOST_EXPORT std::intptr_t mi_query(std::int32_t code, std::intptr_t second,
                                   std::int32_t third, std::intptr_t fourth,
                                   ...) {
  receive_start(slot::mi_query);
  receive(code), receive(second), receive(third), receive(fourth);
  va_list args;
  va_start(args, fourth);
  if (code == host::kQueryInt32First || code == host::kQueryInt32Second)
    receive_values<std::int32_t>(args, 1);
  if (code == host::kQueryInt64) receive_values<std::int64_t>(args, 1);
  va_end(args);
  return 5000 + code;
}

namespace {

void receive_scene(std::int32_t type, va_list& args) {
  if (type == host::kSceneWideThenEight) {
    receive_values<std::int64_t>(args, 1);
    receive_values<std::int32_t>(args, 8);
  } else if (type == host::kSceneThreeThenWide) {
    receive_values<std::int32_t>(args, 3);
    receive_values<std::int64_t>(args, 1);
  } else {
    receive_values<std::int32_t>(args, 8);
  }
}

}  // namespace

HOST_EXPORT std::intptr_t mi_scene_create(std::intptr_t first,
                                          std::int32_t type, ...) {
  receive_start(slot::mi_scene_create);
  receive(first), receive(type);
  va_list args;
  va_start(args, type);
  receive_scene(type, args);
  va_end(args);
  return first;
}

HOST_EXPORT std::intptr_t mi_scene_recreate(std::int32_t first,
                                            std::int32_t type, ...) {
  receive_start(slot::mi_scene_recreate);
  receive(first), receive(type);
  va_list args;
  va_start(args, type);
  receive_scene(type, args);
  va_end(args);
  return first;
}

HOST_EXPORT std::intptr_t mi_scene_growedit(std::int32_t first, ...) {
  receive_start(slot::mi_scene_growedit);
  receive(first);
  va_list args;
  va_start(args, first);
  receive_values<std::int32_t>(args, 8);
  va_end(args);
  return INT64_C(0x7000000000000000) | first;
}
