#include "engine/session/fast_resume.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <zlib.h>

#include "engine/storage/piece_manager.h"
#include "tests/engine/storage/storage_test_support.h"

using engine::entry;
using engine::piece_manager;
using storage_test::temp_dir;
using storage_test::test_torrent;

namespace {

constexpr int block = 16;

entry ints(std::initializer_list<int> v) {
  entry::list_type l;
  for (int i : v) l.emplace_back(entry::integer_type{i});
  return entry(l);
}

// A partial download: pieces 0 and 3 complete, blocks 0 and 2 of piece 1
// written; 4 pieces of 64 bytes in two files.
struct partial_download : ::testing::Test {
  temp_dir dir;
  test_torrent t{{{"t/a", 100}, {"t/b", 156}}, 64};
  std::vector<engine::piece_picker::downloading_piece> downloading;
  std::vector<engine::address> peers{engine::address(10, 0, 0, 1, 6881), engine::address(192, 168, 1, 2, 51413)};

  void SetUp() override {
    piece_manager pm(t.info, dir.path());
    std::vector<bool> have;
    run_check(pm, have);
    for (int p : {3, 0}) pm.write(t.piece(p).data(), p, 0, 64);
    pm.write(t.piece(1).data(), 1, 0, block);
    pm.write(t.piece(1).data() + 2 * block, 1, 2 * block, block);
    engine::piece_picker::downloading_piece d;
    d.index = 1;
    d.finished.set(0);
    d.finished.set(2);
    downloading.push_back(d);
    resume = engine::build_resume_data(t.info, pm, block, downloading, peers);
  }

  static void run_check(piece_manager& pm, std::vector<bool>& have) {
    while (!pm.check_pieces(have).first) {
    }
  }

  // Parses `rd` (by default the saved data) and returns the error text.
  std::string parse(const entry& rd, engine::resume_state& out, int block_size = block) {
    std::string error;
    engine::parse_resume_data(rd, t.info, dir.path(), block_size, out, error);
    return error;
  }
  std::string rejection(const entry& rd) {
    engine::resume_state out;
    std::string error = parse(rd, out);
    EXPECT_TRUE(out.slots.empty() && out.peers.empty() && out.unfinished.empty()) << error;
    return error;
  }

  entry resume;
};

using StorageFastResume = partial_download;

}  // namespace

TEST_F(StorageFastResume, WrittenInTheDocumentedFormat) {
  EXPECT_EQ(resume["file-format"].string(), "quillfern resume file");
  EXPECT_EQ(resume["file-version"].integer(), 1);
  EXPECT_EQ(resume["info-hash"].string(), t.info.info_hash().to_string());
  EXPECT_EQ(resume["blocks per piece"].integer(), 4);
  entry::list_type slots;
  for (int p : {0, 1, -2, 3}) slots.emplace_back(entry::integer_type{p});
  EXPECT_EQ(resume["slots"], entry(slots));
  const entry& u = resume["unfinished"].list().front();
  EXPECT_EQ(u["piece"].integer(), 1);
  EXPECT_EQ(u["bitmask"].string(), std::string(1, '\x05'));  // one byte for 4 blocks
  const std::string p1 = t.piece(1);
  uLong crc = adler32(adler32(adler32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(p1.data()), block),
                      reinterpret_cast<const Bytef*>(p1.data() + 2 * block), block);
  EXPECT_EQ(u["adler32"].integer(), static_cast<entry::integer_type>(crc));
  EXPECT_EQ(resume["peers"].list().front()["ip"].string(), "10.0.0.1");
  EXPECT_EQ(resume["peers"].list().front()["port"].integer(), 6881);
  const auto& sizes = resume["file sizes"].list();
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes.front().list().front().integer(), 100);
  EXPECT_EQ(sizes.back().list().front().integer(), 156);
}

TEST_F(StorageFastResume, RoundTripSkipsTheCheckAndKeepsFinishedBlocks) {
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), resume);
  engine::resume_state out;
  EXPECT_EQ(parse(engine::bdecode(bytes), out), "");
  EXPECT_EQ(out.peers, peers);
  EXPECT_EQ(out.slots, (std::vector<int>{0, 1, -2, 3}));
  ASSERT_EQ(out.unfinished.size(), 1u);
  EXPECT_EQ(out.unfinished[0].index, 1);
  EXPECT_EQ(out.unfinished[0].finished, downloading[0].finished);

  piece_manager pm(t.info, dir.path());
  std::vector<bool> have;
  EXPECT_TRUE(pm.check_fastresume(out.slots, {1}, have, true));
  EXPECT_EQ(have, (std::vector<bool>{true, false, false, true}));
  std::string back(64, '\0');
  pm.read(back.data(), 3, 0, 64);
  EXPECT_EQ(back, t.piece(3));
}

