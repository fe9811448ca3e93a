#include "tools/refhost/builtin_scene.h"

#include "tools/refhost/scene_reader.h"

// The built-in scene: a still life of about thirty named objects, a table with
// fruit and books, chairs, crates, balls and a shelf, seen from above the
// floor. Written as a scene file would be, so it is also an example of one.
namespace refhost {

namespace {

constexpr const char* kStillLife = R"json({
  "camera": {"position": [0, 4.6, 9.5], "look_at": [0, 1.5, -1], "fov": 40},
  "image": {"width": 640, "height": 360},
  "shader": {"seed": 37, "grayscale": false},
  "objects": [
    {"name": "floor", "shape": "plane", "position": [0, 0, 0], "size": [40, 1, 40]},
    {"name": "wall_back", "shape": "box", "position": [0, 4, -5], "size": [40, 8, 0.2]},
    {"name": "rug", "shape": "plane", "position": [0, 0.01, 0.6], "size": [7, 1, 4.4]},
    {"name": "table_top", "shape": "box", "position": [0, 1.5, 0], "size": [4, 0.15, 2]},
    {"name": "table_leg_fl", "shape": "box", "position": [-1.8, 0.72, 0.8], "size": [0.15, 1.45, 0.15]},
    {"name": "table_leg_fr", "shape": "box", "position": [1.8, 0.72, 0.8], "size": [0.15, 1.45, 0.15]},
    {"name": "table_leg_bl", "shape": "box", "position": [-1.8, 0.72, -0.8], "size": [0.15, 1.45, 0.15]},
    {"name": "table_leg_br", "shape": "box", "position": [1.8, 0.72, -0.8], "size": [0.15, 1.45, 0.15]},
    {"name": "apple_01", "shape": "sphere", "position": [-0.9, 1.86, 0.35], "size": 0.28},
    {"name": "apple_02", "shape": "sphere", "position": [-0.35, 1.86, 0.55], "size": 0.28},
    {"name": "orange", "shape": "sphere", "position": [0.15, 1.88, 0.2], "size": 0.3},
    {"name": "plum", "shape": "sphere", "position": [0.55, 1.78, 0.6], "size": 0.2},
    {"name": "melon", "shape": "sphere", "position": [1.1, 2.03, -0.3], "size": 0.45},
    {"name": "vase", "shape": "box", "position": [-1.35, 2.08, -0.45], "size": [0.4, 1.0, 0.4]},
    {"name": "book_01", "shape": "box", "position": [1.35, 1.64, 0.62], "size": [0.8, 0.12, 0.55]},
    {"name": "book_02", "shape": "box", "position": [1.32, 1.76, 0.6], "size": [0.72, 0.12, 0.5]},
    {"name": "book_03", "shape": "box", "position": [1.36, 1.88, 0.63], "size": [0.66, 0.12, 0.46]},
    {"name": "chair_left_seat", "shape": "box", "position": [-3, 0.9, 0.3], "size": [1, 0.12, 1]},
    {"name": "chair_left_back", "shape": "box", "position": [-3.45, 1.7, 0.3], "size": [0.1, 1.5, 1]},
    {"name": "chair_right_seat", "shape": "box", "position": [3, 0.9, 0.3], "size": [1, 0.12, 1]},
    {"name": "chair_right_back", "shape": "box", "position": [3.45, 1.7, 0.3], "size": [0.1, 1.5, 1]},
    {"name": "crate_01", "shape": "box", "position": [-5.2, 0.6, -2], "size": [1.2, 1.2, 1.2]},
    {"name": "crate_02", "shape": "box", "position": [-3.8, 0.5, -2.7], "size": [1, 1, 1]},
    {"name": "crate_03", "shape": "box", "position": [-4.9, 1.65, -2.2], "size": [0.9, 0.9, 0.9]},
    {"name": "ball_01", "shape": "sphere", "position": [4.3, 0.5, -1.4], "size": 0.5},
    {"name": "ball_02", "shape": "sphere", "position": [5.2, 0.35, -0.3], "size": 0.35},
    {"name": "ball_03", "shape": "sphere", "position": [3.7, 0.3, 2.1], "size": 0.3},
    {"name": "globe", "shape": "sphere", "position": [5.0, 1.0, -3.4], "size": 1.0},
    {"name": "shelf_board", "shape": "box", "position": [0, 3.4, -4.6], "size": [5, 0.12, 0.6]},
    {"name": "shelf_book_01", "shape": "box", "position": [-2.0, 3.86, -4.6], "size": [0.25, 0.8, 0.5]},
    {"name": "shelf_book_02", "shape": "box", "position": [-1.7, 3.81, -4.6], "size": [0.25, 0.7, 0.5]},
    {"name": "shelf_book_03", "shape": "box", "position": [-1.4, 3.91, -4.6], "size": [0.25, 0.9, 0.5]},
    {"name": "clock", "shape": "sphere", "position": [1.5, 3.86, -4.6], "size": 0.4}
  ]
})json";

}  // namespace

Scene default_scene() { return parse_scene(kStillLife, "built-in scene"); }

}  // namespace refhost
