#include "engine/wire/identify_client.h"

#include <gtest/gtest.h>

#include <string>

using engine::fingerprint;
using engine::identify_client;
using engine::lookup_client_name;
using engine::peer_id;

namespace {

// `prefix` followed by the letter x up to 20 bytes.
peer_id id_of(std::string prefix, char fill = 'x') {
  prefix.resize(peer_id::size, fill);
  return peer_id::from_bytes(prefix);
}

TEST(IdentifyClientFingerprint, ToStringWritesOneCharacterPerVersion) {
  EXPECT_EQ(fingerprint("QF", 1, 3, 0, 55).to_string(), "-QF130n-");
  EXPECT_EQ(fingerprint("QF", 9, 10, 35, 0).to_string(), "-QF9AZ0-");
  EXPECT_EQ(fingerprint("QF", -1, -128, 0, 127 & 0x7F).to_string(), std::string("-QF000") + char('A' + 117) + "-");
  const fingerprint one("M", 4, 0, 2, 0);
  EXPECT_EQ(one.name[0], 'M');
  EXPECT_EQ(one.name[1], '\0');
}

TEST(IdentifyClientFingerprint, OwnMarkIsRecognised) {
  EXPECT_EQ(identify_client(id_of(fingerprint("QF", 1, 3, 0, 0).to_string())), "Quillfern 1.3.0.0");
}

TEST(IdentifyClientStyles, AzureusStyle) {
  EXPECT_EQ(identify_client(id_of("-QF1300-")), "Quillfern 1.3.0.0");
  EXPECT_EQ(identify_client(id_of("-AZ2306-")), "Azureus 2.3.0.6");
  EXPECT_EQ(identify_client(id_of("-XX1234-")), "XX 1.2.3.4");
  EXPECT_EQ(identify_client(id_of("-UT17z0-")), "MicroTorrent 1.7.67.0");
  // A version byte above 0x7F is no version character.
  EXPECT_FALSE(engine::parse_az_style(id_of("-AZ2\x90" "06-")));
  EXPECT_FALSE(engine::parse_az_style(id_of("-AZ2/06-")));
  EXPECT_FALSE(engine::parse_az_style(id_of("-AZ2306x")));
}

TEST(IdentifyClientStyles, ShadowStyle) {
  EXPECT_EQ(identify_client(id_of("S58B--")), "Shadow 5.8.11");
  // Raw version bytes, ended by a zero at byte 8.
  std::string raw = "T\x05\x08\x0bxxxx";
  raw += '\0';
  EXPECT_EQ(identify_client(id_of(raw)), "BitTornado 5.8.11");
  raw[2] = '\x80';
  EXPECT_FALSE(engine::parse_shadow_style(id_of(raw)));
  EXPECT_FALSE(engine::parse_shadow_style(id_of("S58B-x")));  // no zero at byte 8
  EXPECT_FALSE(engine::parse_shadow_style(id_of("S5/B--")));
}

TEST(IdentifyClientStyles, MainlineStyle) {
  EXPECT_EQ(identify_client(id_of("M4-0-2--")), "Mainline 4.0.2");
  EXPECT_EQ(identify_client(id_of("!4-0-2--")), "! 4.0.2");
  EXPECT_FALSE(engine::parse_mainline_style(id_of("M4-0-2-x")));
  EXPECT_FALSE(engine::parse_mainline_style(id_of("M4-.-2--")));
}

TEST(IdentifyClientLookup, CodesOutsideTheTableAtEitherEnd) {
  // Before the first row, after the last row, between rows, and bytes at
  // the very ends of the byte order.
  EXPECT_EQ(lookup_client_name(fingerprint("!!", 1, 2, 3, 4)), "!! 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("zz", 1, 2, 3, 4)), "zz 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("pY", 1, 2, 3, 4)), "pY 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("AA", 1, 2, 3, 4)), "AA 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("B", 1, 2, 3, 4)), "B 1.2.3");
  EXPECT_EQ(lookup_client_name(fingerprint("z", 1, 2, 3, 4)), "z 1.2.3");
  EXPECT_EQ(lookup_client_name(fingerprint("\x01\x01", 1, 2, 3, 4)), ".. 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("\xff\xff", 1, 2, 3, 4)), ".. 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("", 0, 0, 0, 0)), ". 0.0.0");
}

