#pragma once
// A shared library opened at run time (dlopen) and the addresses of the
// functions it exports (dlsym). Closed when the object goes, unless the
// caller keeps it open for good with keep_loaded().

#include <string>

namespace platform {

class dynamic_library {
 public:
  dynamic_library() = default;
  // Opens the library at `path` (a file name alone is searched for the way
  // the system loader searches). Check is_loaded() for the outcome.
  explicit dynamic_library(const std::string& path);
  ~dynamic_library();

  dynamic_library(dynamic_library&& other) noexcept;
  dynamic_library& operator=(dynamic_library&& other) noexcept;
  dynamic_library(const dynamic_library&) = delete;
  dynamic_library& operator=(const dynamic_library&) = delete;

  bool is_loaded() const { return m_handle != nullptr; }

  // The address that the library exports under `name`; null when it has
  // none or nothing is loaded.
  void* symbol(const char* name) const;

  // Like symbol(), converted to the function pointer type F.
  template <class F>
  F function(const char* name) const {
    return reinterpret_cast<F>(symbol(name));
  }

  // Leaves the library loaded until the process ends; this object forgets it.
  void keep_loaded() { m_handle = nullptr; }

  // The loader's text for the last failed open, empty otherwise.
  const std::string& error() const { return m_error; }

 private:
  void close();

  void* m_handle = nullptr;
  std::string m_error;
};

}  // namespace platform
