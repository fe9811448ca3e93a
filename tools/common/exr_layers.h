// Which layer of an EXR file holds the ID image. A renderer's file may hold
// many layers (ViewLayer.Combined, its Cryptomatte, depth, ...), in one part
// or in several; a layer is the channels that share a name up to their last
// dot, and its colour is R, G, B and A (or r, g, b and a).
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

namespace common {

// What the picking needs of one part of a file.
struct ExrPartChannels {
  std::string name;                   // the part's name, if it has one
  std::vector<std::string> channels;  // every channel's full name
  std::map<std::string, std::string> attributes;
};

// The layer chosen: its part, its name ("" for bare R, G, B, A) and the
// full names of its R, G, B and A channels (A empty where it has none).
struct ExrLayer {
  int part = 0;
  std::string name;
  std::array<std::string, 4> channels;
};

// The layer named `wanted`, or, with nothing wanted, the one layer of the
// file that holds R, G and B (Cryptomatte layers, which the header names,
// hold IDs, not colours). Throws Failure naming `path` and listing the
// file's layers where there is no such layer, or more than one.
ExrLayer pick_layer(const std::vector<ExrPartChannels>& parts,
                    const std::string& wanted, const std::string& path);

}  // namespace common