TEST(IdentifyClientLookup, TableRowsAtBothEndsAndOneLetterCodes) {
  EXPECT_EQ(lookup_client_name(fingerprint("A", 1, 2, 3, 4)), "ABC 1.2.3");
  EXPECT_EQ(lookup_client_name(fingerprint("AR", 1, 2, 3, 4)), "Arctic Torrent 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("pX", 1, 2, 3, 4)), "pHoeniX 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("ZT", 1, 2, 3, 4)), "ZipTorrent 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("U", 1, 2, 3, 4)), "UPnP 1.2.3");
  EXPECT_EQ(lookup_client_name(fingerprint("UT", 1, 2, 3, 4)), "MicroTorrent 1.2.3.4");
  EXPECT_EQ(lookup_client_name(fingerprint("O", -1, 2, 3, 0)), "Osprey Permaseed -1.2.3");
}

TEST(IdentifyClientKnownIds, FixedMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"Deadman Walking-", "Deadman"},
      {"12345Azureus", "Azureus 2.0.3.2"},
      {"DansClient", "XanTorrent"},
      {"1234btfans", "SimpleBT"},
      {"PRC.P---", "Bittorrent Plus! II"},
      {"P87.P---", "Bittorrent Plus!"},
      {"S587Plus", "Bittorrent Plus!"},
      {"martini", "Martini Man"},
      {"Plus---", "Bittorrent Plus"},
      {"turbobt", "TurboBT"},
      {"a00---0", "Swarmy"},
      {"a02---0", "Swarmy"},
      {"T00---0", "Teeweety"},
      {"BTDWV-", "Deadman Walking"},
      {"12BS", "BitSpirit"},
      {"btuga", "BTugaXP"},
      {"oernu", "BTugaXP"},
      {"Mbrst", "Burst!"},
      {"Plus", "Plus!"},
      {"-Qt-", "Qt"},
      {"exbc", "BitComet"},
      {"-G3", "G3 Torrent"},
      {"XBT", "XBT"},
      {"OP", "Opera"},
      {"-BOW0A1-", "Bits on Wheels 0A1"},
      {"eXabcdefghijkl", "eXeem ('abcdefghijkl')"},
  };
  for (const auto& [prefix, want] : cases) EXPECT_EQ(identify_client(id_of(prefix)), want) << prefix;
  // Without the '-' at byte 7 it is no Bits on Wheels id.
  EXPECT_EQ(identify_client(id_of("-BOW0A1x")), "Unknown [-BOW0A1xxxxxxxxxxxxx]");
}

TEST(IdentifyClientKnownIds, ZeroPrefixes) {
  EXPECT_EQ(identify_client(peer_id()), "Unknown");
  std::string id(20, 'x');
  std::fill_n(id.begin(), 12, '\0');
  id[12] = '\x97';
  EXPECT_EQ(identify_client(peer_id::from_bytes(id)), "Experimental 3.2.1b2");
  id[12] = '\0';
  EXPECT_EQ(identify_client(peer_id::from_bytes(id)), "Experimental 3.1");
  id[12] = 'A';
  EXPECT_EQ(identify_client(peer_id::from_bytes(id)), "Generic");
}

TEST(IdentifyClientKnownIds, UnreadableBytesBecomePoints) {
  EXPECT_EQ(identify_client(peer_id::from_bytes(std::string(20, '\xff'))), "Unknown [" + std::string(20, '.') + "]");
  std::string id = "\x01" "abc~\x7f";
  EXPECT_EQ(identify_client(id_of(id, ' ')), "Unknown [.abc~.              ]");
  // Bytes copied from ids of known clients are cleaned the same way.
  std::string bow = "-BOW";
  bow += '\0';
  bow += "\xc3\x28-";
  EXPECT_EQ(identify_client(id_of(bow)), "Bits on Wheels ..(");
  EXPECT_EQ(identify_client(id_of("eX\n\xff")), "eXeem ('..xxxxxxxxxx')");
}

}  // namespace
