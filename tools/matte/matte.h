// ravelTint-matte: mattes and Cryptomatte from a flat object-ID image.
#pragma once

namespace matte {

// Runs the matte tool with a command line; returns its exit status: 0, 1
// where an input or an output failed (with frames: any frame), 2 for a
// mistake on the command line.
int run(int argc, const char* const* argv);

}  // namespace matte
