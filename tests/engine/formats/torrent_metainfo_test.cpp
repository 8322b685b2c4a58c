#include "engine/formats/torrent_metainfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include "engine/formats/sha1.h"

using engine::bdecode;
using engine::entry;
using engine::invalid_torrent_file;
using engine::sha1_hash;
using engine::torrent_metainfo;

namespace {

std::string encode(const entry& e) {
  std::string out;
  engine::bencode(std::back_inserter(out), e);
  return out;
}

sha1_hash sha1_of(const std::string& s) { return engine::hasher(s.data(), static_cast<int>(s.size())).final(); }

std::string hashes(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += std::string(20, static_cast<char>('A' + i % 26));
  return s;
}

// A valid single-file torrent of `length` bytes in pieces of 16 KiB.
entry single_file(std::int64_t length = 40000) {
  entry t(entry::dictionary_t);
  t["announce"] = "http://tracker.example/announce";
  entry& info = t["info"];
  info = entry(entry::dictionary_t);
  info["name"] = "file.bin";
  info["piece length"] = 16384;
  info["length"] = length;
  info["pieces"] = hashes(static_cast<int>((length + 16383) / 16384));
  return t;
}

entry path_list(std::initializer_list<std::string> parts) {
  entry::list_type l;
  for (const std::string& p : parts) l.emplace_back(p);
  return entry(std::move(l));
}

entry file_dict(std::int64_t length, entry path) {
  entry f(entry::dictionary_t);
  f["length"] = length;
  f["path"] = std::move(path);
  return f;
}

// A multi-file torrent "dir" with the given files.
entry multi_file(std::initializer_list<entry> files) {
  entry t = single_file();
  entry& info = t["info"];
  info.dict().erase("length");
  info["name"] = "dir";
  info["files"] = entry::list_type(files);
  std::int64_t total = 0;
  for (const entry& f : files) {
    if (__builtin_add_overflow(total, f["length"].integer(), &total)) total = 0;  // refused anyway
  }
  info["pieces"] = hashes(static_cast<int>((total + 16383) / 16384));
  return t;
}

std::string runtime_error_text(const entry& t) {
  try {
    torrent_metainfo m(t);
  } catch (const invalid_torrent_file&) {
    return "invalid_torrent_file";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "accepted";
}

}  // namespace

TEST(TorrentMetainfoRead, SingleFile) {
  entry t = single_file(40000);
  t["comment"] = "plain";
  t["comment.utf-8"] = "preferred";
  t["created by"] = "maker 1.0";
  t["creation date"] = 1700000000;
  torrent_metainfo m(t);
  EXPECT_EQ(m.name(), "file.bin");
  EXPECT_FALSE(m.is_multi_file());
  ASSERT_EQ(m.files().size(), 1u);
  EXPECT_EQ(m.files()[0].path, "file.bin");
  EXPECT_EQ(m.files()[0].size, 40000);
  EXPECT_EQ(m.total_size(), 40000);
  EXPECT_EQ(m.piece_length(), 16384);
  EXPECT_EQ(m.num_pieces(), 3);
  EXPECT_EQ(m.piece_size(0), 16384);
  EXPECT_EQ(m.piece_size(2), 40000 - 2 * 16384);
  EXPECT_EQ(m.hash_for_piece(1), sha1_hash::from_bytes(std::string(20, 'B')));
  EXPECT_EQ(m.info_hash(), sha1_of(encode(t["info"])));
  EXPECT_EQ(m.comment(), "preferred");
  EXPECT_EQ(m.creator(), "maker 1.0");
  ASSERT_TRUE(m.creation_date());
  EXPECT_EQ(m.creation_date()->time_since_epoch().count(), 1700000000);
  ASSERT_EQ(m.trackers().size(), 1u);
  EXPECT_EQ(m.trackers()[0], (engine::announce_entry{"http://tracker.example/announce", 0}));
}

TEST(TorrentMetainfoRead, PieceCountFollowsTotalSize) {
  entry t = single_file();
  t["info"]["piece length"] = 262144;
  t["info"]["length"] = 262145;
  t["info"]["pieces"] = hashes(2);
  torrent_metainfo m(t);
  EXPECT_EQ(m.num_pieces(), 2);
  EXPECT_EQ(m.piece_size(1), 1);
  t["info"]["pieces"] = hashes(1);
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
  t["info"]["pieces"] = hashes(3);
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
  t["info"]["pieces"] = hashes(2) + "x";
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
}

TEST(TorrentMetainfoRead, TrackerTiers) {
  entry t = single_file();
  entry::list_type tiers;
  tiers.push_back(path_list({"a", "b"}));
  tiers.push_back(path_list({"c"}));
  t["announce-list"] = tiers;
  std::set<std::string> firsts;
  for (int i = 0; i < 64; ++i) {
    torrent_metainfo m(t);
    ASSERT_EQ(m.trackers().size(), 3u);
    EXPECT_EQ(m.trackers()[0].tier, 0);
    EXPECT_EQ(m.trackers()[1].tier, 0);
    EXPECT_EQ(m.trackers()[2], (engine::announce_entry{"c", 1}));
    firsts.insert(m.trackers()[0].url);
  }
  EXPECT_EQ(firsts, (std::set<std::string>{"a", "b"}));  // shuffled within the tier

  t["announce-list"] = entry(entry::list_t);
  t["announce"] = "x";
  torrent_metainfo m(t);
  ASSERT_EQ(m.trackers().size(), 1u);
  EXPECT_EQ(m.trackers()[0].url, "x");

  t.dict().erase("announce");
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
  t["announce-list"] = path_list({"not a list of lists"});
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
}

TEST(TorrentMetainfoRead, CreationDateOfOtherTypeOrRangeIsNotSet) {
  entry t = single_file();
  t["creation date"] = "yesterday";
  EXPECT_FALSE(torrent_metainfo(t).creation_date());
  t["creation date"] = std::numeric_limits<std::int64_t>::max();
  EXPECT_FALSE(torrent_metainfo(t).creation_date());
  t.dict().erase("creation date");
  EXPECT_FALSE(torrent_metainfo(t).creation_date());
}

TEST(TorrentMetainfoRead, MissingOrMistypedKeys) {
  entry t = single_file();
  t.dict().erase("info");
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
  EXPECT_THROW(torrent_metainfo{entry(5)}, invalid_torrent_file);
  for (const char* key : {"name", "piece length", "pieces", "length"}) {
    entry u = single_file();
    u["info"].dict().erase(key);
    EXPECT_THROW(torrent_metainfo{u}, invalid_torrent_file) << key;
    u = single_file();
    u["info"][key] = entry(entry::list_t);
    EXPECT_THROW(torrent_metainfo{u}, invalid_torrent_file) << key;
  }
  entry u = single_file();
  u["comment"] = 5;
  EXPECT_THROW(torrent_metainfo{u}, invalid_torrent_file);
}

TEST(TorrentMetainfoRead, MultiFilePaths) {
  entry t = multi_file({file_dict(10, path_list({"sub", "a.txt"})), file_dict(20000, path_list({"b.txt"}))});
  torrent_metainfo m(t);
  EXPECT_TRUE(m.is_multi_file());
  ASSERT_EQ(m.files().size(), 2u);
  EXPECT_EQ(m.files()[0].path, std::filesystem::path("dir/sub/a.txt"));
  EXPECT_EQ(m.files()[1].path, std::filesystem::path("dir/b.txt"));
  EXPECT_EQ(m.total_size(), 20010);
  EXPECT_EQ(m.num_pieces(), 2);
  // "path.utf-8" wins over "path".
  entry f = file_dict(5, path_list({"plain"}));
  f["path.utf-8"] = path_list({"utf8"});
  EXPECT_EQ(torrent_metainfo(multi_file({f})).files()[0].path, std::filesystem::path("dir/utf8"));
}

TEST(TorrentMetainfoRead, PathsThatCouldLeaveTheSaveFolderAreRefused) {
  for (const std::string& bad : {std::string(".."), std::string("."), std::string(""), std::string("a/b"),
                                 std::string("/etc"), std::string("a\\b"), std::string("..\\x"),
                                 std::string("a\0b", 3)}) {
    entry t = multi_file({file_dict(10, path_list({"ok", bad, "f"}))});
    EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file) << bad;
  }
  EXPECT_THROW(torrent_metainfo{multi_file({file_dict(10, entry(entry::list_t))})}, invalid_torrent_file);