TEST_F(StorageFastResume, AnotherBlockSizeDropsOnlyTheUnfinishedPieces) {
  engine::resume_state out;
  EXPECT_EQ(parse(resume, out, 32), "");
  // Piece 1 is not had for it: its slot is free.
  EXPECT_EQ(out.slots, (std::vector<int>{0, -2, -2, 3}));
  EXPECT_TRUE(out.unfinished.empty());
}

// Data saved while files were missing (deleted under the running torrent)
// still claims the pieces that were in them; a file missing then and now
// matches its recorded size and time, so the claims themselves are checked.
TEST_F(StorageFastResume, ClaimsInAMissingOrShortFileAreRefused) {
  const auto a = dir.path() / "t/a", b = dir.path() / "t/b";
  const std::string data_a = storage_test::read_text(a);
  auto saved_now = [&] {
    piece_manager pm(t.info, dir.path());
    std::vector<bool> have;
    pm.check_fastresume({0, 1, -2, 3}, {1}, have, true);
    return engine::build_resume_data(t.info, pm, block, downloading, {});
  };
  std::filesystem::remove(a);
  const entry without_a = saved_now();
  // Piece 1's finished blocks cannot be read: the piece is given up.
  EXPECT_EQ(without_a["slots"], ints({0, -2, -2, 3}));
  EXPECT_TRUE(without_a["unfinished"].list().empty());
  EXPECT_EQ(rejection(without_a), "file '" + a.string() + "' is missing, but the fast-resume data has pieces in it");
  // Back, but the data was saved without it.
  storage_test::write_text(a, data_a);
  EXPECT_EQ(rejection(without_a).rfind("filesize mismatch for file '" + a.string() + "'", 0), 0u);

  // Piece 3 ends at byte 156 of b.
  std::filesystem::resize_file(b, 150);
  EXPECT_EQ(rejection(saved_now()),
            "file '" + b.string() + "' is 150 bytes long, but the pieces of the fast-resume data need 156 bytes of it");
  // Only what is counted as had must be there: without piece 3, b may be
  // short (and piece 1's blocks lie in a).
  entry rd = saved_now();
  rd["slots"] = ints({0, 1});
  engine::resume_state out;
  EXPECT_EQ(parse(rd, out), "");
}

TEST_F(StorageFastResume, EachRejectionNamesItsReason) {
  auto changed = [&](const char* key, entry value) {
    entry rd = resume;
    rd[key] = std::move(value);
    return rd;
  };
  EXPECT_EQ(rejection(changed("file-format", std::string("other"))), "missing file format tag");
  entry no_format = resume;
  no_format.dict().erase("file-format");
  EXPECT_EQ(rejection(no_format), "missing file format tag");
  EXPECT_EQ(rejection(changed("file-version", entry::integer_type{2})), "incompatible file version 2");
  engine::resume_state out;
  EXPECT_EQ(parse(changed("file-version", entry::integer_type{0}), out), "");
  EXPECT_EQ(parse(changed("file-version", entry::integer_type{-1}), out), "");
  EXPECT_EQ(rejection(changed("info-hash", std::string("abc"))), "mismatching info-hash: abc");
  EXPECT_EQ(rejection(changed("slots", ints({0, 1, 2, 3, -1}))),
            "file has more slots than torrent (slots: 5 size: 4 )");
  EXPECT_EQ(rejection(changed("slots", ints({0, 4}))), "too high index number in slot map (index: 4 size: 4)");
  EXPECT_EQ(rejection(changed("slots", ints({0, -3}))), "too high index number in slot map (index: -3 size: 4)");

  auto unfinished = [&](int piece, std::string mask, entry::integer_type crc) {
    entry u(entry::dictionary_t);
    u["piece"] = entry::integer_type{piece};
    u["bitmask"] = std::move(mask);
    u["adler32"] = crc;
    return changed("unfinished", entry::list_type{u});
  };
  const entry::integer_type crc = resume["unfinished"].list().front()["adler32"].integer();
  EXPECT_EQ(rejection(unfinished(4, "\x01", crc)), "invalid piece index in unfinished piece list (index: 4 size: 4)");
  EXPECT_EQ(rejection(unfinished(-1, "\x01", crc)),
            "invalid piece index in unfinished piece list (index: -1 size: 4)");
  EXPECT_EQ(rejection(unfinished(1, std::string("\x05\x00", 2), crc)), "invalid size of bitmask (2)");
  EXPECT_EQ(rejection(unfinished(2, "\x01", crc)), "piece 2 is marked as unfinished, but doesn't have any storage");
  EXPECT_EQ(rejection(unfinished(1, "\x05", crc + 1)), "checksum mismatch on piece 1");
  // An entry without finished blocks is skipped, slot or not.
  EXPECT_EQ(parse(unfinished(2, std::string(1, '\0'), 0), out), "");
  EXPECT_TRUE(out.unfinished.empty());
}

