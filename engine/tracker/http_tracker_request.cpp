#include "engine/tracker/http_tracker_request.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "engine/formats/text_helpers.h"
#include "engine/tracker/tracker_url.h"

namespace engine {

namespace {

std::string escaped(const sha1_hash& h) {
  return escape_string(reinterpret_cast<const char*>(h.data()), int(sha1_hash::size));
}

std::string hex(std::uint32_t v) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), digits[v & 15]);
    v >>= 4;
  } while (v != 0);
  return out;
}

std::string host_with_port(const std::string& host, int port) {
  return port == 80 ? host : host + ":" + std::to_string(port);
}

}  // namespace

std::string build_http_tracker_request(const tracker_query& q, const std::string& host, int port,
                                       std::string path, const http_settings& settings,
                                       const std::string& login) {
  std::string req = "GET ";
  if (!settings.proxy_ip.empty()) req += "http://" + host_with_port(host, port);

  if (q.kind == tracker_query::scrape_request) {
    const auto pos = path.find("announce");
    if (pos == std::string::npos)
      throw std::runtime_error("scrape is not available on url: '" + q.url + "'");
    path.replace(pos, 8, "scrape");
  }
  req += path;
  req += path.find('?') == std::string::npos ? '?' : '&';
  req += "info_hash=" + escaped(q.info_hash);

  if (q.kind == tracker_query::announce_request) {
    req += "&peer_id=" + escaped(q.pid);
    req += "&port=" + std::to_string(q.listen_port);
    req += "&uploaded=" + std::to_string(q.uploaded);
    req += "&downloaded=" + std::to_string(q.downloaded);
    req += "&left=" + std::to_string(q.left);
    static const char* const events[] = {"", "completed", "started", "stopped"};
    if (q.event >= tracker_query::completed && q.event <= tracker_query::stopped)
      req += std::string("&event=") + events[q.event];
    req += "&key=" + hex(std::uint32_t(q.key));
    req += "&compact=1";
    req += "&numwant=" + std::to_string(std::min(q.num_want, 999));
    req += "&no_peer_id=1";
  }

  req += " HTTP/1.0\r\nAccept-Encoding: gzip\r\nUser-Agent: " + settings.user_agent +
         " (quillfern-engine)\r\nHost: " + host_with_port(host, port);
  if (!settings.proxy_ip.empty() && !settings.proxy_login.empty())
    req += "\r\nProxy-Authorization: Basic " +
           base64_encode(settings.proxy_login + ":" + settings.proxy_password);
  if (!login.empty()) req += "\r\nAuthorization: Basic " + base64_encode(login);
  req += "\r\n\r\n";
  return req;
}

}  // namespace engine
