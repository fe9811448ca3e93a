// Seed planning for a real scene, from its object names alone (--names):
// the seeds a name gets are the same in every renderer, so which objects
// share their seeds, and so their colours, is known without rendering.
#pragma once

#include <string>

#include "tools/refhost/options.h"
#include "tools/refhost/scene.h"

namespace refhost {

// Reads a names file: one object name a line (UTF-8; a final line break and
// a line's closing carriage return are not part of the name), optionally
// followed by a tab and the object's own seed. Throws Failure with the line.
Scene load_names(const std::string& path);

// Shades every name through the library, as --names asks (with --search and
// --separate), and writes the manifest and the report.
void plan_names(const Options& options, const std::string& library_path);

}  // namespace refhost
