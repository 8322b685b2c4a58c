#include "dht/table_dump.h"

#include <cstdarg>
#include <cstdio>

#include "platform/clock.h"

namespace dht {
namespace {

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) out.append(line, static_cast<std::size_t>(std::min<int>(n, sizeof line - 1)));
}

void append_hex(std::string& out, const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
}

void append_hash(std::string& out, const engine::sha1_hash& h) { append_hex(out, h.data(), h.size); }

void append_contact(std::string& out, unsigned number, const Node& n, std::uint32_t now) {
  const std::uint32_t silence = platform::is_future(now, n.last_contact) ? 0 : platform::elapsed_ms(now, n.last_contact);
  appendf(out, "  %2u %6us %u %u %c\t", number, silence / 1000, unsigned(n.confirmed), unsigned(n.awaiting), n.pending);
  append_hash(out, n.id);
  out += '\t';
  out += n.address.as_string();
  appendf(out, "\t%5u\t", unsigned(n.address.port));
  if (n.token.empty()) append_hash(out, engine::sha1_hash());
  else append_hex(out, reinterpret_cast<const std::uint8_t*>(n.token.data()), n.token.size());
  out += "\r\n";
}

// Every bucket with contacts: its header, then one line per contact.
std::size_t append_table(std::string& out, const RoutingTable& table, const char* indent, std::uint32_t now) {
  std::size_t contacts = 0;
  for (int b = 0; b < bucket_count; ++b) {
    if (table[b].empty()) continue;
    appendf(out, "%s[%3u]\r\n", indent, unsigned(b));
    unsigned number = 0;
    for (const Node& n : table[b]) {
      out += indent;
      append_contact(out, ++number, n, now);
      ++contacts;
    }
  }
  return contacts;
}

}  // namespace

std::string dump_nodes(const RoutingTable& table, std::uint32_t now) {
  std::string out;
  const std::size_t contacts = append_table(out, table, "", now);
  appendf(out, "\r\nEstimated table size: %u bytes", unsigned(88 * contacts));
  return out;
}

std::string dump_info_hashes(const std::vector<std::unique_ptr<InfoHashRecord>>& records, std::uint32_t now) {
  if (records.empty()) return "no peers\r\n";
  std::string out;
  std::size_t peers = 0, contacts = 0;
  for (const auto& r : records) {
    out += '[';
    append_hash(out, r->info_hash);
    appendf(out, "] %s %s %us\r\n  Peers\r\n", r->is_private ? "Private" : "Public", r->own ? "Own" : "Foreign",
            unsigned(platform::elapsed_ms(now, r->created) / 1000));
    unsigned number = 0;
    for (const auto& p : r->peers) {
      appendf(out, "\t%2u\t", ++number);
      out += p.as_string();
      appendf(out, "\t%5u\r\n", unsigned(p.port));
    }
    peers += r->peers.size();
    out += "  Nodes\r\n";
    contacts += append_table(out, r->table, "\t", now);
  }
  appendf(out, "\r\nTotal number of info hashes: %u", unsigned(records.size()));
  appendf(out, "\r\nEstimated table size: %u bytes", unsigned(2628 * records.size() + 8 * peers + 88 * contacts));
  return out;
}

}  // namespace dht
