#pragma once
// Readable client names and versions from the peer ids that peers send.

#include <optional>
#include <string>

#include "engine/formats/sha1_hash.h"
#include "engine/wire/fingerprint.h"

namespace engine {

// "Azureus 2.3.0.6", "Mainline 4.0.2", "Unknown [...]" and the like. Bytes
// of the id that are not printable ASCII never reach the text as they are.
std::string identify_client(const peer_id& id);

// "-XXabcd-": a two-letter code and four version characters.
std::optional<fingerprint> parse_az_style(const peer_id& id);
// "Xabc--" with version characters, or "X" and three raw version bytes
// followed by a zero at byte 8.
std::optional<fingerprint> parse_shadow_style(const peer_id& id);
// "Xa-b-c--".
std::optional<fingerprint> parse_mainline_style(const peer_id& id);

// The client's name from the table of known codes (or the code itself) and
// its version: "Name major.minor.revision", with ".tag" for two-letter codes.
std::string lookup_client_name(const fingerprint& f);

}  // namespace engine
