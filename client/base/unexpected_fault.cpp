#include "client/base/unexpected_fault.h"

#include "client/base/wide_text.h"
#include "platform/unexpected_error.h"

#include <exception>

namespace client {

std::wstring UnexpectedFault(std::string_view where) {
  return Utf8ToWide(platform::unexpected_error_line(where, std::current_exception()));
}

}  // namespace client
