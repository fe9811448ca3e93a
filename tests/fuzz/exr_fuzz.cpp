// The EXR reader against any bytes: the structure check and the decoder
// behind it either read an image or refuse the file with a Failure, and
// never touch memory that is not theirs. Built twice: with tinyexr, the
// Windows build's decoder, and with OpenEXR, the Linux build's.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <new>
#include <string>

#include "tools/common/errors.h"
#include "tools/common/exr_file.h"
#include "tools/common/exr_structure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // Files that claim more pixels than a fuzzing process may hold are
  // refused for want of memory, as the tools refuse them.
  try {
    const common::ExrStructure structure = common::exr_structure(bytes);
    for (const common::ExrPart& part : structure.parts)
      if (static_cast<std::int64_t>(part.width) * part.height > (1 << 22))
        return 0;
  } catch (const common::ExrFault&) {
  }
  // A file of this process's own: several fuzzers may share a folder.
  static const std::string path =
      "exr_fuzz_input." + std::to_string(getpid()) + ".exr";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  for (const char* layer : {"", "id"}) {
    try {
      common::read_exr_rgba(path, layer);
    } catch (const common::Failure&) {
    } catch (const std::bad_alloc&) {
    }
  }
  try {
    common::read_exr(path);
  } catch (const common::Failure&) {
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
