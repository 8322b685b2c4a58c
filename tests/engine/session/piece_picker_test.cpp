#include "engine/session/piece_picker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

using engine::address;
using engine::piece_block;
using engine::piece_picker;

namespace {

const address peer_a(10, 0, 0, 1, 6881);
const address peer_b(10, 0, 0, 2, 6881);

// A picker of `pieces` pieces of `bpp` blocks where we have nothing.
piece_picker empty_picker(int pieces, int bpp, int last_blocks = 0) {
  const int total = last_blocks ? (pieces - 1) * bpp + last_blocks : pieces * bpp;
  piece_picker p(bpp, total, 7);
  p.files_checked(std::vector<bool>(pieces, false), {});
  return p;
}

std::vector<bool> all(int n) { return std::vector<bool>(n, true); }

std::set<int> pieces_of(const std::vector<piece_block>& v) {
  std::set<int> s;
  for (auto& b : v) s.insert(b.piece_index);
  return s;
}

}  // namespace

TEST(PiecePickerShape, PieceCountLimit) {
  EXPECT_THROW(piece_picker(1, 262143), std::runtime_error);
  try {
    piece_picker(1, 262143);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "too many pieces in torrent");
  }
  piece_picker ok(1, 262142);
  EXPECT_EQ(ok.num_pieces(), 262142);
  EXPECT_THROW(piece_picker(257, 1000), std::out_of_range);
}

TEST(PiecePickerShape, LastPieceCountsItsOwnBlocks) {
  piece_picker p = empty_picker(3, 16, 5);
  EXPECT_EQ(p.blocks_in_piece(0), 16);
  EXPECT_EQ(p.blocks_in_piece(2), 5);
  EXPECT_THROW(p.mark_as_downloading(piece_block(2, 5), peer_a), std::out_of_range);
  EXPECT_THROW(p.mark_as_downloading(piece_block(0, 256), peer_a), std::out_of_range);
  for (int b = 0; b < 5; ++b) p.mark_as_finished(piece_block(2, b), peer_a);
  EXPECT_TRUE(p.is_piece_finished(2));
  EXPECT_EQ(p.get_downloaders(2).size(), 5u);
}

TEST(PiecePickerShape, EverythingStartsHad) {
  piece_picker p(4, 40, 1);
  EXPECT_TRUE(p.have_piece(3));
  EXPECT_TRUE(p.is_finished(piece_block(3, 1)));
  std::vector<piece_block> out;
  p.inc_refcount(3);
  p.pick_pieces(all(10), out, 10, false, peer_a);
  EXPECT_TRUE(out.empty());
}

TEST(PiecePickerRefcount, SaturatesWithoutTouchingFlags) {
  piece_picker p = empty_picker(2, 4);
  for (int i = 0; i < 5000; ++i) p.inc_refcount(0);
  EXPECT_EQ(p.peer_count(0), piece_picker::max_peer_count);
  EXPECT_FALSE(p.is_filtered(0));
  EXPECT_FALSE(p.have_piece(0));
  EXPECT_FALSE(p.is_requested(piece_block(0, 0)));
  std::vector<piece_block> out;
  p.pick_pieces(all(2), out, 4, false, peer_a);
  EXPECT_EQ(pieces_of(out), std::set<int>{0});
  for (int i = 0; i < 5000; ++i) p.dec_refcount(0);
  EXPECT_EQ(p.peer_count(0), 0);
  p.dec_refcount(0);
  EXPECT_EQ(p.peer_count(0), 0);
  out.clear();
  p.pick_pieces(all(2), out, 4, false, peer_a);
  EXPECT_TRUE(out.empty());  // nobody has anything
}

TEST(PiecePickerPick, RarestFirst) {
  piece_picker p = empty_picker(4, 2);
  for (int piece : {0, 0, 0, 1, 1, 2, 3, 3, 3, 3}) p.inc_refcount(piece);
  std::vector<piece_block> out;
  p.pick_pieces(all(4), out, 2, false, peer_a);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], piece_block(2, 0));
  EXPECT_EQ(out[1], piece_block(2, 1));
  out.clear();
  p.pick_pieces({true, true, false, true}, out, 3, false, peer_a);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].piece_index, 1);
  EXPECT_EQ(out[2].piece_index, 0);
}

TEST(PiecePickerPick, WithoutWholePiecesExactlyTheWantedNumber) {
  piece_picker p = empty_picker(1, 200);
  p.inc_refcount(0);
  std::vector<piece_block> out;
  p.pick_pieces(all(1), out, 7, false, peer_a);
  EXPECT_EQ(out.size(), 7u);
  out.clear();
  p.pick_pieces(all(1), out, 7, true, peer_a);
  EXPECT_EQ(out.size(), 200u);
}

