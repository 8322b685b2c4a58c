#pragma once
// The MySQL client library (MariaDB Connector/C), bound at run time. The
// program runs without it: when the library or one of the twelve calls the
// store uses is missing, the store is simply absent.
//
// Only what passes through those twelve calls is declared here; the handles
// stay opaque.

#include <string>

namespace store::mysql {

struct connection;  // MYSQL
struct result;      // MYSQL_RES
using row = char**;  // MYSQL_ROW: one pointer per column, null for NULL

// mysql_options option number for automatic reconnection.
inline constexpr int option_reconnect = 20;

// The twelve entry points, in the order they are bound.
struct client_api {
  void (*free_result)(result*);
  int (*real_query)(connection*, const char* statement, unsigned long length);
  connection* (*init)(connection*);
  connection* (*real_connect)(connection*, const char* host, const char* user, const char* password,
                              const char* database, unsigned int port, const char* unix_socket,
                              unsigned long client_flags);
  void (*close)(connection*);
  const char* (*error)(connection*);
  unsigned long* (*fetch_lengths)(result*);
  result* (*store_result)(connection*);
  unsigned int (*num_fields)(result*);
  row (*fetch_row)(result*);
  unsigned long (*real_escape_string)(connection*, char* to, const char* from, unsigned long length);
  int (*options)(connection*, int option, const void* argument);
};

// The file loaded as the client library: "libmariadb.so.3" unless set.
std::string client_library_path();
// Points the loader at another file (for tests, or another client build).
// A library bound earlier stays loaded; the next binding uses the new path.
void set_client_library_path(std::string path);

// The bound calls of the library at client_library_path(): loads and binds
// it the first time, and keeps it loaded until the process ends. Null when
// the file cannot be loaded or lacks one of the twelve calls; a later call
// tries again.
const client_api* bind_client_library();

// Whether the library at client_library_path() can be loaded and has all
// twelve calls. Loads nothing for good: a library not bound yet is closed
// again.
bool client_library_available();

// How many times a library has been loaded and bound in this process.
int client_library_bind_count();

}  // namespace store::mysql
