#include "engine/wire/fingerprint.h"

#include "engine/formats/random.h"

namespace engine {

namespace {

constexpr std::string_view peer_id_alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.!~*'()";

char version_char(int v) {
  if (v < 0) return '0';
  if (v < 10) return static_cast<char>('0' + v);
  return static_cast<char>('A' + (v - 10));
}

}  // namespace

fingerprint::fingerprint(std::string_view n, int major, int minor, int revision, int tag)
    : name{n.size() > 0 ? n[0] : '\0', n.size() > 1 ? n[1] : '\0'},
      major_version(static_cast<std::int8_t>(major)),
      minor_version(static_cast<std::int8_t>(minor)),
      revision_version(static_cast<std::int8_t>(revision)),
      tag_version(static_cast<std::int8_t>(tag)) {}

std::string fingerprint::to_string() const {
  return std::string{'-',
                     name[0],
                     name[1],
                     version_char(major_version),
                     version_char(minor_version),
                     version_char(revision_version),
                     version_char(tag_version),
                     '-'};
}

void fill_peer_id_randomly(peer_id& id, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last && i < peer_id::size; ++i)
    id[i] = std::uint8_t(peer_id_alphabet[random_u32() % peer_id_alphabet.size()]);
}

}  // namespace engine
