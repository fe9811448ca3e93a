// One image of the matte tool, from its file to its outputs and report.
#pragma once

#include <string>

#include "tools/matte/options.h"

namespace matte {

// `path` with its run of '#' replaced by the frame's number, padded with
// zeros to the run's length.
std::string frame_path(const std::string& path, long frame);

// Reads frame `frame` of the image (0 where there are no frames), unmixes
// it, commits its outputs and reports it. Throws common::Failure.
void process(const Options& options, long frame);

}  // namespace matte
