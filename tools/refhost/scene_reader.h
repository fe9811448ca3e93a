// Reading the scene format: a scene file or text into the scene's own
// records, straight from the parser's events, with every fault placed and
// explained.
#pragma once

#include <string>

#include "tools/refhost/scene.h"

namespace refhost {

// Reads a scene file. Throws refhost::Failure naming the file and the place
// of the first fault.
Scene load_scene(const std::string& path);

// Parses scene text; `origin` names it in errors.
Scene parse_scene(const std::string& text, const std::string& origin);

}  // namespace refhost
