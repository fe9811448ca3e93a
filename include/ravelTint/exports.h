// Marks the library's three exported functions; everything else is hidden.
#pragma once

#if defined(_WIN32)
#define RAVELTINT_EXPORT __declspec(dllexport)
#else
#define RAVELTINT_EXPORT __attribute__((visibility("default")))
#endif