  entry t = single_file();
  t["info"]["name"] = "a/b";
  EXPECT_EQ(runtime_error_text(t), "torrent contains name with directories: 'a/b'");
  t["info"]["name"] = "a\\b";
  EXPECT_EQ(runtime_error_text(t), "torrent contains name with directories: 'a\\b'");
  t["info"]["name"] = "/abs";
  EXPECT_EQ(runtime_error_text(t), "torrent contains a file with an absolute path: '/abs'");
  for (const std::string& bad : {std::string(".."), std::string("."), std::string(""), std::string("x\0y", 3)}) {
    t["info"]["name"] = bad;
    EXPECT_EQ(runtime_error_text(t), "invalid_torrent_file") << bad;
  }
  // "name.utf-8" is the name that counts, and is checked.
  t["info"]["name"] = "fine";
  t["info"]["name.utf-8"] = "..";
  EXPECT_EQ(runtime_error_text(t), "invalid_torrent_file");
}

TEST(TorrentMetainfoRead, ImpossibleSizesAreRefused) {
  for (std::int64_t pl : {std::int64_t{0}, std::int64_t{-16384}, std::int64_t{INT_MAX} + 1,
                          (std::int64_t{1} << 32) + 16384}) {
    entry t = single_file();
    t["info"]["piece length"] = pl;
    EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file) << pl;
  }
  entry t = single_file();
  t["info"]["length"] = 0;
  t["info"]["pieces"] = "";
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
  t["info"]["length"] = -1;
  EXPECT_THROW(torrent_metainfo{t}, invalid_torrent_file);
  // Sizes whose sum overflows, and a negative size hidden behind a large one.
  const std::int64_t max = std::numeric_limits<std::int64_t>::max();
  entry u = multi_file({file_dict(max, path_list({"a"})), file_dict(max, path_list({"b"}))});
  EXPECT_THROW(torrent_metainfo{u}, invalid_torrent_file);
  u = multi_file({file_dict(40000, path_list({"a"})), file_dict(-20000, path_list({"b"}))});
  u["info"]["pieces"] = hashes(2);
  EXPECT_THROW(torrent_metainfo{u}, invalid_torrent_file);
  EXPECT_THROW(torrent_metainfo{multi_file({})}, invalid_torrent_file);
  // A size so large that its piece count needs more than 31 bits.
  entry v = single_file();
  v["info"]["piece length"] = 1;
  v["info"]["length"] = max;
  EXPECT_THROW(torrent_metainfo{v}, invalid_torrent_file);
}