TEST(PiecePickerPick, PartialPiecesFirstAndSkipOwnRequests) {
  piece_picker p = empty_picker(3, 4);
  for (int piece : {0, 1, 2, 2}) p.inc_refcount(piece);
  p.mark_as_downloading(piece_block(2, 0), peer_a);
  p.mark_as_finished(piece_block(2, 1), peer_b);
  std::vector<piece_block> out;
  p.pick_pieces(all(3), out, 2, false, peer_a);
  // Piece 2 (two peers, partial) comes before the rarer untouched pieces.
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], piece_block(2, 2));
  EXPECT_EQ(out[1], piece_block(2, 3));
  // Another peer is also offered the block requested from peer a.
  out.clear();
  p.pick_pieces(all(3), out, 2, false, peer_b);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], piece_block(2, 0));
}

TEST(PiecePickerPick, BusyBlocksAreBounded) {
  piece_picker p = empty_picker(50, 64);
  for (int i = 0; i < 50; ++i) {
    p.inc_refcount(i);
    for (int b = 0; b < 64; ++b) p.mark_as_downloading(piece_block(i, b), peer_b);
  }
  std::vector<piece_block> out;
  p.pick_pieces(all(50), out, 48, false, peer_a);
  EXPECT_EQ(int(out.size()), piece_picker::max_busy_blocks);
  out.clear();
  p.pick_pieces(all(50), out, 48, true, peer_a);
  EXPECT_LE(out.size(), 48u);  // backup blocks only, at most the wanted number
}

TEST(PiecePickerPick, WholePiecesAvoidSharedPieces) {
  piece_picker p = empty_picker(2, 4);
  p.inc_refcount(0);
  p.inc_refcount(1);
  p.mark_as_downloading(piece_block(0, 0), peer_b);
  std::vector<piece_block> out;
  p.pick_pieces(all(2), out, 8, true, peer_a);
  // Piece 1 whole first, then the shared piece's free blocks as backup.
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[0], piece_block(1, 0));
  EXPECT_EQ(out[4].piece_index, 0);
  // A piece whose only downloader is this peer stays on the main path.
  piece_picker q = empty_picker(1, 4);
  q.inc_refcount(0);
  q.mark_as_downloading(piece_block(0, 0), peer_a);
  out.clear();
  q.pick_pieces(all(1), out, 2, true, peer_a);
  EXPECT_EQ(out.size(), 3u);
}

TEST(PiecePickerDownload, AbortDownload) {
  piece_picker p = empty_picker(2, 4);
  p.inc_refcount(0);
  p.mark_as_finished(piece_block(0, 0), peer_a);
  p.abort_download(piece_block(0, 0));
  EXPECT_TRUE(p.is_finished(piece_block(0, 0)));
  EXPECT_TRUE(p.is_requested(piece_block(0, 0)));

  p.mark_as_downloading(piece_block(1, 2), peer_a);
  EXPECT_EQ(p.get_download_queue().size(), 2u);
  p.abort_download(piece_block(1, 2));
  EXPECT_FALSE(p.is_requested(piece_block(1, 2)));
  EXPECT_EQ(p.get_download_queue().size(), 1u);
  EXPECT_EQ(p.get_download_queue()[0].index, 0);
  // Piece 1 is back among the free pieces.
  p.inc_refcount(1);
  std::vector<piece_block> out;
  p.pick_pieces({false, true}, out, 4, false, peer_a);
  EXPECT_EQ(out.size(), 4u);
}

TEST(PiecePickerDownload, RestoreAndHave) {
  piece_picker p = empty_picker(2, 2);
  p.inc_refcount(0);
  p.mark_as_finished(piece_block(0, 0), peer_a);
  p.mark_as_finished(piece_block(0, 1), peer_b);
  EXPECT_TRUE(p.is_piece_finished(0));
  auto who = p.get_downloaders(0);
  EXPECT_EQ(who[0], peer_a);
  EXPECT_EQ(who[1], peer_b);
  p.restore_piece(0);
  EXPECT_FALSE(p.is_finished(piece_block(0, 0)));
  EXPECT_TRUE(p.get_download_queue().empty());
  p.mark_as_downloading(piece_block(0, 0), peer_a);
  p.we_have(0);
  EXPECT_TRUE(p.have_piece(0));
  EXPECT_TRUE(p.get_download_queue().empty());
  p.mark_as_finished(piece_block(0, 1), peer_a);  // ignored for a had piece
  EXPECT_TRUE(p.get_download_queue().empty());
}

