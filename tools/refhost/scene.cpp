#include "tools/refhost/scene.h"

namespace refhost {

const char* shape_name(Shape shape) {
  switch (shape) {
    case Shape::kSphere:
      return "sphere";
    case Shape::kBox:
      return "box";
    case Shape::kPlane:
      return "plane";
  }
  return "?";
}

}  // namespace refhost
