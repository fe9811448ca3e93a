/* The shader's version, which renderers ask ravelTint_version() for and
 * hosts check: the one place it is written. C and C++. */
#ifndef RAVELTINT_SHADER_VERSION_H
#define RAVELTINT_SHADER_VERSION_H

#define RAVELTINT_SHADER_VERSION 2

#endif
