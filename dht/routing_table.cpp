#include "dht/routing_table.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace dht {

int bucket_index(const engine::sha1_hash& id, const engine::sha1_hash& reference) {
  for (std::size_t i = 0; i < engine::sha1_hash::size; ++i) {
    const std::uint8_t x = id[i] ^ reference[i];
    if (x != 0) return 159 - static_cast<int>(i * 8) - std::countl_zero(x);
  }
  return 0;
}

bool closer(const engine::sha1_hash& a, const engine::sha1_hash& b, const engine::sha1_hash& target) {
  for (std::size_t i = 0; i < engine::sha1_hash::size; ++i) {
    const std::uint8_t da = a[i] ^ target[i], db = b[i] ^ target[i];
    if (da != db) return da < db;
  }
  return false;
}

Node* RoutingTable::place(int bucket, const Node& node) {
  Bucket& b = (*this)[bucket];
  if (b.capacity() < bucket_size) b.reserve(bucket_size);
  if (b.size() < bucket_size) return &b.emplace_back(node);
  for (Node& n : b)
    if (n.pending == 't') return &(n = node);
  return nullptr;
}

const Node* RoutingTable::find_by_id(const engine::sha1_hash& id) const {
  for (int i = 0; i < idless_bucket; ++i)
    for (const Node& n : (*this)[i])
      if (n.id == id) return &n;
  return nullptr;
}

Node* RoutingTable::find_by_id(const engine::sha1_hash& id) {
  return const_cast<Node*>(std::as_const(*this).find_by_id(id));
}

const Node* RoutingTable::find_by_ip(std::uint32_t ip, int first, int last) const {
  for (int i = first; i <= last; ++i)
    for (const Node& n : (*this)[i])
      if (n.address.ip == ip) return &n;
  return nullptr;
}

Node* RoutingTable::find_by_ip(std::uint32_t ip, int first, int last) {
  return const_cast<Node*>(std::as_const(*this).find_by_ip(ip, first, last));
}

std::vector<const Node*> RoutingTable::closest(const engine::sha1_hash& target) const {
  std::vector<const Node*> all;
  for (int i = 0; i < idless_bucket; ++i)
    for (const Node& n : (*this)[i])
      if (n.pending != 't' && n.id != target) all.push_back(&n);
  const auto by_distance = [&](const Node* a, const Node* b) { return closer(a->id, b->id, target); };
  const std::size_t k = std::min(all.size(), bucket_size);
  std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(k), all.end(), by_distance);
  all.resize(k);
  return all;
}

std::size_t RoutingTable::size() const {
  std::size_t n = 0;
  for (const auto& b : m_buckets) n += b.size();
  return n;
}

void RoutingTable::clear() {
  for (auto& b : m_buckets) b.clear();
}

Node new_contact(const engine::address& address, const engine::sha1_hash& id, std::uint32_t now,
                 std::uint32_t jitter) {
  Node n;
  n.id = id;
  n.address = address;
  n.last_contact = now + (jitter & 0x7FFF);
  return n;
}

}  // namespace dht