TEST(TorrentMetainfoRead, RebuildKeepsUnknownInfoKeysAndHash) {
  entry t = multi_file({file_dict(10, path_list({"a"})), file_dict(30, path_list({"b", "c"}))});
  t["info"]["private"] = 1;
  t["info"]["files"].list().front()["md5sum"] = "0123";
  torrent_metainfo m(t);
  entry rebuilt = m.build_info_dictionary();
  EXPECT_EQ(rebuilt, t["info"]);
  EXPECT_EQ(sha1_of(encode(rebuilt)), m.info_hash());
}

TEST(TorrentMetainfoRaw, InfoHashIsOverTheBytesAsTheyStand) {
  entry t = single_file();
  const std::string canonical = encode(t);
  torrent_metainfo a(canonical.data(), canonical.size());
  torrent_metainfo b(bdecode(canonical));
  EXPECT_EQ(a.info_hash(), b.info_hash());
  EXPECT_EQ(a.info_hash(), sha1_of(encode(t["info"])));

  // The same torrent with the info keys out of order and an integer with a
  // leading zero: the raw hash follows the bytes, the decoded one does not.
  const std::string info_raw = "d6:pieces" + std::to_string(3 * 20) + ":" + hashes(3) +
                               "4:name8:file.bin12:piece lengthi16384e6:lengthi040000ee";
  const std::string file = "d8:announce3:url4:info" + info_raw + "7:comment2:hie";
  torrent_metainfo raw(file.data(), file.size());
  EXPECT_EQ(raw.info_hash(), sha1_of(info_raw));
  EXPECT_EQ(raw.comment(), "hi");
  EXPECT_EQ(raw.total_size(), 40000);
  torrent_metainfo decoded(bdecode(file));
  EXPECT_NE(decoded.info_hash(), raw.info_hash());
  EXPECT_EQ(decoded.info_hash(), b.info_hash());
}

