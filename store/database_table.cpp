#include "store/database_table.h"

CDatabaseTable::CDatabaseTable(const store::mysql::client_api& api, store::mysql::connection* connection)
    : m_api(api), m_connection(connection) {}

CDatabaseTable::~CDatabaseTable() { FreeResult(); }

void CDatabaseTable::FreeResult() {
  if (m_pending) m_api.free_result(m_pending);
  m_pending = nullptr;
  m_row = nullptr;
  m_lengths = nullptr;
}

std::optional<std::string> CDatabaseTable::Escape(std::string_view text) const {
  std::string out(2 * text.size() + 1, '\0');
  const unsigned long n = m_api.real_escape_string(m_connection, out.data(), text.data(), text.size());
  if (n > 2 * text.size()) return std::nullopt;  // the library's error value
  out.resize(n);
  return out;
}

std::optional<std::string> CDatabaseTable::Format(std::string_view pattern,
                                                  std::span<const argument> args) const {
  return store::format_statement(pattern, args, [this](std::string_view text) { return Escape(text); });
}

bool CDatabaseTable::Run(const std::optional<std::string>& statement) {
  return statement && m_api.real_query(m_connection, statement->data(), statement->size()) == 0;
}

bool CDatabaseTable::Execute(std::string_view pattern, std::span<const argument> args) {
  return Run(Format(pattern, args));
}

bool CDatabaseTable::Select(unsigned columns, std::string_view pattern, std::initializer_list<argument> args) {
  if (!Run(Format(pattern, args))) return false;
  FreeResult();
  m_pending = m_api.store_result(m_connection);
  if (!m_pending) return false;
  if (m_api.num_fields(m_pending) != columns) {
    // Its rows would not fit the parser: no FetchNext may read them.
    FreeResult();
    return false;
  }
  return FetchNext();
}

bool CDatabaseTable::NextRow() {
  m_row = nullptr;
  m_lengths = nullptr;
  if (!m_pending) return false;
  m_row = m_api.fetch_row(m_pending);
  if (!m_row) return false;
  m_lengths = m_api.fetch_lengths(m_pending);
  if (!m_lengths) m_row = nullptr;
  return m_row != nullptr;
}

bool CDatabaseTable::FetchNext() { return NextRow() && ParseRow(); }

std::optional<bool> CDatabaseTable::QueryFirst(std::string_view pattern, std::initializer_list<argument> args,
                                               std::span<std::uint32_t> out) {
  if (!Run(Format(pattern, args))) return std::nullopt;
  store::mysql::result* result = m_api.store_result(m_connection);
  if (!result) return std::nullopt;
  bool found = false;
  if (m_api.num_fields(result) == out.size()) {
    store::mysql::row row = m_api.fetch_row(result);
    unsigned long* lengths = row ? m_api.fetch_lengths(result) : nullptr;
    found = lengths != nullptr;
    for (std::size_t i = 0; found && i < out.size(); ++i)
      found = store::parse_number(row[i], lengths[i], out[i]);
  }
  m_api.free_result(result);
  return found;
}

std::uint32_t CDatabaseTable::SelectId(std::string_view pattern, std::initializer_list<argument> args) {
  std::uint32_t id = 0;
  return SelectFirst(pattern, args, std::span(&id, 1)) ? id : 0;
}

bool CDatabaseTable::StoreByTorrent(std::uint32_t torrent, std::string_view find, std::string_view insert,
                                    std::initializer_list<argument> insert_args, std::string_view update,
                                    std::initializer_list<argument> update_args) {
  if (SelectId(find, {torrent}) == 0) return Execute(insert, insert_args);
  return Execute(update, update_args);
}

bool CDatabaseTable::IsNull(unsigned column) const { return !m_row || !m_row[column]; }

std::string CDatabaseTable::Bytes(unsigned column) const {
  if (IsNull(column)) return {};
  return std::string(m_row[column], m_lengths[column]);
}

store::date_time CDatabaseTable::DateTime(unsigned column) const {
  if (IsNull(column)) return {};
  return store::date_time::parse(std::string_view(m_row[column], m_lengths[column]));
}
