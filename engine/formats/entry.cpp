#include "engine/formats/entry.h"

#include <cstring>
#include <ostream>

namespace engine {

entry::entry(data_type t) {
  switch (t) {
    case int_t: m_value.emplace<int_t>(0); break;
    case string_t: m_value.emplace<string_t>(); break;
    case list_t: m_value.emplace<list_t>(); break;
    case dictionary_t: m_value.emplace<dictionary_t>(); break;
    default: break;  // stays undefined
  }
}

void entry::throw_type_error() { throw type_error("invalid type requested from entry"); }

entry& entry::operator[](std::string_view key) {
  dictionary_type& d = dict();
  auto it = d.find(key);
  if (it == d.end()) it = d.emplace(std::string(key), entry()).first;
  return it->second;
}

const entry& entry::operator[](std::string_view key) const {
  const entry* e = find_key(key);
  if (!e) throw type_error("key not found: " + std::string(key));
  return *e;
}

entry* entry::find_key(std::string_view key) {
  dictionary_type& d = dict();
  auto it = d.find(key);
  return it == d.end() ? nullptr : &it->second;
}

const entry* entry::find_key(std::string_view key) const {
  const dictionary_type& d = dict();
  auto it = d.find(key);
  return it == d.end() ? nullptr : &it->second;
}

bool entry::operator==(const entry& other) const { return m_value == other.m_value; }

namespace {

void blanks(std::ostream& os, int n) {
  for (int i = 0; i < n; ++i) os.put(' ');
}

bool printable(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7f;
  });
}

}  // namespace

void entry::print(std::ostream& os, int indent) const {
  blanks(os, indent);
  switch (type()) {
    case int_t: {
      char buf[21];
      os << integer_to_str(buf, sizeof buf, integer()) << "\r\n";
      break;
    }
    case string_t: {
      const std::string& s = string();
      if (printable(s)) {
        os << s << "\r\n";
      } else {
        static const char digits[] = "0123456789ABCDEF";
        std::string hex;
        hex.reserve(2 * s.size());
        for (char c : s) {
          auto u = static_cast<unsigned char>(c);
          hex += digits[u >> 4];
          hex += digits[u & 15];
        }
        os << hex << "\r\n";
      }
      break;
    }
    case list_t:
      os << "list\r\n";
      for (const entry& e : list()) e.print(os, indent + 1);
      break;
    case dictionary_t:
      os << "dictionary\r\n";
      for (const auto& [key, e] : dict()) {
        blanks(os, indent + 1);
        os << '[' << key << ']';
        os << ((e.type() == int_t || e.type() == string_t) ? " " : "\r\n");
        e.print(os, indent + 2);
      }
      break;
    default:
      os << "<uninitialized>\r\n";
      break;
  }
}

char* integer_to_str(char* buf, int size, entry::integer_type value) {
  // Work on the magnitude as unsigned so that the most negative value needs
  // no special case.
  std::uint64_t u = value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                              : static_cast<std::uint64_t>(value);
  char* p = buf + size - 1;
  *p = '\0';
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (value < 0) *--p = '-';
  return p;
}

namespace {

// Decodes straight from the byte range: no intermediate copies, one
// allocation per string and per container node.
class decoder {
 public:
  decoder(const char* first, const char* last) : m_pos(first), m_end(last) {}

  const char* position() const { return m_pos; }

  void value(entry& out, int depth) {
    if (m_pos == m_end) fail();
    char c = *m_pos;
    if (c == 'i') {
      ++m_pos;
      out = integer();
    } else if (c >= '0' && c <= '9') {
      out = string();
    } else if (c == 'l') {
      if (depth >= bdecode_max_depth) fail();
      ++m_pos;
      out = entry(entry::list_t);
      entry::list_type& l = out.list();
      while (!at('e')) {
        l.emplace_back();
        value(l.back(), depth + 1);
      }
      ++m_pos;
    } else if (c == 'd') {
      if (depth >= bdecode_max_depth) fail();
      ++m_pos;
      out = entry(entry::dictionary_t);
      entry::dictionary_type& d = out.dict();
      while (!at('e')) {
        // Keys must be strings; anything else is no valid bencoding.
        if (*m_pos < '0' || *m_pos > '9') fail();
        std::string key = string();
        entry::dictionary_type::iterator it;
        if (d.empty() || d.rbegin()->first < key) {
          it = d.emplace_hint(d.end(), std::move(key), entry());  // sorted input: O(1)
        } else {
          it = d.try_emplace(std::move(key)).first;  // a repeated key overwrites
        }
        value(it->second, depth + 1);
      }
      ++m_pos;
    } else {
      fail();
    }
  }

 private:
  [[noreturn]] static void fail() { throw invalid_encoding(); }

  // True when the next byte is `c`; the input must not end before it.
  bool at(char c) const {
    if (m_pos == m_end) fail();
    return *m_pos == c;
  }

  // The text up to 'e': an optional sign and at least one decimal digit,
  // within 64 bits.
  entry::integer_type integer() {
    const char* stop = static_cast<const char*>(std::memchr(m_pos, 'e', m_end - m_pos));
    if (!stop) fail();
    const char* p = m_pos;
    m_pos = stop + 1;
    bool negative = false;
    if (p != stop && (*p == '-' || *p == '+')) negative = *p++ == '-';
    if (p == stop) fail();
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t v = 0;
    for (; p != stop; ++p) {
      unsigned d = static_cast<unsigned char>(*p) - '0';
      if (d > 9) fail();
      if (v > (limit - d) / 10) fail();
      v = v * 10 + d;
    }
    return negative ? static_cast<entry::integer_type>(std::uint64_t{0} - v)
                    : static_cast<entry::integer_type>(v);
  }

  // "<length>:<bytes>"; the length is the leading digits before the colon.
  std::string string() {
    const char* colon = static_cast<const char*>(std::memchr(m_pos, ':', m_end - m_pos));
    if (!colon) fail();
    const std::size_t left = static_cast<std::size_t>(m_end - colon - 1);
    std::size_t length = 0;
    for (const char* p = m_pos; p != colon && *p >= '0' && *p <= '9'; ++p) {
      length = length * 10 + static_cast<std::size_t>(*p - '0');
      if (length > left) fail();  // checked before anything is allocated
    }
    m_pos = colon + 1 + length;
    return std::string(colon + 1, length);
  }

  const char* m_pos;
  const char* m_end;
};

}  // namespace

entry bdecode(const char* first, const char* last, std::size_t& consumed) {
  decoder d(first, last);
  entry e;
  d.value(e, 0);
  consumed = static_cast<std::size_t>(d.position() - first);
  return e;
}

entry bdecode(const char* first, const char* last) {
  std::size_t consumed;
  return bdecode(first, last, consumed);
}

}  // namespace engine
