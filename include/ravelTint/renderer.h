/* ravelTint's contract with the renderer that loads it: the six renderer
 * functions the shader calls (and the warning it gives where it cannot
 * write the colour record it was asked for), the parts of the renderer's records that it
 * reads, and the marking with which a renderer exports those functions so
 * that the library finds them by name in the module handed to
 * miSetModuleHandle. C99 and C++. Every renderer of this tree (the
 * reference host, ravelTint-check, the test and benchmark hosts) includes
 * it; the library declares its own entries of the same names from it. */
#ifndef RAVELTINT_RENDERER_H
#define RAVELTINT_RENDERER_H

#include <stdint.h>

/* Marks a renderer's definition of one of its functions (or any symbol the
 * library or a test looks up by name) as exported from its module. */
#if defined(_WIN32)
#define RAVELTINT_RENDERER_EXPORT __declspec(dllexport)
#else
#define RAVELTINT_RENDERER_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The render state of the sample being shaded; see ravelTint_state_layout. */
struct ravelTint_state;

/* The renderer's 32-bit identifier of a scene database element; 0 is none. */
typedef uint32_t ravelTint_tag;

/* The records, as far as the shader reads them: the fields at their byte
 * offsets in the renderer's 64-bit layout, the rest left as bytes. */

/* The current shader record. */
typedef struct ravelTint_shader_record {
  unsigned char other_fields[96];
  /* 0: no parameter of the shader is connected. Otherwise the distance in
   * bytes from a parameter's value to the connection tag kept beside it. */
  int32_t connection_offset;
} ravelTint_shader_record;

/* The render state (what a struct ravelTint_state points to). */
typedef struct ravelTint_state_layout {
  unsigned char other_fields[160];
  ravelTint_tag instance; /* the instance being shaded */
  unsigned char more_fields[312 - 164];
  const ravelTint_shader_record* shader; /* the current shader record */
} ravelTint_state_layout;

/* An instance record, as mi_db_access returns it. */
typedef struct ravelTint_instance_record {
  unsigned char other_fields[216];
  ravelTint_tag item; /* the named scene element the instance refers to */
} ravelTint_instance_record;

/* A module that gives these names other signatures (a test of the
 * library's entries, say) defines RAVELTINT_RENDERER_MARKING_ONLY first. */
#ifndef RAVELTINT_RENDERER_MARKING_ONLY
/* The address of the evaluated value of a connected parameter. */
void* mi_phen_eval(struct ravelTint_state* state, void* parameter);
/* Pins a database element and returns its record. */
void* mi_db_access(ravelTint_tag tag);
/* Releases a pin taken by mi_db_access. */
void mi_db_unpin(ravelTint_tag tag);
/* The element's name, zero-terminated, or null. The shader only reads it. */
char* mi_api_tag_lookup(ravelTint_tag tag);
/* Seeds the renderer's random generator. */
void mi_srandom(int32_t seed);
/* The next number of the renderer's random generator. */
float mi_random(void);
/* A warning for the renderer's log, printf-style. The library calls it only
 * where it cannot write the colour record that RAVELTINT_RECORD asks for;
 * the text it hands over is finished, every '%' doubled. */
intptr_t mi_warning(const char* format, ...);
#endif

#ifdef __cplusplus
}
#endif

#endif
