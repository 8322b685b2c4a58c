#include "client/common/exception_text.h"

namespace client {

std::string ExceptionText(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception of unknown kind";
  }
}

std::string UnexpectedErrorLine(std::exception_ptr error) { return "Unexpected error: " + ExceptionText(error); }

}  // namespace client
