#pragma once
// A peer broke the wire protocol; the text says how. Ends the connection.

#include <stdexcept>
#include <string>

namespace engine {

class protocol_error : public std::runtime_error {
 public:
  explicit protocol_error(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace engine
