/* The shader's version, which renderers ask ravelTint_version() for and
 * hosts check, is the major number of the project's version: the build
 * hands both to every compilation (RAVELTINT_SHADER_VERSION, and the whole
 * version text as RAVELTINT_VERSION). C and C++. */
#ifndef RAVELTINT_SHADER_VERSION_H
#define RAVELTINT_SHADER_VERSION_H

#if !defined(RAVELTINT_SHADER_VERSION) || !defined(RAVELTINT_VERSION)
#error "the build defines the version from the project's version"
#endif

#endif
