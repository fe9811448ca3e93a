// Test hosts export their functions and data as a renderer exports its API,
// with the one marking that every host of the tree uses.
#pragma once

#include "ravelTint/renderer.h"

#define HOST_EXPORT extern "C" RAVELTINT_RENDERER_EXPORT
