// The scene the reference host renders when it is given none.
#pragma once

#include "tools/refhost/scene.h"

namespace refhost {

// The built-in still life.
Scene default_scene();

}  // namespace refhost
