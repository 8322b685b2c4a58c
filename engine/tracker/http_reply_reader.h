#pragma once
// Reads an HTTP/1.0 tracker reply as it arrives: the status line, the
// headers (Content-Length, Content-Encoding, Location) and the body.

#include <string>

namespace engine {

class http_reply_reader {
 public:
  enum state_t { read_status = 0, read_header = 1, read_body = 2 };

  struct result {
    enum kind_t { pending, failed, redirect, complete };
    kind_t kind = pending;
    // failed: the error text; redirect: the new URL (the Location without
    // its query part).
    std::string text;
  };

  explicit http_reply_reader(int max_response_length) : m_max_length(max_response_length) {}

  // Hands over what one receive produced: `received` bytes at `data`, or,
  // when `received` is 0 or less, the news that the tracker closed the
  // connection. Once the result is not pending the reply is done with.
  result feed(const char* data, int received);

  state_t state() const { return m_state; }
  int status_code() const { return m_status_code; }
  const std::string& status_message() const { return m_status_message; }
  bool gzipped() const { return m_gzip; }
  // The body once the result was complete.
  std::string& body() { return m_buffer; }

 private:
  result read_status_line();
  result read_headers();
  result header_line(const std::string& line);
  result end_of_headers();
  result check_body(bool closed);

  int m_max_length;
  state_t m_state = read_status;
  std::string m_buffer;  // what is not yet consumed
  std::size_t m_received = 0;  // everything fed so far, headers included
  int m_status_code = 0;
  std::string m_status_message;
  int m_content_length = -1;  // -1 until a Content-Length header
  bool m_gzip = false;
  bool m_has_location = false;
  std::string m_location;
};

}  // namespace engine
