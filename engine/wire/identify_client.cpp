#include "engine/wire/identify_client.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace engine {

namespace {

struct client_code {
  char code[2];
  const char* name;
};

// Sorted by code, byte by byte; a one-letter code has 0 as its second byte
// and sorts before the two-letter codes that start with the same letter.
constexpr std::array<client_code, 26> client_names = {{
    {{'A', '\0'}, "ABC"},
    {{'A', 'R'}, "Arctic Torrent"},
    {{'A', 'Z'}, "Azureus"},
    {{'B', 'B'}, "BitBuddy"},
    {{'B', 'C'}, "BitComet"},
    {{'B', 'S'}, "BTSlave"},
    {{'B', 'X'}, "BittorrentX"},
    {{'C', 'T'}, "CTorrent"},
    {{'K', 'T'}, "KTorrent"},
    {{'M', '\0'}, "Mainline"},
    {{'M', 'T'}, "Moonlight Torrent"},
    {{'O', '\0'}, "Osprey Permaseed"},
    {{'Q', 'F'}, "Quillfern"},
    {{'S', '\0'}, "Shadow"},
    {{'S', 'B'}, "Swiftbit"},
    {{'S', 'N'}, "ShareNet"},
    {{'S', 'S'}, "SwarmScope"},
    {{'S', 'Z'}, "Shareaza"},
    {{'T', '\0'}, "BitTornado"},
    {{'T', 'N'}, "Torrent.NET"},
    {{'T', 'S'}, "TorrentStorm"},
    {{'U', '\0'}, "UPnP"},
    {{'U', 'T'}, "MicroTorrent"},
    {{'X', 'T'}, "XanTorrent"},
    {{'Z', 'T'}, "ZipTorrent"},
    {{'p', 'X'}, "pHoeniX"},
}};

constexpr bool code_less(const char (&a)[2], const char (&b)[2]) {
  const auto a0 = static_cast<unsigned char>(a[0]), b0 = static_cast<unsigned char>(b[0]);
  if (a0 != b0) return a0 < b0;
  return static_cast<unsigned char>(a[1]) < static_cast<unsigned char>(b[1]);
}

static_assert(std::is_sorted(client_names.begin(), client_names.end(),
                             [](const client_code& a, const client_code& b) { return code_less(a.code, b.code); }));

bool is_print(unsigned char c) { return c >= 0x20 && c < 0x7F; }
bool is_alnum(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// Version characters are ASCII from '0' on; bytes above 0x7F are none.
bool is_version_char(unsigned char c) { return c >= '0' && c < 0x80; }

// A digit gives its value, any other character c gives c - 55 ('A' is 10).
int decode_version(unsigned char c) { return c >= '0' && c <= '9' ? c - '0' : c - 55; }

char printable_or_dot(unsigned char c) { return is_print(c) ? static_cast<char>(c) : '.'; }

// Bytes [first, last] of the id, each non-printable byte as '.'.
std::string printable_bytes(const peer_id& id, std::size_t first, std::size_t last) {
  std::string out;
  for (std::size_t i = first; i <= last; ++i) out += printable_or_dot(id[i]);
  return out;
}

bool text_at(const peer_id& id, std::size_t pos, std::string_view text) {
  return pos + text.size() <= peer_id::size && std::memcmp(id.data() + pos, text.data(), text.size()) == 0;
}

bool zeros_before(const peer_id& id, std::size_t end) {
  return std::all_of(id.begin(), id.begin() + static_cast<std::ptrdiff_t>(end), [](std::uint8_t b) { return b == 0; });
}

// Ids with a fixed mark at a fixed place, checked in this order.
struct fixed_mark {
  std::size_t pos;
  std::string_view text;
  const char* client;
};
constexpr fixed_mark fixed_marks[] = {
    {0, "Deadman Walking-", "Deadman"},
    {5, "Azureus", "Azureus 2.0.3.2"},
    {0, "DansClient", "XanTorrent"},
    {4, "btfans", "SimpleBT"},
    {0, "PRC.P---", "Bittorrent Plus! II"},
    {0, "P87.P---", "Bittorrent Plus!"},
    {0, "S587Plus", "Bittorrent Plus!"},
    {0, "martini", "Martini Man"},
    {0, "Plus---", "Bittorrent Plus"},
    {0, "turbobt", "TurboBT"},
    {0, "a00---0", "Swarmy"},
    {0, "a02---0", "Swarmy"},
    {0, "T00---0", "Teeweety"},
    {0, "BTDWV-", "Deadman Walking"},
    {2, "BS", "BitSpirit"},
    {0, "btuga", "BTugaXP"},
    {0, "oernu", "BTugaXP"},
    {0, "Mbrst", "Burst!"},
    {0, "Plus", "Plus!"},
    {0, "-Qt-", "Qt"},
    {0, "exbc", "BitComet"},
    {0, "-G3", "G3 Torrent"},
    {0, "XBT", "XBT"},
    {0, "OP", "Opera"},
};

}  // namespace

std::optional<fingerprint> parse_az_style(const peer_id& id) {
  if (id[0] != '-' || !is_print(id[1]) || id[7] != '-') return std::nullopt;
  for (int i = 2; i <= 6; ++i)
    if (!is_version_char(id[i])) return std::nullopt;
  const char name[2] = {static_cast<char>(id[1]), static_cast<char>(id[2])};
  return fingerprint(std::string_view(name, 2), decode_version(id[3]), decode_version(id[4]), decode_version(id[5]),
                     decode_version(id[6]));
}

std::optional<fingerprint> parse_shadow_style(const peer_id& id) {
  if (!is_alnum(id[0])) return std::nullopt;
  const char name[1] = {static_cast<char>(id[0])};
  if (id[4] == '-' && id[5] == '-') {
    for (int i = 1; i <= 3; ++i)
      if (!is_version_char(id[i])) return std::nullopt;
    return fingerprint(std::string_view(name, 1), decode_version(id[1]), decode_version(id[2]),
                       decode_version(id[3]), 0);
  }
  if (id[8] != 0) return std::nullopt;
  for (int i = 1; i <= 3; ++i)
    if (id[i] >= 0x80) return std::nullopt;
  return fingerprint(std::string_view(name, 1), id[1], id[2], id[3], 0);
}

std::optional<fingerprint> parse_mainline_style(const peer_id& id) {
  if (!is_print(id[0]) || !is_alnum(id[1]) || id[2] != '-' || !is_alnum(id[3]) || id[4] != '-' ||
      !is_alnum(id[5]) || id[6] != '-' || id[7] != '-')
    return std::nullopt;
  const char name[1] = {static_cast<char>(id[0])};
  return fingerprint(std::string_view(name, 1), decode_version(id[1]), decode_version(id[3]), decode_version(id[5]),
                     0);
}

std::string lookup_client_name(const fingerprint& f) {
  auto it = std::lower_bound(client_names.begin(), client_names.end(), f,
                             [](const client_code& row, const fingerprint& key) { return code_less(row.code, key.name); });
  std::string out;
  if (it != client_names.end() && it->code[0] == f.name[0] && it->code[1] == f.name[1]) {
    out = it->name;
  } else {
    out += printable_or_dot(static_cast<unsigned char>(f.name[0]));
    if (f.name[1] != 0) out += printable_or_dot(static_cast<unsigned char>(f.name[1]));
  }
  out += ' ';
  out += std::to_string(f.major_version) + '.' + std::to_string(f.minor_version) + '.' +
         std::to_string(f.revision_version);
  if (f.name[1] != 0) out += '.' + std::to_string(f.tag_version);
  return out;
}

std::string identify_client(const peer_id& id) {
  if (id.is_all_zeros()) return "Unknown";

  for (const auto& m : fixed_marks)
    if (text_at(id, m.pos, m.text)) return m.client;
  if (text_at(id, 0, "-BOW") && id[7] == '-') return "Bits on Wheels " + printable_bytes(id, 4, 6);
  if (text_at(id, 0, "eX")) return "eXeem ('" + printable_bytes(id, 2, 13) + "')";
  if (zeros_before(id, 12) && id[12] == 0x97) return "Experimental 3.2.1b2";
  if (zeros_before(id, 13)) return "Experimental 3.1";

  if (auto f = parse_az_style(id)) return lookup_client_name(*f);
  if (auto f = parse_shadow_style(id)) return lookup_client_name(*f);
  if (auto f = parse_mainline_style(id)) return lookup_client_name(*f);

  if (zeros_before(id, 12)) return "Generic";
  return "Unknown [" + printable_bytes(id, 0, peer_id::size - 1) + "]";
}

}  // namespace engine
