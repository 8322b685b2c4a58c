#pragma once
// The value type of bencoded data (.torrent files, tracker replies, resume
// data, extension messages, DHT packets), its decoder and its encoder.

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <iosfwd>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace engine {

// A value of the wrong kind was asked for, or a key is missing.
class type_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The bytes are no valid bencoding: truncated, malformed, nested too deeply,
// or an integer that is not a decimal 64-bit number.
class invalid_encoding : public std::exception {
 public:
  const char* what() const noexcept override { return "invalid bencoding"; }
};

class entry {
 public:
  enum data_type { int_t = 0, string_t = 1, list_t = 2, dictionary_t = 3, undefined_t = 4 };

  using integer_type = std::int64_t;
  using string_type = std::string;
  using list_type = std::list<entry>;
  // Sorted by key in plain unsigned byte order.
  using dictionary_type = std::map<std::string, entry, std::less<>>;

  entry() = default;  // undefined
  entry(integer_type v) : m_value(std::in_place_index<int_t>, v) {}
  entry(const string_type& s) : m_value(std::in_place_index<string_t>, s) {}
  entry(string_type&& s) : m_value(std::in_place_index<string_t>, std::move(s)) {}
  entry(const list_type& l) : m_value(std::in_place_index<list_t>, l) {}
  entry(list_type&& l) : m_value(std::in_place_index<list_t>, std::move(l)) {}
  entry(const dictionary_type& d) : m_value(std::in_place_index<dictionary_t>, d) {}
  entry(dictionary_type&& d) : m_value(std::in_place_index<dictionary_t>, std::move(d)) {}
  // An empty value of the given kind (0, "", [], {}); any other tag gives an
  // undefined entry.
  entry(data_type t);

  entry(const entry&) = default;
  entry(entry&&) noexcept = default;
  entry& operator=(const entry&) = default;
  entry& operator=(entry&&) noexcept = default;
  ~entry() = default;

  entry& operator=(integer_type v) { m_value.emplace<int_t>(v); return *this; }
  entry& operator=(const string_type& s) { m_value.emplace<string_t>(s); return *this; }
  entry& operator=(string_type&& s) { m_value.emplace<string_t>(std::move(s)); return *this; }
  // Write entry(tag) to make an empty value; a bare tag would assign a number.
  entry& operator=(data_type) = delete;
  entry& operator=(const list_type& l) { m_value.emplace<list_t>(l); return *this; }
  entry& operator=(list_type&& l) { m_value.emplace<list_t>(std::move(l)); return *this; }
  entry& operator=(const dictionary_type& d) { m_value.emplace<dictionary_t>(d); return *this; }
  entry& operator=(dictionary_type&& d) { m_value.emplace<dictionary_t>(std::move(d)); return *this; }

  data_type type() const { return static_cast<data_type>(m_value.index()); }

  // The held value; type_error "invalid type requested from entry" when the
  // entry holds another kind.
  integer_type& integer();
  const integer_type& integer() const;
  string_type& string();
  const string_type& string() const;
  list_type& list();
  const list_type& list() const;
  dictionary_type& dict();
  const dictionary_type& dict() const;

  // Dictionary member; a missing key is inserted as an undefined entry.
  entry& operator[](std::string_view key);
  // Dictionary member; a missing key throws type_error "key not found: KEY".
  const entry& operator[](std::string_view key) const;
  // Dictionary member or null; throws only when this is no dictionary.
  entry* find_key(std::string_view key);
  const entry* find_key(std::string_view key) const;

  bool operator==(const entry& other) const;

  void swap(entry& other) noexcept { m_value.swap(other.m_value); }

  // Human-readable dump, lines ending in "\r\n".
  void print(std::ostream& os, int indent = 0) const;

 private:
  template <data_type T, class V>
  static auto& get(V& value) {
    if (value.index() != T) throw_type_error();
    return *std::get_if<T>(&value);
  }
  [[noreturn]] static void throw_type_error();

  std::variant<integer_type, string_type, list_type, dictionary_type, std::monostate> m_value{
      std::in_place_index<undefined_t>};
};

inline entry::integer_type& entry::integer() { return get<int_t>(m_value); }
inline const entry::integer_type& entry::integer() const { return get<int_t>(m_value); }
inline entry::string_type& entry::string() { return get<string_t>(m_value); }
inline const entry::string_type& entry::string() const { return get<string_t>(m_value); }
inline entry::list_type& entry::list() { return get<list_t>(m_value); }
inline const entry::list_type& entry::list() const { return get<list_t>(m_value); }
inline entry::dictionary_type& entry::dict() { return get<dictionary_t>(m_value); }
inline const entry::dictionary_type& entry::dict() const { return get<dictionary_t>(m_value); }

// Writes `value` in decimal backwards from the end of buf[0..size) (the last
// byte becomes the terminating zero) and returns the first character. A
// buffer of 21 bytes holds every 64-bit value.
char* integer_to_str(char* buf, int size, entry::integer_type value);

// Containers may nest this deep; deeper input is refused.
inline constexpr int bdecode_max_depth = 100;

// Decodes the one value at the start of [first, last); bytes after it are
// ignored. Throws invalid_encoding for anything malformed.
entry bdecode(const char* first, const char* last);
// The same, and tells how many bytes the value took.
entry bdecode(const char* first, const char* last, std::size_t& consumed);
inline entry bdecode(std::string_view bytes) { return bdecode(bytes.data(), bytes.data() + bytes.size()); }

template <std::contiguous_iterator It>
  requires(sizeof(std::iter_value_t<It>) == 1)
entry bdecode(It first, It last) {
  const char* p = reinterpret_cast<const char*>(std::to_address(first));
  return bdecode(p, p + (last - first));
}

namespace detail {

template <class OutIt>
OutIt bencode_bytes(OutIt out, std::string_view s) {
  return std::copy(s.begin(), s.end(), out);
}

template <class OutIt>
OutIt bencode_number(OutIt out, entry::integer_type v) {
  char buf[21];
  return bencode_bytes(out, integer_to_str(buf, sizeof buf, v));
}

template <class OutIt>
OutIt bencode_string(OutIt out, std::string_view s) {
  out = bencode_number(out, static_cast<entry::integer_type>(s.size()));
  *out++ = ':';
  return bencode_bytes(out, s);
}

template <class OutIt>
OutIt bencode_recursive(OutIt out, const entry& e) {
  switch (e.type()) {
    case entry::int_t:
      *out++ = 'i';
      out = bencode_number(out, e.integer());
      *out++ = 'e';
      break;
    case entry::string_t:
      out = bencode_string(out, e.string());
      break;
    case entry::list_t:
      *out++ = 'l';
      for (const entry& v : e.list()) out = bencode_recursive(out, v);
      *out++ = 'e';
      break;
    case entry::dictionary_t:
      *out++ = 'd';
      for (const auto& [key, v] : e.dict()) {
        out = bencode_string(out, key);
        out = bencode_recursive(out, v);
      }
      *out++ = 'e';
      break;
    default:  // undefined: nothing
      break;
  }
  return out;
}

}  // namespace detail

// Writes `value` canonically (dictionary keys sorted) through a byte output
// iterator and returns the iterator past the output.
template <class OutIt>
OutIt bencode(OutIt out, const entry& value) {
  return detail::bencode_recursive(out, value);
}

}  // namespace engine
