#pragma once
// Socket and host-name failures: an index into a fixed table of texts.
// Callers test the index, never the text: would_block means "try again later".

#include <exception>

namespace engine {

class network_error : public std::exception {
 public:
  static constexpr int interrupted = 6;
  static constexpr int would_block = 14;
  static constexpr int host_not_found = 25;
  static constexpr int unknown = 26;
  static constexpr int table_size = 27;

  explicit network_error(int index) : m_index(index < 0 || index >= table_size ? unknown : index) {}

  int error_code() const noexcept { return m_index; }
  const char* what() const noexcept override;

  // The table index for an errno value (anything not in the table is `unknown`).
  static int translate_errno(int err) noexcept;
  static network_error from_errno(int err) noexcept { return network_error(translate_errno(err)); }

 private:
  int m_index;
};

}  // namespace engine
