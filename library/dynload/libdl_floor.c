/* A link-time stand-in for glibc's libdl.so.2, never shipped and never
 * loaded: the library and ravelTint-check link against it so that their
 * version needs for the dl* functions name libdl.so.2, the file that holds
 * them on every glibc before 2.34. Linked against the real C library, the
 * need would name libc.so.6, which glibc 2.17 to 2.29 refuse when the symbol
 * is not in that file ("symbol dlerror version GLIBC_2.2.5 not defined in
 * file libc.so.6"), as it is not before 2.34. glibc 2.34 and later find the
 * functions in libc.so.6 whatever file the need names. The version script
 * beside this file gives each the version GLIBC_2.2.5 of those libdl.so.2. */
void* dlopen(const char* file, int mode) {
  (void)file;
  (void)mode;
  return 0;
}

int dlclose(void* handle) {
  (void)handle;
  return 0;
}

void* dlsym(void* handle, const char* name) {
  (void)handle;
  (void)name;
  return 0;
}

char* dlerror(void) { return 0; }