TEST(PiecePickerFilter, CountsAndRepresentation) {
  piece_picker p(2, 8, 3);  // 4 pieces, all had
  p.filter(0);
  EXPECT_EQ(p.num_have_filtered(), 1);
  p.files_checked({false, true, false, false}, {});
  EXPECT_EQ(p.num_have_filtered(), 0);
  EXPECT_EQ(p.num_filtered(), 1);
  p.filter(2);
  p.filter(2);
  EXPECT_EQ(p.num_filtered(), 2);
  EXPECT_EQ(p.filtered_pieces(), (std::vector<bool>{true, false, true, false}));
  // A filtered piece that we then get is counted once and never offered.
  p.we_have(2);
  EXPECT_EQ(p.num_filtered(), 1);
  EXPECT_EQ(p.num_have_filtered(), 1);
  p.unfilter(2);
  EXPECT_EQ(p.num_have_filtered(), 0);
  EXPECT_TRUE(p.have_piece(2));
  for (int i = 0; i < 4; ++i) p.inc_refcount(i);
  std::vector<piece_block> out;
  p.pick_pieces(all(4), out, 100, false, peer_a);
  EXPECT_EQ(pieces_of(out), std::set<int>{3});
  p.unfilter(0);
  out.clear();
  p.pick_pieces(all(4), out, 100, false, peer_a);
  EXPECT_EQ(pieces_of(out), (std::set<int>{0, 3}));
  // Finished blocks of filtered pieces are not recorded.
  p.filter(3);
  p.mark_as_finished(piece_block(3, 0), peer_a);
  EXPECT_FALSE(p.is_finished(piece_block(3, 0)));
}

TEST(PiecePickerFilter, ResumeDataBlocksAreFinished) {
  piece_picker p(4, 8, 3);
  piece_picker::downloading_piece dp;
  dp.index = 1;
  dp.finished.set(2);
  p.files_checked({true, false}, {dp});
  EXPECT_TRUE(p.is_finished(piece_block(1, 2)));
  EXPECT_FALSE(p.is_finished(piece_block(1, 1)));
  EXPECT_EQ(p.get_downloaders(1)[2], address());
}

TEST(PiecePickerCopies, DistributedCopies) {
  piece_picker p = empty_picker(4, 1);
  EXPECT_FLOAT_EQ(p.distributed_copies(), 0.0f);  // nobody has any of the 4
  for (int i = 0; i < 4; ++i) p.inc_refcount(i);
  EXPECT_FLOAT_EQ(p.distributed_copies(), 1.0f);
  p.inc_refcount(0);
  EXPECT_FLOAT_EQ(p.distributed_copies(), 1.25f);
  for (int i = 0; i < 4; ++i) p.we_have(i);
  EXPECT_FLOAT_EQ(p.distributed_copies(), 1.0f);
}

// Random operations against a plain model: whatever happened, a pick over
// everything offers exactly the wanted pieces that someone has.
TEST(PiecePickerModel, BucketsStayConsistent) {
  std::mt19937 rng(99);
  const int n = 40;
  piece_picker p = empty_picker(n, 3);
  std::vector<int> count(n, 0);
  std::vector<bool> have(n, false), filtered(n, false);
  for (int step = 0; step < 20000; ++step) {
    const int piece = int(rng() % n);
    switch (rng() % 8) {
      case 0: case 1: case 2: p.inc_refcount(piece); ++count[piece]; break;
      case 3: case 4: p.dec_refcount(piece); if (count[piece]) --count[piece]; break;
      case 5: if (rng() % 4 == 0) { p.we_have(piece); have[piece] = true; } break;
      case 6:
        if (rng() % 2) { p.filter(piece); filtered[piece] = true; }
        else { p.unfilter(piece); filtered[piece] = false; }
        break;
      case 7: {
        const piece_block b(piece, int(rng() % 3));
        if (rng() % 2) p.mark_as_downloading(b, peer_b);
        else p.abort_download(b);
        break;
      }
    }
    if (step % 97 == 0) {
      std::vector<piece_block> out;
      p.pick_pieces(all(n), out, 1000, false, peer_a);
      std::set<int> expected;
      for (int i = 0; i < n; ++i)
        if (!have[i] && !filtered[i] && count[i] > 0) expected.insert(i);
      std::set<int> got;
      for (auto& b : out)
        if (!p.is_requested(b)) got.insert(b.piece_index);
      std::set<int> got_all = pieces_of(out);
      for (int i : got_all) {
        ASSERT_TRUE(expected.count(i)) << i;
      }
      for (int i : expected) {
        bool all_requested = true;
        for (int b = 0; b < 3; ++b) all_requested = all_requested && p.is_requested(piece_block(i, b));
        if (!all_requested) {
          ASSERT_TRUE(got.count(i)) << i;
        }
      }
    }
  }
}