TEST_F(StorageFastResume, TheWholeTorrentMustMatchTheFileSizesOfTheTorrent) {
  // The data claims every piece is there...
  entry rd = resume;
  entry::list_type slots;
  for (int p : {0, 1, 2, 3}) slots.emplace_back(entry::integer_type{p});
  rd["slots"] = slots;
  rd["unfinished"] = entry::list_type{};
  // ...but file b was shorter when it was written.
  rd["file sizes"].list().back().list().front() = entry::integer_type{150};
  EXPECT_EQ(rejection(rd), "file size for 't/b' was expected to be 156 bytes");
  auto one = rd;
  one["file sizes"].list().pop_back();
  EXPECT_EQ(rejection(one), "the number of files does not match the torrent (num: 1 actual: 2)");
  // An unfinished piece may end short of its slot: only the files on disk
  // are compared.
  auto unfinished = rd;
  unfinished["unfinished"] = resume["unfinished"];
  EXPECT_EQ(rejection(unfinished).rfind("filesize mismatch for file '", 0), 0u);
  // With a free slot in the map only the files on disk are compared.
  auto partial = resume;
  partial["file sizes"].list().pop_back();
  EXPECT_EQ(rejection(partial), "mismatching number of files");
}

TEST_F(StorageFastResume, AWriteAfterSavingIsSeenEvenWithinTheSameSecond) {
  piece_manager pm(t.info, dir.path());
  std::vector<bool> have;
  ASSERT_TRUE(pm.check_fastresume({0, 1, -2, 3}, {1}, have, true));
  pm.write(t.piece(1).data() + block, 1, block, block);
  EXPECT_EQ(rejection(resume).rfind("timestamp mismatch for file '" + (dir.path() / "t/a").string() +
                                        "', expected to have modification date ",
                                    0),
            0u);
}

TEST_F(StorageFastResume, DataOfTheWrongShapeIsRejectedWithItsReason) {
  engine::resume_state out;
  EXPECT_EQ(parse(entry(), out), "");
  EXPECT_TRUE(out.slots.empty());
  auto reason = [&](const std::function<void(entry&)>& damage) {
    entry rd = resume;
    damage(rd);
    return rejection(rd);
  };
  const std::string wrong_type = "\" in fast-resume data: invalid type requested from entry";
  EXPECT_EQ(reason([](entry& rd) { rd["slots"] = std::string("x"); }), "invalid \"slots" + wrong_type);
  EXPECT_EQ(reason([](entry& rd) { rd["slots"].list().front() = std::string("x"); }), "invalid \"slots" + wrong_type);
  EXPECT_EQ(reason([](entry& rd) { rd.dict().erase("info-hash"); }),
            "invalid \"info-hash\" in fast-resume data: key not found: info-hash");
  EXPECT_EQ(reason([](entry& rd) { rd["peers"].list().front()["ip"] = std::string("not.an.address"); }),
            "invalid peer address in fast-resume data: 'not.an.address'");
  EXPECT_EQ(reason([](entry& rd) { rd["peers"].list().front()["ip"] = entry::integer_type{7}; }),
            "invalid \"peers" + wrong_type);
  EXPECT_EQ(reason([](entry& rd) { rd["peers"].list().front() = entry::integer_type{7}; }),
            "invalid \"peers" + wrong_type);
  EXPECT_EQ(reason([](entry& rd) { rd["peers"].list().front().dict().erase("port"); }),
            "invalid \"peers\" in fast-resume data: key not found: port");
  EXPECT_EQ(reason([](entry& rd) { rd["file sizes"].list().front() = entry::list_type{}; }),
            "invalid \"file sizes\" in fast-resume data: invalid file size entry");
  EXPECT_EQ(reason([](entry& rd) { rd["file sizes"] = entry::integer_type{3}; }), "invalid \"file sizes" + wrong_type);
  EXPECT_EQ(reason([](entry& rd) { rd["unfinished"].list().front()["bitmask"] = entry::integer_type{1}; }),
            "invalid \"unfinished" + wrong_type);
  EXPECT_EQ(reason([](entry& rd) { rd["blocks per piece"] = std::string("4"); }),
            "invalid \"blocks per piece" + wrong_type);
  EXPECT_EQ(reason([](entry& rd) { rd = entry::list_type{}; }), "fast-resume data is not a dictionary");
  // A slot map that describes no disk: a piece twice, or a whole piece in
  // the short last slot (read for a torrent that has one).
  EXPECT_EQ(reason([&](entry& rd) { rd["slots"] = ints({0, 1, 0}); }),
            "piece 0 is in more than one slot of the slot map");
  test_torrent short_last{{{"s", 150}}, 64};
  entry rd = resume;
  rd["info-hash"] = short_last.info.info_hash().to_string();
  rd["slots"] = ints({-1, -1, 0});
  engine::resume_state o;
  std::string error;
  engine::parse_resume_data(rd, short_last.info, dir.path(), block, o, error);
  EXPECT_EQ(error, "piece 0 does not fit into slot 2");
  // The unfinished piece's data is gone: its checksum cannot be read.
  std::filesystem::resize_file(dir.path() / "t/a", 70);
  EXPECT_EQ(rejection(resume).rfind("the files could not be compared with the fast-resume data: ", 0), 0u);
}
