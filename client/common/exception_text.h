#pragma once
// The text of an exception that reached a place that must not let it pass
// (an event handler, the main loop): logged, and the program goes on.

#include <exception>
#include <string>

namespace client {

// "what()" of a std::exception, else a fixed text for an unknown kind; a
// null pointer gives an empty text.
std::string ExceptionText(std::exception_ptr error);

// The line the programs log for it: "Unexpected error: " + the text.
std::string UnexpectedErrorLine(std::exception_ptr error);

}  // namespace client
