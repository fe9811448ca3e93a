// The host of the message and varying-argument tests. Its message functions
// format the text they are handed, as the renderer does, and keep what they
// printed per thread; its query and scene functions keep the values they
// received.
#pragma once

#include <cstdint>

namespace message_host {

struct Printed {
  int function;       // the slot of the function that printed
  std::int32_t code;  // for the coded messages
  char text[4096];
};

struct Received {
  int function;
  int count;
  std::int64_t values[16];
};

using LastPrinted = const Printed* (*)();    // this thread's
using LastReceived = const Received* (*)();  // this thread's

}  // namespace message_host
