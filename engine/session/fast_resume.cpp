#include "engine/session/fast_resume.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>

#include "engine/storage/piece_manager.h"
#include "engine/storage/storage.h"

namespace engine {

namespace {

constexpr const char* file_format = "quillfern resume file";

std::vector<bool> block_bits(const piece_picker::downloading_piece& d, int blocks) {
  std::vector<bool> bits(static_cast<std::size_t>(blocks));
  for (int b = 0; b < blocks; ++b) bits[static_cast<std::size_t>(b)] = d.finished[static_cast<std::size_t>(b)];
  return bits;
}

// Sets back the time of files written to within the last second or two (see
// build_resume_data).
void settle_file_times(const torrent_metainfo& info, const std::filesystem::path& save_path) {
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  for (int i = 0; i < static_cast<int>(info.files().size()); ++i) {
    const auto path = file_path(info, i, save_path);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || st.st_mtim.tv_sec < now.tv_sec - 1) continue;
    timespec times[2] = {{0, UTIME_OMIT}, {now.tv_sec - 2, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
}

// Whether the files hold every byte of the pieces that `state` counts as
// had (those in its slots but the unfinished ones); else `error` names the
// first file that does not.
bool claimed_data_there(const torrent_metainfo& info, const resume_state& state,
                        const std::filesystem::path& save_path, std::string& error) {
  const auto& files = info.files();
  std::vector<std::int64_t> starts, needed(files.size(), 0);
  std::int64_t at = 0;
  for (const auto& f : files) {
    starts.push_back(at);
    at += f.size;
  }
  std::vector<bool> unfinished(static_cast<std::size_t>(info.num_pieces()), false);
  for (const auto& d : state.unfinished) unfinished[static_cast<std::size_t>(d.index)] = true;
  for (int s = 0; s < static_cast<int>(state.slots.size()); ++s) {
    const int p = state.slots[static_cast<std::size_t>(s)];
    if (p < 0 || unfinished[static_cast<std::size_t>(p)]) continue;
    const std::int64_t begin = std::int64_t{s} * info.piece_length(), end = begin + info.piece_size(p);
    auto i = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), begin) - starts.begin()) - 1;
    for (; i < files.size() && starts[i] < end; ++i)
      if (files[i].size > 0 && begin < starts[i] + files[i].size)
        needed[i] = std::max(needed[i], std::min(end - starts[i], files[i].size));
  }
  const auto base = complete_path(save_path);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (needed[i] == 0) continue;
    const std::string path = file_path(info, static_cast<int>(i), base).string();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
      error = "file '" + path + "' is missing, but the fast-resume data has pieces in it";
      return false;
    }
    // The size of anything but a plain file (a device, say) tells nothing.
    if (S_ISREG(st.st_mode) && st.st_size < needed[i]) {
      error = "file '" + path + "' is " + std::to_string(st.st_size) +
              " bytes long, but the pieces of the fast-resume data need " + std::to_string(needed[i]) +
              " bytes of it";
      return false;
    }
  }
  return true;
}

}  // namespace

int resume_bitmask_size(int blocks_per_piece) { return std::max((blocks_per_piece + 7) / 8, 1); }

