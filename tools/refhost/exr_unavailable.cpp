// Builds without OpenEXR (the Windows build) write no EXR image.
#include "tools/refhost/outputs.h"
#include "tools/refhost/text.h"

namespace refhost {

void require_exr_support() {
  throw UsageFailure("--exr: this build of refhost has no OpenEXR support");
}

std::string exr_bytes(const Image&, const std::string&) {
  require_exr_support();
  return {};
}

}  // namespace refhost
