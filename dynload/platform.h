// The operating system's symbol lookup, behind one small interface.
#pragma once

namespace dynload {

// The address of `name` in `module`, or null.
void* platform_lookup(void* module, const char* name);

// The system error code of the lookup that just failed on this thread.
int platform_last_error();

}  // namespace dynload