void parse_resume_data(const entry& resume, const torrent_metainfo& info, const std::filesystem::path& save_path,
                       int block_size, resume_state& out, std::string& error) {
  out = resume_state{};
  if (resume.type() == entry::undefined_t) return;
  const entry rd = resume;
  const int num_pieces = info.num_pieces();
  const std::string pieces_text = std::to_string(num_pieces);
  resume_state state;
  if (rd.type() != entry::dictionary_t) {
    error = "fast-resume data is not a dictionary";
    return;
  }
  // The key being read, to name it when its value has the wrong shape.
  std::string_view reading = "file-format";
  auto bad_value = [&](const char* what) {
    error = "invalid \"" + std::string(reading) + "\" in fast-resume data: " + what;
  };
  try {
    const entry* format = rd.find_key("file-format");
    if (!format || format->type() != entry::string_t || format->string() != file_format) {
      error = "missing file format tag";
      return;
    }
    reading = "file-version";
    if (const entry::integer_type version = rd["file-version"].integer(); version >= 2) {
      error = "incompatible file version " + std::to_string(version);
      return;
    }
    reading = "info-hash";
    const std::string& hash = rd["info-hash"].string();
    if (hash != info.info_hash().to_string()) {
      error = "mismatching info-hash: " + hash;
      return;
    }

    reading = "peers";
    if (const entry* peers = rd.find_key("peers")) {
      for (const entry& p : peers->list()) {
        const auto port = static_cast<std::uint16_t>(p["port"].integer());
        // Peers are written as dotted quads; anything else is no peer of
        // ours, and no name is ever looked up for it.
        const std::string& ip = p["ip"].string();
        auto a = address::parse_dotted(ip, port);
        if (!a) {
          error = "invalid peer address in fast-resume data: '" + ip + "'";
          return;
        }
        state.peers.push_back(*a);
      }
    }

    reading = "slots";
    const entry::list_type& slots = rd["slots"].list();
    if (slots.size() > static_cast<std::size_t>(num_pieces)) {
      error = "file has more slots than torrent (slots: " + std::to_string(slots.size()) + " size: " + pieces_text +
              " )";
      return;
    }
    for (const entry& s : slots) {
      const entry::integer_type v = s.integer();
      if (v >= num_pieces || v < piece_manager::free_slot) {
        error = "too high index number in slot map (index: " + std::to_string(v) + " size: " + pieces_text + ")";
        return;
      }
      state.slots.push_back(static_cast<int>(v));
    }
    // A map that names a piece twice, or puts a piece into a slot too small
    // for it, describes no disk.
    std::vector<bool> seen(static_cast<std::size_t>(num_pieces), false);
    for (int s = 0; s < static_cast<int>(state.slots.size()); ++s) {
      const int p = state.slots[static_cast<std::size_t>(s)];
      if (p < 0) continue;
      if (seen[static_cast<std::size_t>(p)]) {
        error = "piece " + std::to_string(p) + " is in more than one slot of the slot map";
        return;
      }
      if (info.piece_size(p) > info.piece_size(s)) {
        error = "piece " + std::to_string(p) + " does not fit into slot " + std::to_string(s);
        return;
      }
      seen[static_cast<std::size_t>(p)] = true;
    }

    reading = "blocks per piece";
    const int blocks_per_piece = static_cast<int>(info.piece_length() / block_size);
    if (rd["blocks per piece"].integer() == blocks_per_piece) {
      std::unique_ptr<storage> st;
      reading = "unfinished";
      for (const entry& u : rd["unfinished"].list()) {
        const entry::integer_type index = u["piece"].integer();
        if (index < 0 || index >= num_pieces) {
          error = "invalid piece index in unfinished piece list (index: " + std::to_string(index) +
                  " size: " + pieces_text + ")";
          return;
        }
        const int piece = static_cast<int>(index);
        const std::string& mask = u["bitmask"].string();
        if (static_cast<int>(mask.size()) != resume_bitmask_size(blocks_per_piece)) {
          error = "invalid size of bitmask (" + std::to_string(mask.size()) + ")";
          return;
        }
        piece_picker::downloading_piece d;
        d.index = piece;
        const int blocks = std::min(block_count(info.piece_size(piece), block_size),
                                    piece_picker::max_blocks_per_piece);
        for (int b = 0; b < blocks; ++b) {
          if (static_cast<unsigned char>(mask[static_cast<std::size_t>(b / 8)]) & (1u << (b % 8))) {
            d.finished.set(static_cast<std::size_t>(b));
          }
        }
        if (d.finished.none()) continue;
        auto slot = std::find(state.slots.begin(), state.slots.end(), piece);
        if (slot == state.slots.end()) {
          error = "piece " + std::to_string(piece) + " is marked as unfinished, but doesn't have any storage";
          return;
        }
        if (!st) st = std::make_unique<storage>(info, save_path);
        const std::uint32_t crc =
            finished_blocks_checksum(*st, static_cast<int>(slot - state.slots.begin()),
                                     static_cast<int>(info.piece_size(piece)), block_size, block_bits(d, blocks));
        if (u["adler32"].integer() != static_cast<entry::integer_type>(crc)) {
          error = "checksum mismatch on piece " + std::to_string(piece);
          return;
        }
        state.unfinished.push_back(d);
      }
    } else if (const entry* u = rd.find_key("unfinished"); u && u->type() == entry::list_t) {
      // Blocks of another size: their finished blocks are lost, and the
      // pieces they belong to are not had either.
      for (const entry& e : u->list()) {
        const entry* piece = e.type() == entry::dictionary_t ? e.find_key("piece") : nullptr;
        if (!piece || piece->type() != entry::int_t || piece->integer() < 0 || piece->integer() >= num_pieces)
          continue;
        std::replace(state.slots.begin(), state.slots.end(), static_cast<int>(piece->integer()),
                     piece_manager::free_slot);
      }
    }

    reading = "file sizes";
    std::vector<std::pair<std::int64_t, std::time_t>> sizes;
    for (const entry& f : rd["file sizes"].list()) {
      const auto& pair = f.list();
      if (pair.empty()) throw type_error("invalid file size entry");
      sizes.emplace_back(pair.front().integer(), static_cast<std::time_t>(pair.back().integer()));
    }

    // Every slot holding a piece, and none of them unfinished: the data says
    // the whole torrent is there. (A piece still being downloaded may end
    // short of its slot, so the files need not have their full sizes yet.)
    const bool whole = static_cast<int>(state.slots.size()) == num_pieces &&
                       std::none_of(state.slots.begin(), state.slots.end(), [](int s) { return s < 0; }) &&
                       state.unfinished.empty();
    if (whole) {
      const auto& files = info.files();
      if (sizes.size() != files.size()) {
        error = "the number of files does not match the torrent (num: " + std::to_string(sizes.size()) +
                " actual: " + std::to_string(files.size()) + ")";
        return;
      }
      for (std::size_t i = 0; i < files.size(); ++i) {
        if (sizes[i].first != files[i].size) {
          error = "file size for '" + local_path(files[i].path).string() + "' was expected to be " +
                  std::to_string(files[i].size) + " bytes";
          return;
        }
      }
    }

    if (!match_filesizes(info, sizes, save_path, error)) return;
    // A file missing at the save and still missing matches; what the
    // pieces counted as had need must be there all the same.
    if (!claimed_data_there(info, state, save_path, error)) return;
  } catch (const type_error& e) {
    bad_value(e.what());
    return;
  } catch (const invalid_encoding& e) {
    bad_value(e.what());
    return;
  } catch (const file_error& e) {
    error = std::string("the files could not be compared with the fast-resume data: ") + e.what();
    return;
  }
  out = std::move(state);
}

