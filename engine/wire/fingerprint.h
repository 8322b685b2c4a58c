#pragma once
// The client mark at the start of a peer id: "-QF1300-" and the like.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/formats/sha1_hash.h"

namespace engine {

struct fingerprint {
  // `name` has one or two characters; a one-letter client keeps 0 as its
  // second character. The versions are kept as signed bytes.
  fingerprint(std::string_view name, int major, int minor, int revision, int tag);

  // "-", the two name characters, one character per version, "-".
  // A version 0..9 is written as its digit, 10 and above as 'A' + (v - 10),
  // a negative one as '0'.
  std::string to_string() const;

  char name[2];
  std::int8_t major_version;
  std::int8_t minor_version;
  std::int8_t revision_version;
  std::int8_t tag_version;
};

// Bytes [first, last) of `id` become characters drawn at random from the 71
// a peer id's random part uses: digits, letters and "-_.!~*'()".
void fill_peer_id_randomly(peer_id& id, std::size_t first, std::size_t last);

}  // namespace engine
