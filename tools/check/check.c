/* ravelTint-check: the self-test an integrator runs on every machine that
 * renders with the library.
 *
 * It loads the library (beside this program, or the one named), checks its
 * three exports and its version, and then acts as a minimal renderer: it
 * exports the six renderer functions the shader calls, hands the library its
 * own module and shades a fixed set of names with fixed seeds. The seeds the
 * shader hands to mi_srandom are the part of every colour that no renderer
 * changes, so they are compared with the values this program carries; the
 * colours must be the draws that follow them, alpha 1 and the pins balanced.
 * This program exports nothing else, so any other lookup fails and the
 * library reports it on standard error, which is captured: the library must
 * write nothing at all. One line tells the outcome; the exit status is 0 for
 * a library that passed, 1 otherwise (2 for a bad command line). */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "ravelTint/ravelTint.h"
#include "ravelTint/renderer.h"
#include "library/shader/version.h"
#include "support/host_generator.h"
#include "support/module.h"
#include "support/printable.h"
#include "tools/check/capture.h"

typedef void (*SetModuleHandle)(void*);
typedef int32_t (*Shade)(void*, struct ravelTint_state*, void*);
typedef int32_t (*Version)(void);

/* ---- The renderer: its records as the renderer contract lays them out. */

enum {
  kConnectionOffset = 16, /* where this renderer keeps connection tags */
  kInstanceTag = 7,
  kItemTag = 9
};

static ravelTint_state_layout state;
static ravelTint_shader_record shader_record;
static ravelTint_instance_record instance_record;
static unsigned char parameters[32];
static const char* element_name;
static int32_t evaluated_seed;
static int pins, phen_evals;
static int32_t seeds[8];
static int seed_count;
static uint32_t generator;

static void put32(unsigned char* record, int offset, uint32_t value) {
  memcpy(record + offset, &value, sizeof value);
}

/* The draw after a seed: its top 24 bits as a fraction, so that a colour
 * tells which seed it came from. */
static float first_draw(uint32_t seed) { return host_generator_draw(seed); }

RAVELTINT_RENDERER_EXPORT void* mi_phen_eval(struct ravelTint_state* s,
                                             void* p) {
  (void)s;
  ++phen_evals;
  return p == parameters ? &evaluated_seed : NULL;
}

RAVELTINT_RENDERER_EXPORT void* mi_db_access(ravelTint_tag tag) {
  if (tag != kInstanceTag) return NULL;
  ++pins;
  return &instance_record;
}

RAVELTINT_RENDERER_EXPORT void mi_db_unpin(ravelTint_tag tag) {
  (void)tag;
  --pins;
}

RAVELTINT_RENDERER_EXPORT char* mi_api_tag_lookup(ravelTint_tag tag) {
  return tag == kItemTag ? (char*)element_name : NULL;
}

RAVELTINT_RENDERER_EXPORT void mi_srandom(int32_t seed) {
  if (seed_count < 8) seeds[seed_count] = seed;
  ++seed_count;
  generator = (uint32_t)seed;
}

RAVELTINT_RENDERER_EXPORT float mi_random(void) {
  const float draw = first_draw(generator);
  generator = host_generator_step(generator);
  return draw;
}

/* ---- What the shader must hand to mi_srandom, from the published hash of
 * each name with the seed plus 11, 21 and 31. */

#define GREY INT32_MIN
typedef struct {
  const char* name;
  int32_t seed;
  int32_t grayscale;
  int connected; /* the seed is connected: the renderer evaluates 4242 */
  int32_t expected[3];
} Case;

static const Case kCases[] = {
    {"", 0, 0, 0, {GREY, GREY, 510359008}},
    {"a", 0, 0, 0, {GREY, GREY, 1975533568}},
    {"ab", -5, 0, 0, {GREY, 2093542528, GREY}},
    {"abc", 37, 0, 0, {GREY, GREY, 1952814592}},
    {"abcd", 37, 0, 0, {GREY, 1108077568, 1325141632}},
    {"floor", 0, 0, 0, {GREY, GREY, GREY}},
    {"caf\xc3\xa9 table", 7, 0, 0, {GREY, 1555141760, 1303197696}},
    {"wrap", 2147483647, 0, 0, {1577186176, GREY, 32118676}},
    {"chair_left_seat", -1, 0, 0, {GREY, 658968640, 395485376}},
    {"lamp", 99, 1, 0, {GREY, 0, 0}},
    {"vase", 5, 0, 1, {GREY, 2094979584, GREY}},
    {"a name long enough to take every block of the hash",
     42,
     0,
     0,
     {GREY, 1786022272, 1874888320}},
};
enum { kCaseCount = sizeof kCases / sizeof kCases[0] };

/* ---- The check. */

static char library_path[4096];
static char failure[1024]; /* or, once passed, what was checked */

static int failed(const char* what) {
  snprintf(failure, sizeof failure, "%s", what);
  return 0;
}

static void set_up(const Case* c) {
  memset(&state, 0, sizeof state);
  memset(&shader_record, 0, sizeof shader_record);
  memset(parameters, 0, sizeof parameters);
  state.instance = kInstanceTag;
  state.shader = &shader_record;
  instance_record.item = kItemTag;
  put32(parameters, 0, (uint32_t)c->seed);
  put32(parameters, 4, (uint32_t)c->grayscale);
  if (c->connected) {
    shader_record.connection_offset = kConnectionOffset;
    put32(parameters, kConnectionOffset, 1);
    evaluated_seed = 4242;
  }
  element_name = c->name;
  seed_count = 0;
  phen_evals = 0;
}

