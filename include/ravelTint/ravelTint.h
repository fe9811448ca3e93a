/* ravelTint: the object-ID shader library, as a renderer (or any host)
 * declares it. C99 and C++; it declares the three exported functions and the
 * opaque render state they take, and nothing else. */
#ifndef RAVELTINT_RAVELTINT_H
#define RAVELTINT_RAVELTINT_H

#include <stdint.h>

/* RAVELTINT_API marks the three functions. The library's own build defines
 * RAVELTINT_BUILDING_LIBRARY and exports them; programs that include this
 * header import them from ravelTint.dll, unless they link the library's
 * objects statically and define RAVELTINT_STATIC. On Linux they are simply
 * the library's visible symbols. */
#if defined(_WIN32)
#if defined(RAVELTINT_BUILDING_LIBRARY)
#define RAVELTINT_API __declspec(dllexport)
#elif defined(RAVELTINT_STATIC)
#define RAVELTINT_API
#else
#define RAVELTINT_API __declspec(dllimport)
#endif
#else
#define RAVELTINT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The renderer's render state: the library reads a few of its fields and
 * never writes it. */
struct ravelTint_state;

/* Hands the renderer's own module to the library, which looks every renderer
 * function up in it by name on first use. Call it before anything else. */
RAVELTINT_API void miSetModuleHandle(void* handle);

/* The shader: writes the object-ID colour of the sample that `state`
 * describes to `result` (four floats: red, green, blue, alpha). `params` is
 * the shader's parameter block: a 32-bit `seed`, then a 32-bit `grayscale`.
 * Returns 1. */
RAVELTINT_API int32_t ravelTint(void* result, struct ravelTint_state* state,
                                void* params);

/* The shader's version, 2. */
RAVELTINT_API int32_t ravelTint_version(void);

#ifdef __cplusplus
}
#endif

#endif
