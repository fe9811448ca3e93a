#include "tools/common/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/common/platform.h"
#include "tools/common/quoting.h"

namespace common {

namespace {
const char* current_program = "ravelTint";
}  // namespace

const char* program_name() { return current_program; }

int report_error(const std::string& what, int status) {
  std::fprintf(stderr, "%s: error: %s\n", program_name(),
               printable_line(what).c_str());
  return status;
}

int run_program(const char* name, const std::function<int()>& body) {
  current_program = name;
  platform::report_broken_pipes();
  int status = 0;
  try {
    status = body();
  } catch (const platform::Interrupted& interrupt) {
    platform::end_by(interrupt);
  } catch (const UsageFailure& failure) {
    return report_error(failure.what(), kUsageError);
  } catch (const std::bad_alloc&) {
    return report_error("out of memory", kFailure);
  } catch (const std::exception& e) {
    return report_error(e.what(), kFailure);
  }
  const int written = finish_output();
  return status != 0 ? status : written;
}

int finish_output() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return 0;
  std::clearerr(stdout);
  return report_error(
      std::string("cannot write to standard output") +
          (!flushed && error ? std::string(": ") + std::strerror(error) : ""),
      1);
}

}  // namespace common
