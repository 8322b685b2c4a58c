#pragma once
// Fast-resume data: the bencoded dictionary that records, at shut-down, which
// pieces lie in which slots, the finished blocks of unfinished pieces, the
// peers this side connected to and the sizes and times of the files, so that
// the next start can skip the full check of the files.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/net/address.h"
#include "engine/session/piece_picker.h"

namespace engine {

class piece_manager;

// What accepted fast-resume data tells the checker.
struct resume_state {
  std::vector<address> peers;
  std::vector<int> slots;  // slot -> piece, or -1 unallocated, -2 free
  std::vector<piece_picker::downloading_piece> unfinished;
};

// Reads `resume` for the torrent `info` whose files lie under `save_path`
// and whose blocks are `block_size` bytes. On success `out` holds what the
// data says; on a rejection `error` tells why and `out` stays empty, be it
// a check that failed, a value of the wrong type, a peer that is no address
// or files that cannot be read. An undefined entry reads nothing and is no
// error.
void parse_resume_data(const entry& resume, const torrent_metainfo& info, const std::filesystem::path& save_path,
                       int block_size, resume_state& out, std::string& error);

// The fast-resume dictionary of a running torrent: its piece manager, block
// size, the pieces being downloaded (from the picker) and the peers this
// side connected to.
//
// A file written to within the current second would keep its whole-second
// time through later writes in that second, and stale data would then pass
// as current; such files have their time set back two seconds first, so
// that any later write shows.
entry build_resume_data(const torrent_metainfo& info, piece_manager& pm, int block_size,
                        const std::vector<piece_picker::downloading_piece>& downloading,
                        const std::vector<address>& peers,
                        const std::vector<int>& unsettled = {});

// Bytes of the "bitmask" of an unfinished piece for `blocks_per_piece`.
int resume_bitmask_size(int blocks_per_piece);

}  // namespace engine
