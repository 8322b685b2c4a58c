// Speed of a full check: a torrent of random data (1 GiB by default) is laid
// out on disk, read once to warm the page cache, then checked slot by slot
// through the piece manager. Compared with SHA-1 over the same bytes in
// memory, which bounds what a check can reach.
//
//   storage_check [MiB] [piece KiB] [folder]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/formats/sha1.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/storage/piece_manager.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const std::int64_t piece_length = (argc > 2 ? std::atoll(argv[2]) : 1024) * 1024;
  std::filesystem::path base = argc > 3 ? argv[3] : std::filesystem::temp_directory_path();
  std::string tmpl = (base / "qf-check-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path dir = tmpl;
  const std::int64_t total = mib << 20;

  // Four files of a quarter each, random bytes, hashed as they are written.
  engine::torrent_metainfo info;
  info.set_piece_size(piece_length);
  const int files = 4;
  for (int i = 0; i < files; ++i) info.add_file("bench/part" + std::to_string(i), total / files);
  std::filesystem::create_directories(dir / "bench");
  std::mt19937_64 gen(42);
  std::vector<char> piece(static_cast<std::size_t>(piece_length));
  std::vector<std::ofstream> out;
  for (int i = 0; i < files; ++i) out.emplace_back(dir / ("bench/part" + std::to_string(i)), std::ios::binary);
  std::int64_t written = 0;
  for (int p = 0; p < info.num_pieces(); ++p) {
    const auto size = static_cast<std::size_t>(info.piece_size(p));
    for (std::size_t k = 0; k + 8 <= size; k += 8) {
      const auto v = gen();
      std::memcpy(piece.data() + k, &v, 8);
    }
    info.set_hash(p, engine::hasher(piece.data(), static_cast<int>(size)).final());
    for (std::size_t done = 0; done < size;) {
      const int f = static_cast<int>(written / (total / files));
      const std::int64_t room = (total / files) * (f + 1) - written;
      const std::size_t n = std::min<std::size_t>(size - done, static_cast<std::size_t>(room));
      out[static_cast<std::size_t>(f)].write(piece.data() + done, static_cast<std::streamsize>(n));
      done += n;
      written += static_cast<std::int64_t>(n);
    }
  }
  out.clear();

  // SHA-1 alone over one piece buffer, as many bytes as the torrent holds.
  auto start = std::chrono::steady_clock::now();
  engine::hasher h;
  for (std::int64_t done = 0; done < total; done += piece_length) h.update(piece.data(), static_cast<int>(piece_length));
  volatile auto digest = h.final()[0];
  (void)digest;
  const double sha1_mbs = double(total) / 1e6 / seconds_since(start);

  auto check = [&] {
    engine::piece_manager pm(info, dir);
    std::vector<bool> have;
    auto begin = std::chrono::steady_clock::now();
    while (!pm.check_pieces(have).first) {
    }
    const double secs = seconds_since(begin);
    int found = 0;
    for (bool b : have) found += b;
    if (found != info.num_pieces()) std::fprintf(stderr, "only %d of %d pieces found\n", found, info.num_pieces());
    return double(total) / 1e6 / secs;
  };
  check();  // warms the page cache
  const double check_mbs = check();

  std::printf("torrent: %lld MiB in %d pieces of %lld KiB\n", static_cast<long long>(mib), info.num_pieces(),
              static_cast<long long>(piece_length / 1024));
  std::printf("SHA-1 in memory:          %8.1f MB/s (%s)\n", sha1_mbs,
              engine::sha1_active_backend() == engine::sha1_backend::sha_instructions ? "SHA instructions"
                                                                                       : "portable");
  std::printf("full check, warm cache:   %8.1f MB/s (%.0f%% of SHA-1)\n", check_mbs, 100.0 * check_mbs / sha1_mbs);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
