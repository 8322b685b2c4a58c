#pragma once
// Helpers of the store tests: the private MariaDB server that ./test.sh
// starts (tests skip without it), a plain connection for checking what the
// store wrote, and a locale with a decimal comma.

#include "store/mysql_client.h"
#include "store/torrent_database.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace store_test {

struct server {
  std::string host;
  std::uint16_t port = 0;
  std::string user;
  std::string password;
};

inline std::optional<server> server_from_environment() {
  const char* host = std::getenv("QF_MYSQL_HOST");
  const char* port = std::getenv("QF_MYSQL_PORT");
  const char* user = std::getenv("QF_MYSQL_USER");
  const char* password = std::getenv("QF_MYSQL_PASSWORD");
  if (!host || !port || !user) return std::nullopt;
  return server{host, static_cast<std::uint16_t>(std::atoi(port)), user, password ? password : ""};
}

inline std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

using cell = std::optional<std::string>;  // nullopt for NULL
using rows = std::vector<std::vector<cell>>;

// A MariaDB server of the test's own, for a test that stops it and starts
// it again (the suite's server is shared): scripts/services.d/mariadb.sh
// with a service folder of its own. Stopped when it goes.
class private_server {
 public:
  explicit private_server(const std::filesystem::path& folder) : m_folder(folder) {
    std::filesystem::create_directories(m_folder);
    if (!run("start")) return;
    std::ifstream env(m_folder / "env.sh");
    for (std::string line; std::getline(env, line);) {
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string name = line.substr(line.rfind(' ', eq) + 1, eq - line.rfind(' ', eq) - 1);
      const std::string value = line.substr(eq + 1);
      if (name == "QF_MYSQL_HOST") m_server.host = value;
      else if (name == "QF_MYSQL_PORT") m_server.port = static_cast<std::uint16_t>(std::atoi(value.c_str()));
      else if (name == "QF_MYSQL_USER") m_server.user = value;
      else if (name == "QF_MYSQL_PASSWORD") m_server.password = value;
    }
  }
  ~private_server() { stop(); }
  private_server(const private_server&) = delete;
  private_server& operator=(const private_server&) = delete;

  bool ok() const { return m_server.port != 0; }
  const server& address() const { return m_server; }
  // The server ends; its data stays for resume().
  bool stop() { return run("stop"); }
  // The server runs again on its data and port.
  bool resume() { return run("resume"); }
  // What the script said (for a failure's report).
  std::string log() const {
    std::ifstream in(m_folder / "mariadb.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  bool run(const std::string& command) const {
    const std::string line = "QF_SERVICE_DIR='" + m_folder.string() + "' QF_SERVICE_ENV='" +
                             (m_folder / "env.sh").string() + "' '" QF_SOURCE_DIR "/scripts/services.d/mariadb.sh' " +
                             command + " >>'" + (m_folder / "mariadb.log").string() + "' 2>&1";
    return std::system(line.c_str()) == 0;
  }

  std::filesystem::path m_folder;
  server m_server;
};

// A connection of its own, bypassing the store, for setting up rows and
// checking what the store wrote.
class raw_connection {
 public:
  explicit raw_connection(const server& s) : m_api(store::mysql::bind_client_library()) {
    if (!m_api) return;
    m_connection = m_api->init(nullptr);
    if (m_connection && !m_api->real_connect(m_connection, s.host.c_str(), s.user.c_str(), s.password.c_str(),
                                             "Quillfern", s.port, nullptr, 0)) {
      m_api->close(m_connection);
      m_connection = nullptr;
    }
  }
  ~raw_connection() {
    if (m_connection) m_api->close(m_connection);
  }
  bool ok() const { return m_connection != nullptr; }
  const store::mysql::client_api& api() const { return *m_api; }
  store::mysql::connection* handle() const { return m_connection; }
  std::string error() const { return m_connection ? m_api->error(m_connection) : "no connection"; }

  bool execute(const std::string& sql) { return m_api->real_query(m_connection, sql.data(), sql.size()) == 0; }

  rows query(const std::string& sql) {
    rows out;
    if (!execute(sql)) {
      ADD_FAILURE() << sql << ": " << error();
      return out;
    }
    store::mysql::result* result = m_api->store_result(m_connection);
    if (!result) return out;
    const unsigned columns = m_api->num_fields(result);
    while (store::mysql::row row = m_api->fetch_row(result)) {
      unsigned long* lengths = m_api->fetch_lengths(result);
      auto& r = out.emplace_back();
      for (unsigned c = 0; c < columns; ++c)
        r.push_back(row[c] ? cell(std::string(row[c], lengths[c])) : std::nullopt);
    }
    m_api->free_result(result);
    return out;
  }

  // The one value of a one-row, one-column query.
  cell value(const std::string& sql) {
    rows r = query(sql);
    if (r.size() != 1 || r[0].size() != 1) {
      ADD_FAILURE() << sql << " gave " << r.size() << " rows";
      return std::nullopt;
    }
    return r[0][0];
  }

  std::size_t count(const std::string& table) { return std::stoul(value("SELECT COUNT(*) FROM " + table).value_or("0")); }

 private:
  const store::mysql::client_api* m_api;
  store::mysql::connection* m_connection = nullptr;
};

// Tests that run against the server: the seven tables start empty and the
// store is connected.
class StoreServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store::mysql::set_client_library_path("libmariadb.so.3");
    auto s = server_from_environment();
    if (!s) GTEST_FAIL() << "no MariaDB server (QF_MYSQL_HOST/QF_MYSQL_PORT/QF_MYSQL_USER unset); run ./test.sh";
    m_server = *s;
    raw = std::make_unique<raw_connection>(m_server);
    ASSERT_TRUE(raw->ok()) << raw->error();
    for (const char* table : {"torrent_data", "resume_data", "piece_selection", "trackers", "ip_filter",
                              "auto_destinations", "nodes"})
      ASSERT_TRUE(raw->execute(std::string("TRUNCATE TABLE ") + table)) << raw->error();
    db = connect();
    ASSERT_TRUE(db->IsConnected()) << std::string(db->GetLastError().begin(), db->GetLastError().end());
  }

  std::unique_ptr<CTorrentDatabase> connect(const std::string& password) const {
    return std::make_unique<CTorrentDatabase>(wide(m_server.host), m_server.port, wide(m_server.user),
                                              wide(password));
  }
  std::unique_ptr<CTorrentDatabase> connect() const { return connect(m_server.password); }

  server m_server;
  std::unique_ptr<raw_connection> raw;
  std::unique_ptr<CTorrentDatabase> db;
};

// Switches the numeric locale to German (decimal comma) for its lifetime;
// the locale is compiled once into the build folder. Check active().
class decimal_comma_locale {
 public:
  decimal_comma_locale() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(QF_BINARY_DIR) / "test-locales";
    const fs::path locale = dir / "de_DE.UTF-8";
    if (!fs::exists(locale / "LC_NUMERIC")) {
      const fs::path tmp = dir / ("building-" + std::to_string(::getpid()));
      fs::create_directories(tmp);
      const std::string cmd = "localedef -i de_DE -f UTF-8 '" + (tmp / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
      if (std::system(cmd.c_str()) == 0) {
        std::error_code ec;
        fs::rename(tmp / "de_DE.UTF-8", locale, ec);
      }
      std::error_code ec;
      fs::remove_all(tmp, ec);
    }
    ::setenv("LOCPATH", dir.c_str(), 1);
    m_active = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  }
  ~decimal_comma_locale() {
    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
  }
  bool active() const { return m_active; }

 private:
  bool m_active = false;
};

}  // namespace store_test
