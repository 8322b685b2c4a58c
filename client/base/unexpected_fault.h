#pragma once
// The log line of a fault caught where no fault of its kind was expected:
// "Unexpected error in <where>: <text>". It goes to the log the catching
// code has (the main window's, which the standard error stream gets too),
// and the program goes on.

#include <string>
#include <string_view>

namespace client {

// The line of the exception being handled; call it inside a catch block.
std::wstring UnexpectedFault(std::string_view where);

}  // namespace client