static int shade_case(Shade shade, const Case* c) {
  const int channels = c->grayscale ? 1 : 3;
  float colour[4] = {-1, -1, -1, -1};
  int i;
  char what[256];
  set_up(c);
  if (shade(colour, (struct ravelTint_state*)&state, parameters) != 1)
    return failed("the shader did not return 1");
  if (seed_count != channels || phen_evals != c->connected || pins != 0) {
    snprintf(what, sizeof what,
             "name %d: %d seeds, %d evaluations and %d pins left, expected "
             "%d, %d and 0",
             (int)(c - kCases), seed_count, phen_evals, pins, channels,
             c->connected);
    return failed(what);
  }
  for (i = 0; i < 3; ++i) {
    const int32_t seed = c->expected[c->grayscale ? 0 : i];
    if ((i < channels && seeds[i] != seed) ||
        colour[i] != first_draw((uint32_t)seed)) {
      snprintf(what, sizeof what,
               "name %d, channel %d: seed %ld, expected %ld; the name hash "
               "or the seed conversion is wrong",
               (int)(c - kCases), i, (long)seeds[i < channels ? i : 0],
               (long)seed);
      return failed(what);
    }
  }
  if (colour[3] != 1.0f) return failed("alpha is not 1");
  return 1;
}

static int find(void* module, const char* name, void** function) {
  char what[128];
  *function = module_symbol(module, name);
  if (*function) return 1;
  snprintf(what, sizeof what, "not a ravelTint library (no %s)", name);
  return failed(what);
}

/* The library's report, if it wrote one, as the reason. */
static int nothing_written(const char* written) {
  char what[600];
  size_t line = strcspn(written, "\n");
  if (written[0] == '\0') return 1;
  if (line > 200) line = 200;
  snprintf(what, sizeof what, "the library reported: %.*s", (int)line, written);
  return failed(what);
}

static int check_library(void) {
  char reason[MODULE_REASON_SIZE], written[4096];
  void *module, *set_handle, *shade, *version;
  int i, passed = 1;
  int32_t shader_version;
  module = module_open(library_path, reason, sizeof reason);
  if (!module) return failed(reason);
  if (!find(module, "miSetModuleHandle", &set_handle) ||
      !find(module, "ravelTint", &shade) ||
      !find(module, "ravelTint_version", &version))
    return 0;
  shader_version = ((Version)version)();
  if (shader_version != RAVELTINT_SHADER_VERSION) {
    snprintf(reason, sizeof reason, "shader version %ld, expected %d",
             (long)shader_version, RAVELTINT_SHADER_VERSION);
    return failed(reason);
  }
  ((SetModuleHandle)set_handle)(module_self());
  if (!capture_stderr_begin()) return failed("cannot capture standard error");
  for (i = 0; i < kCaseCount && passed; ++i)
    passed = shade_case((Shade)shade, &kCases[i]);
  capture_stderr_end(written, sizeof written);
  return passed && nothing_written(written);
}

/* Beside this program, or in lib/ beside the bin/ of an installed tree. */
static void find_default_library(void) {
  char folder[4096], reason[MODULE_REASON_SIZE];
  const char sep = module_separator;
  if (!module_program_directory(folder, sizeof folder))
    folder[0] = '.', folder[1] = '\0';
  snprintf(library_path, sizeof library_path, "%s%cravelTint%s", folder, sep,
           module_suffix);
  if (module_check_file(library_path, reason, sizeof reason)) return;
  snprintf(library_path, sizeof library_path, "%s%c..%clib%cravelTint%s",
           folder, sep, sep, sep, module_suffix);
  if (module_check_file(library_path, reason, sizeof reason)) return;
  snprintf(library_path, sizeof library_path, "%s%cravelTint%s", folder, sep,
           module_suffix);
}

/* One line: the outcome, the library's path and what was found, escaped so
 * that no path or report can split the line. */
static void print_outcome(FILE* stream, const char* outcome,
                          const char* details) {
  char path[1024], text[1400];
  printable(path, sizeof path, library_path, strlen(library_path), 1);
  printable(text, sizeof text, details, strlen(details), 0);
  fprintf(stream, "ravelTint %s: %s (%s: %s)\n", RAVELTINT_VERSION, outcome,
          path, text);
}

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    printf("ravelTint-check %s\n", RAVELTINT_VERSION);
    return 0;
  }
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    const int help = argc == 2 && (strcmp(argv[1], "--help") == 0 ||
                                   strcmp(argv[1], "-h") == 0);
    fprintf(help ? stdout : stderr,
            "usage: ravelTint-check [LIBRARY]\n"
            "Checks that the ravelTint library (default: the one beside this "
            "program, or in ../lib) loads and shades as every renderer "
            "needs.\n");
    return help ? 0 : 2;
  }
  if (argc == 2)
    snprintf(library_path, sizeof library_path, "%s", argv[1]);
  else
    find_default_library();
  if (!check_library()) {
    print_outcome(stderr, "FAILED", failure);
    return 1;
  }
  snprintf(failure, sizeof failure,
           "shader version %d; %d names shaded through the 6 renderer "
           "functions, every seed and colour as expected",
           RAVELTINT_SHADER_VERSION, kCaseCount);
  print_outcome(stdout, "ok", failure);
  return 0;
}
