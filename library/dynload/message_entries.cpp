// The renderer's message functions. Each entry resolves its function first (so
// a missing module is reported before anything else), formats the caller's
// message into storage of its own call and hands the renderer the finished
// text, with every '%' doubled because the renderer formats it again.
#include <cstdarg>
#include <cstdint>

#include "library/dynload/message_text.h"
#include "library/dynload/slot_ids.h"
#include "library/dynload/slots.h"
#include "library/dynload/variadic.h"

namespace {

using dynload::kEscapedSize;
using dynload::kMessageSize;

using Message = std::intptr_t (*)(const char* format, ...);
using CodedMessage = std::intptr_t (*)(std::int32_t code, const char* format,
                                       ...);

// Formats the message and hands the finished text to the renderer's function;
// without one (its lookup failed), formats all the same and returns 0.
template <typename... Code>
std::intptr_t format_and_deliver(void* function, const char* format,
                                 va_list args, Code... code) {
  char text[kMessageSize];
  char escaped[kEscapedSize];
  const char* finished = dynload::escape_percent(
      dynload::format_message(text, format, args), escaped);
  if (!function) return 0;
  if constexpr (sizeof...(Code) == 0)
    return reinterpret_cast<Message>(function)(finished);
  else
    return reinterpret_cast<CodedMessage>(function)(code..., finished);
}

}  // namespace

#define DYNLOAD_MESSAGE_ENTRY(name)                                          \
  extern "C" std::intptr_t name(const char* format, ...) {                   \
    void* function = dynload_function(dynload::slot::name);                  \
    va_list args;                                                            \
    va_start(args, format);                                                  \
    const std::intptr_t result = format_and_deliver(function, format, args); \
    va_end(args);                                                            \
    return result;                                                           \
  }

#define DYNLOAD_CODED_MESSAGE_ENTRY(name)                                     \
  extern "C" std::intptr_t name(std::int32_t code, const char* format, ...) { \
    void* function = dynload_function(dynload::slot::name);                   \
    va_list args;                                                             \
    va_start(args, format);                                                   \
    const std::intptr_t result =                                              \
        format_and_deliver(function, format, args, code);                     \
    va_end(args);                                                             \
    return result;                                                            \
  }

// One entry for every MESSAGE and CODED_MESSAGE row of the list. mi_vdebug
// takes the format's arguments themselves, exactly like mi_debug.
#define MI_ENTRY(name, kind) MI_ENTRY_##kind(name)
#define MI_ENTRY_PLAIN(name)
#define MI_ENTRY_VARARGS(name)
#define MI_ENTRY_MESSAGE(name) DYNLOAD_MESSAGE_ENTRY(name)
#define MI_ENTRY_CODED_MESSAGE(name) DYNLOAD_CODED_MESSAGE_ENTRY(name)
#include "library/dynload/entries.def"
