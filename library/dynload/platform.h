// The operating system's symbol lookup, behind one small interface.
#pragma once

namespace dynload {

// The code Windows gives for a procedure that is not found. POSIX has no code
// of its own, so it reports this one too, as does a lookup without a module.
inline constexpr int kProcedureNotFound = 127;

// The address of `name` in `module`, or null.
void* platform_lookup(void* module, const char* name);

// The system error code of the lookup that just failed on this thread.
int platform_last_error();

}  // namespace dynload
