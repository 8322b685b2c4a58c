#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace platform {

dynamic_library::dynamic_library(const std::string& path) {
  m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    const char* text = ::dlerror();
    m_error = text ? text : "cannot open " + path;
  }
}

dynamic_library::~dynamic_library() { close(); }

dynamic_library::dynamic_library(dynamic_library&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_error(std::move(other.m_error)) {}

dynamic_library& dynamic_library::operator=(dynamic_library&& other) noexcept {
  if (this != &other) {
    close();
    m_handle = std::exchange(other.m_handle, nullptr);
    m_error = std::move(other.m_error);
  }
  return *this;
}

void* dynamic_library::symbol(const char* name) const {
  if (!m_handle) return nullptr;
  return ::dlsym(m_handle, name);
}

void dynamic_library::close() {
  if (m_handle) ::dlclose(std::exchange(m_handle, nullptr));
}

}  // namespace platform