TEST(TorrentMetainfoRaw, ServedInfoBytesHashToTheInfoHash) {
  // Keys out of order and an integer with a leading zero: a re-encoding
  // would differ, so peers fetching the metadata must get these bytes.
  const std::string info_raw = "d6:pieces" + std::to_string(3 * 20) + ":" + hashes(3) +
                               "4:name8:file.bin12:piece lengthi16384e6:lengthi040000ee";
  const std::string file = "d8:announce3:url4:info" + info_raw + "e";
  torrent_metainfo raw(file.data(), file.size());
  EXPECT_EQ(raw.info_dictionary_bytes(), info_raw);

  torrent_metainfo swarm(sha1_of(info_raw));
  swarm.read_info_dictionary(info_raw + "trailing");
  EXPECT_EQ(swarm.info_dictionary_bytes(), info_raw);
  EXPECT_EQ(swarm.info_hash(), sha1_of(info_raw));

  // Read from an entry there are no raw bytes: the canonical encoding.
  torrent_metainfo decoded(bdecode(file));
  EXPECT_EQ(sha1_of(decoded.info_dictionary_bytes()), decoded.info_hash());

  // A builder that changes the dictionary drops the bytes read.
  raw.set_hash(0, sha1_of("x"));
  EXPECT_EQ(raw.info_dictionary_bytes(), encode(raw.build_info_dictionary()));
  EXPECT_EQ(sha1_of(raw.info_dictionary_bytes()), sha1_of(encode(raw.build_torrent_dictionary()["info"])));
  EXPECT_EQ(sha1_of(raw.info_dictionary_bytes()), raw.info_hash());
}

TEST(TorrentMetainfoRaw, CanonicalBytesSurviveBuildingTheTorrent) {
  const std::string file = encode(single_file());
  torrent_metainfo m(file.data(), file.size());
  const sha1_hash before = m.info_hash();
  m.build_torrent_dictionary();
  EXPECT_EQ(m.info_hash(), before);
  EXPECT_EQ(sha1_of(m.info_dictionary_bytes()), before);
}

TEST(TorrentMetainfoRaw, MalformedBytes) {
  const std::string good = encode(single_file());
  for (std::size_t cut = 0; cut < good.size(); cut += 7) {
    EXPECT_THROW(torrent_metainfo(good.data(), cut), std::exception) << cut;
  }
  EXPECT_THROW(torrent_metainfo("x", 1), engine::invalid_encoding);
  EXPECT_THROW(torrent_metainfo("i1e", 3), invalid_torrent_file);
  EXPECT_THROW(torrent_metainfo("di1ei2ee", 8), engine::invalid_encoding);
  EXPECT_THROW(torrent_metainfo("de", 2), invalid_torrent_file);
}

TEST(TorrentMetainfoBuild, MakerRoundTrip) {
  torrent_metainfo m;
  EXPECT_EQ(m.piece_length(), 262144);
  EXPECT_TRUE(m.creation_date());
  EXPECT_TRUE(m.info_hash().is_all_zeros());
  EXPECT_TRUE(m.build_torrent_dictionary().type() == entry::undefined_t);

  m.set_piece_size(16384);
  m.add_file("album/cd1/track.flac", 20000);
  m.add_file("album/cover.jpg", 5000);
  EXPECT_TRUE(m.is_multi_file());
  EXPECT_EQ(m.name(), "album");
  EXPECT_EQ(m.num_pieces(), 2);
  m.set_hash(0, sha1_hash::from_bytes("01234567890123456789"));
  m.set_hash(1, sha1_hash::from_bytes("abcdefghijabcdefghij"));
  EXPECT_THROW(m.set_hash(2, sha1_hash()), std::out_of_range);
  m.add_tracker("http://t2/announce", 1);
  m.add_tracker("http://t0/announce", 0);
  m.add_tracker("http://t0b/announce", 0);
  m.set_comment("a comment");
  m.set_creator("Quillfern");
  EXPECT_TRUE(m.build_torrent_dictionary().type() == entry::dictionary_t);

  entry t = m.build_torrent_dictionary();
  EXPECT_EQ(t["announce"].string(), "http://t0/announce");
  EXPECT_EQ(encode(t["announce-list"]), "ll18:http://t0/announce19:http://t0b/announceel18:http://t2/announceee");
  EXPECT_EQ(encode(t["info"]["files"]),
            "ld6:lengthi20000e4:pathl3:cd110:track.flaceed6:lengthi5000e4:pathl9:cover.jpgeee");
  EXPECT_EQ(m.info_hash(), sha1_of(encode(t["info"])));

  const std::string bytes = encode(t);
  torrent_metainfo back(bytes.data(), bytes.size());
  EXPECT_EQ(back.info_hash(), m.info_hash());
  EXPECT_EQ(back.files(), m.files());
  EXPECT_EQ(back.comment(), "a comment");
  EXPECT_EQ(back.creator(), "Quillfern");
  EXPECT_EQ(back.creation_date(), m.creation_date());
  EXPECT_EQ(back.hash_for_piece(1), m.hash_for_piece(1));
  EXPECT_EQ(back.trackers()[2], (engine::announce_entry{"http://t2/announce", 1}));
}

