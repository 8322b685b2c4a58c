#include "store/mysql_client.h"

#include "platform/dynamic_library.h"

#include <map>
#include <mutex>
#include <optional>

namespace store::mysql {
namespace {

struct binding_state {
  std::mutex mutex;
  std::string path = "libmariadb.so.3";
  std::map<std::string, client_api> bound;  // by path, loaded for good
  int bind_count = 0;
};

binding_state& state() {
  static binding_state s;
  return s;
}

template <class F>
bool bind_one(const platform::dynamic_library& lib, const char* name, F& slot) {
  slot = lib.function<F>(name);
  return slot != nullptr;
}

std::optional<client_api> bind_all(const platform::dynamic_library& lib) {
  client_api api{};
  const bool complete = bind_one(lib, "mysql_free_result", api.free_result) &&
                        bind_one(lib, "mysql_real_query", api.real_query) &&
                        bind_one(lib, "mysql_init", api.init) &&
                        bind_one(lib, "mysql_real_connect", api.real_connect) &&
                        bind_one(lib, "mysql_close", api.close) &&
                        bind_one(lib, "mysql_error", api.error) &&
                        bind_one(lib, "mysql_fetch_lengths", api.fetch_lengths) &&
                        bind_one(lib, "mysql_store_result", api.store_result) &&
                        bind_one(lib, "mysql_num_fields", api.num_fields) &&
                        bind_one(lib, "mysql_fetch_row", api.fetch_row) &&
                        bind_one(lib, "mysql_real_escape_string", api.real_escape_string) &&
                        bind_one(lib, "mysql_options", api.options);
  if (!complete) return std::nullopt;
  return api;
}

}  // namespace

std::string client_library_path() {
  std::lock_guard lock(state().mutex);
  return state().path;
}

void set_client_library_path(std::string path) {
  std::lock_guard lock(state().mutex);
  state().path = std::move(path);
}

const client_api* bind_client_library() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (auto it = s.bound.find(s.path); it != s.bound.end()) return &it->second;
  platform::dynamic_library lib(s.path);
  if (!lib.is_loaded()) return nullptr;
  auto api = bind_all(lib);
  if (!api) return nullptr;
  lib.keep_loaded();
  ++s.bind_count;
  return &s.bound.emplace(s.path, *api).first->second;
}

bool client_library_available() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (s.bound.count(s.path)) return true;
  platform::dynamic_library lib(s.path);
  return lib.is_loaded() && bind_all(lib).has_value();
}

int client_library_bind_count() {
  std::lock_guard lock(state().mutex);
  return state().bind_count;
}

}  // namespace store::mysql
