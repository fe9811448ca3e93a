// Builds without OpenEXR (the Windows build) write no EXR image.
#include "tools/refhost/failure.h"
#include "tools/refhost/outputs.h"

namespace refhost {

bool exr_available() { return false; }

std::string exr_bytes(const Image&, const std::string&) {
  throw UsageFailure("--exr: this build of refhost has no OpenEXR support");
}

}  // namespace refhost
