// The DLL's attach step. The library starts no thread and keeps no
// per-thread state, so on process attach it asks Windows not to call it for
// every thread the renderer starts or ends, and does nothing else of its own:
// the C runtime's start-up around this function runs as usual.
//
// With mingw-w64 the request is refused: its runtime gives every DLL a TLS
// directory (its TLS callbacks rely on the thread notices), and Windows, like
// Wine, declines the call for such a DLL (Wine returns FALSE with error 126).
// The call is kept because it states what the library needs and takes effect
// with a runtime that leaves the TLS directory out; its result changes
// nothing either way, so it is not examined.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}