TEST(TorrentMetainfoBuild, SingleFileAndOneTracker) {
  torrent_metainfo m;
  m.add_file("one.iso", 300000);
  m.add_tracker("udp://t:80");
  EXPECT_FALSE(m.is_multi_file());
  EXPECT_EQ(m.name(), "one.iso");
  EXPECT_EQ(m.num_pieces(), 2);
  entry t = m.build_torrent_dictionary();
  EXPECT_EQ(t.find_key("announce-list"), nullptr);
  EXPECT_EQ(t.find_key("comment"), nullptr);
  EXPECT_EQ(t["info"]["length"].integer(), 300000);
  EXPECT_EQ(t["info"]["name"].string(), "one.iso");
  EXPECT_EQ(t["info"].find_key("files"), nullptr);
}

TEST(TorrentMetainfoBuild, InfoFromTheSwarm) {
  const std::string info = encode(single_file()["info"]);
  const sha1_hash ih = sha1_of(info);
  torrent_metainfo m(ih);
  m.add_tracker("http://t/announce");
  EXPECT_EQ(m.info_hash(), ih);
  EXPECT_THROW(m.read_info_dictionary("d4:name2:..e"), invalid_torrent_file);
  EXPECT_TRUE(m.files().empty());  // unchanged by the failed read
  m.read_info_dictionary(info);
  EXPECT_EQ(m.info_hash(), ih);
  EXPECT_EQ(m.name(), "file.bin");
  EXPECT_EQ(m.num_pieces(), 3);
  EXPECT_EQ(m.trackers().size(), 1u);
}

TEST(TorrentMetainfoBuild, PrintSummary) {
  entry t = single_file(40000);
  t["comment"] = "c";
  t["creation date"] = 0;
  std::ostringstream os;
  torrent_metainfo(t).print_summary(os);
  EXPECT_EQ(os.str(),
            "trackers:\n"
            "0: http://tracker.example/announce\n"
            "comment: c\n"
            "creation date: 1970-01-01 00:00:00\n"
            "number of pieces: 3\n"
            "piece length: 16384\n"
            "files:\n"
            "        40000 file.bin\n");
}

TEST(PieceArithmetic, BlocksOfAShortLastPiece) {
  // 40000 bytes in 16 KiB blocks: two whole ones and 7232 bytes.
  EXPECT_EQ(engine::block_count(40000, 16384), 3);
  EXPECT_EQ(engine::block_count(32768, 16384), 2);
  EXPECT_EQ(engine::block_length(40000, 16384, 1), 16384);
  EXPECT_EQ(engine::block_length(40000, 16384, 2), 7232);
  EXPECT_EQ(engine::block_length(40000, 16384, 3), 0);
  EXPECT_EQ(engine::block_length(32768, 16384, 1), 16384);
  // A 4 GiB piece: the block's start does not overflow.
  EXPECT_EQ(engine::block_length(std::int64_t{1} << 32, 16384, 262143), 16384);
}

TEST(PieceArithmetic, FileRangesAcrossPieceBoundaries) {
  const auto range = [](std::int64_t offset, std::int64_t size) {
    const engine::piece_range r = engine::pieces_of_bytes(offset, size, 100);
    return std::pair(r.first, r.end);
  };
  EXPECT_EQ(range(0, 100), std::pair(0, 1));    // ends on a boundary: not the next piece
  EXPECT_EQ(range(99, 2), std::pair(0, 2));     // one byte on each side
  EXPECT_EQ(range(100, 1), std::pair(1, 2));    // starts on a boundary
  EXPECT_EQ(range(150, 0), std::pair(1, 1));    // empty file: no piece
  EXPECT_EQ(range(250, 1000), std::pair(2, 13));
  EXPECT_EQ(engine::pieces_of_bytes(50, 10, 0).end, 0);
}
