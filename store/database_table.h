#pragma once
// What every table object of the store shares: the connection it runs its
// statements on, the pending result of its last SELECT, and the current row
// of that result.

#include "store/date_time.h"
#include "store/mysql_client.h"
#include "store/statement.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class CDatabaseTable {
 public:
  CDatabaseTable(const CDatabaseTable&) = delete;
  CDatabaseTable& operator=(const CDatabaseTable&) = delete;
  virtual ~CDatabaseTable();

  // The next row of the pending result, parsed into the row buffer; false at
  // the end, without a pending result, or when the row does not parse.
  bool FetchNext();

 protected:
  using argument = store::statement_argument;

  CDatabaseTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Fills the row buffer from the current row; false when a column the
  // buffer needs does not convert.
  virtual bool ParseRow() { return true; }

  // Formats `pattern` (every text escaped by the connection) and runs it.
  bool Execute(std::string_view pattern, std::initializer_list<argument> args = {}) {
    return Execute(pattern, std::span(args.begin(), args.size()));
  }
  bool Execute(std::string_view pattern, std::span<const argument> args);
  // Runs a SELECT that names `columns` columns. Its result replaces the
  // pending one (a result with another number of columns counts as failed
  // and is dropped); the first row is fetched and parsed as by FetchNext.
  bool Select(unsigned columns, std::string_view pattern, std::initializer_list<argument> args = {});
  // Runs a one-column SELECT and reads column 0 of its first row as an id;
  // 0 when there is no row or on failure. The pending result is left alone.
  std::uint32_t SelectId(std::string_view pattern, std::initializer_list<argument> args);
  // Runs a SELECT of out.size() unsigned columns and reads its first row
  // into `out`; false when there is no row, a column does not convert, or on
  // failure. The pending result is left alone.
  bool SelectFirst(std::string_view pattern, std::initializer_list<argument> args, std::span<std::uint32_t> out) {
    return QueryFirst(pattern, args, out).value_or(false);
  }
  // As SelectFirst, but tells a server that did not answer (none) from a
  // query without a row (false).
  std::optional<bool> QueryFirst(std::string_view pattern, std::initializer_list<argument> args,
                                 std::span<std::uint32_t> out);
  void FreeResult();
  // Stores a torrent's row: `find` (a SELECT id by torrent_data_id) gives 0
  // -> `insert`, else `update`.
  bool StoreByTorrent(std::uint32_t torrent_data_id, std::string_view find, std::string_view insert,
                      std::initializer_list<argument> insert_args, std::string_view update,
                      std::initializer_list<argument> update_args);

  // Columns of the current row. Every value is copied out of the result, so
  // the row buffer stays valid after the result is freed.
  bool IsNull(unsigned column) const;
  std::string Bytes(unsigned column) const;  // empty when NULL
  template <class T>
  bool Number(unsigned column, T& out) const {
    return m_row && store::parse_number(m_row[column], m_lengths[column], out);
  }
  store::date_time DateTime(unsigned column) const;  // invalid when NULL

 private:
  std::optional<std::string> Escape(std::string_view text) const;
  std::optional<std::string> Format(std::string_view pattern, std::initializer_list<argument> args) const {
    return Format(pattern, std::span(args.begin(), args.size()));
  }
  std::optional<std::string> Format(std::string_view pattern, std::span<const argument> args) const;
  bool Run(const std::optional<std::string>& statement);
  bool NextRow();

  const store::mysql::client_api& m_api;
  store::mysql::connection* m_connection;
  store::mysql::result* m_pending = nullptr;
  store::mysql::row m_row = nullptr;
  unsigned long* m_lengths = nullptr;
};
