#include "client/common/exception_text.h"

#include "platform/unexpected_error.h"

namespace client {

std::string ExceptionText(std::exception_ptr error) { return platform::exception_text(error); }

std::string UnexpectedErrorLine(std::exception_ptr error) { return "Unexpected error: " + ExceptionText(error); }

}  // namespace client
