// Test hosts export their functions and data as a renderer exports its API,
// with the one marking that every host of the tree uses.
#pragma once

#include "support/module.h"

#define HOST_EXPORT extern "C" RENDERER_EXPORT