entry build_resume_data(const torrent_metainfo& info, piece_manager& pm, int block_size,
                        const std::vector<piece_picker::downloading_piece>& downloading,
                        const std::vector<address>& peers, const std::vector<int>& unsettled) {
  entry ret(entry::dictionary_t);
  ret["file-format"] = std::string(file_format);
  ret["file-version"] = entry::integer_type{1};
  ret["info-hash"] = info.info_hash().to_string();

  const int blocks_per_piece = static_cast<int>(info.piece_length() / block_size);
  ret["blocks per piece"] = entry::integer_type{blocks_per_piece};

  // A slot whose piece is neither had nor described as unfinished would be
  // taken as had: such a piece is given up instead.
  std::vector<int> given_up = unsettled;
  entry::list_type unfinished;
  for (const auto& d : downloading) {
    if (d.index < 0 || d.index >= info.num_pieces()) continue;
    const int slot = pm.slot_of(d.index);
    if (slot < 0) continue;
    if (d.finished.none()) {
      given_up.push_back(d.index);
      continue;
    }
    const int blocks = std::min(block_count(info.piece_size(d.index), block_size),
                                piece_picker::max_blocks_per_piece);
    std::string mask(static_cast<std::size_t>(resume_bitmask_size(blocks_per_piece)), '\0');
    for (int b = 0; b < blocks && b / 8 < static_cast<int>(mask.size()); ++b) {
      if (d.finished[static_cast<std::size_t>(b)]) mask[static_cast<std::size_t>(b / 8)] |= static_cast<char>(1 << (b % 8));
    }
    std::uint32_t crc;
    try {
      crc = pm.piece_crc(slot, block_size, block_bits(d, blocks));
    } catch (const file_error&) {
      given_up.push_back(d.index);  // its blocks are downloaded again
      continue;
    }
    entry piece(entry::dictionary_t);
    piece["piece"] = entry::integer_type{d.index};
    piece["bitmask"] = std::move(mask);
    piece["adler32"] = entry::integer_type{crc};
    unfinished.push_back(std::move(piece));
  }
  ret["unfinished"] = std::move(unfinished);

  entry::list_type slots;
  std::vector<int> map = pm.export_piece_map();
  for (int& p : map)
    if (std::find(given_up.begin(), given_up.end(), p) != given_up.end()) p = piece_manager::free_slot;
  while (!map.empty() && map.back() < 0) map.pop_back();
  for (int p : map) slots.emplace_back(entry::integer_type{p});
  ret["slots"] = std::move(slots);

  entry::list_type peer_list;
  for (const auto& a : peers) {
    entry peer(entry::dictionary_t);
    peer["ip"] = a.as_string();
    peer["port"] = entry::integer_type{a.port};
    peer_list.push_back(std::move(peer));
  }
  ret["peers"] = std::move(peer_list);

  const auto save_path = pm.save_path();
  settle_file_times(info, save_path);
  entry::list_type sizes;
  for (const auto& [size, time] : get_filesizes(info, save_path)) {
    sizes.emplace_back(entry::list_type{entry(entry::integer_type{size}), entry(entry::integer_type{time})});
  }
  ret["file sizes"] = std::move(sizes);
  return ret;
}

}  // namespace engine
