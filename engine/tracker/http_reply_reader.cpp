#include "engine/tracker/http_reply_reader.h"

#include <charconv>
#include <sstream>
#include <string_view>

namespace engine {

namespace {

using result = http_reply_reader::result;

result fail(std::string text) { return {result::failed, std::move(text)}; }
result pending() { return {}; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Matches a header name (case does not matter) followed by ':'; gives the
// value without surrounding blanks and the line's carriage return.
bool header_value(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(line[i]) != lower(name[i])) return false;
  }
  value = trim(line.substr(name.size() + 1));
  return true;
}

// Takes the next line (with its '\n') off the front of `buffer`; false when
// no line is complete yet.
bool take_line(std::string& buffer, std::string& line) {
  const auto nl = buffer.find('\n');
  if (nl == std::string::npos) return false;
  line.assign(buffer, 0, nl);
  buffer.erase(0, nl + 1);
  return true;
}

}  // namespace

result http_reply_reader::feed(const char* data, int received) {
  const bool closed = received <= 0;
  if (!closed) {
    m_buffer.append(data, std::size_t(received));
    // Counted over the whole reply: consumed header lines leave the buffer,
    // and a tracker sending headers without end must not be read forever.
    m_received += std::size_t(received);
    if (m_received > std::size_t(m_max_length)) return fail("too large tracker response");
  }
  if (m_state == read_status) {
    if (closed) return fail("invalid tracker response, connection closed");
    result r = read_status_line();
    if (r.kind != result::pending || m_state == read_status) return r;
  }
  if (m_state == read_header) {
    if (closed) return fail("invalid tracker response, connection closed while reading header");
    result r = read_headers();
    if (r.kind != result::pending || m_state == read_header) return r;
  }
  return check_body(closed);
}

result http_reply_reader::read_status_line() {
  std::string line;
  if (!take_line(m_buffer, line)) return pending();
  std::istringstream in(line);
  std::string word;
  in >> word >> m_status_code;
  std::getline(in, m_status_message);
  m_status_message = std::string(trim(m_status_message));
  if (word.compare(0, 5, "HTTP/") != 0) return fail("unknown protocol in response: " + word);
  m_state = read_header;
  return pending();
}

result http_reply_reader::read_headers() {
  std::string line;
  while (m_state == read_header && take_line(m_buffer, line)) {
    result r = header_line(line);
    if (r.kind != result::pending) return r;
  }
  return pending();
}

result http_reply_reader::header_line(const std::string& line) {
  if (line.size() < 3) return end_of_headers();
  std::string_view value;
  if (header_value(line, "Content-Length", value)) {
    int length = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() || length < 0)
      return fail("invalid content-length in tracker response");
    if (length > m_max_length) return fail("content-length is greater than maximum response length");
    if (length < 3 && m_status_code == 200)
      return fail("content-length is smaller than minimum response length");
    m_content_length = length;
  } else if (header_value(line, "Content-Encoding", value)) {
    if (value == "gzip" || value == "x-gzip")
      m_gzip = true;
    else
      return fail("unknown content encoding in response: \"" + std::string(value) + "\"");
  } else if (header_value(line, "Location", value)) {
    m_has_location = true;
    m_location = std::string(value);
  }
  return pending();
}

result http_reply_reader::end_of_headers() {
  m_state = read_body;
  if (m_status_code >= 300 && m_status_code < 400) {
    if (!m_has_location)
      return fail("got redirection response (" + std::to_string(m_status_code) +
                  ") without 'Location' header");
    return {result::redirect, m_location.substr(0, m_location.find('?'))};
  }
  return pending();
}

result http_reply_reader::check_body(bool closed) {
  const auto received = m_buffer.size();
  if (m_content_length >= 0 && received > std::size_t(m_content_length))
    return fail("invalid tracker response (body > content_length)");
  if (closed || (m_content_length >= 0 && received == std::size_t(m_content_length)))
    return {result::complete, {}};
  return pending();
}

}  // namespace engine
