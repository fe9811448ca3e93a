// Test hosts export their functions and data as a renderer exports its API.
#pragma once

#if defined(_WIN32)
#define HOST_VISIBLE __declspec(dllexport)
#else
#define HOST_VISIBLE __attribute__((visibility("default")))
#endif

#define HOST_EXPORT extern "C" HOST_VISIBLE
