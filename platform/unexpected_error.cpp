#include "platform/unexpected_error.h"

#include <cstdio>

namespace platform {

std::string exception_text(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception of unknown kind";
  }
}

std::string unexpected_error_line(std::string_view where, std::exception_ptr error) {
  std::string line = "Unexpected error in ";
  line += where;
  line += ": ";
  line += exception_text(error);
  return line;
}

void report_unexpected_error(std::string_view where) noexcept {
  try {
    const std::string line = unexpected_error_line(where, std::current_exception());
    std::fprintf(stderr, "%s\n", line.c_str());
  } catch (...) {
    // No memory for the line: the fixed text is all that can be said.
    std::fprintf(stderr, "Unexpected error in %.*s\n", static_cast<int>(where.size()), where.data());
  }
}

}  // namespace platform
