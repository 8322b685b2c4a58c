#include "client/dialogs/make_torrent_job.h"

#include "client/base/wide_text.h"
#include "engine/formats/entry.h"
#include "engine/formats/sha1.h"
#include "engine/formats/torrent_metainfo.h"
#include "platform/atomic_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace client {

namespace {

// Reads the files one after the other as one stream of bytes.
class FileStream {
 public:
  explicit FileStream(const std::vector<MakeTorrentFile>& files) : m_files(files) {}
  ~FileStream() { Close(); }
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // Fills buf[0..size) from where the last read ended; throws when a file
  // cannot be read or holds less than its recorded size.
  void Read(char* buf, std::int64_t size) {
    while (size > 0) {
      if (m_fd < 0) Open();
      const MakeTorrentFile& f = m_files[m_index];
      const std::int64_t want = std::min(size, f.size - m_offset);
      const ssize_t got = ::read(m_fd, buf, static_cast<std::size_t>(want));
      if (got < 0) {
        if (errno == EINTR) continue;
        Fail(f, std::strerror(errno));
      }
      if (got == 0) Fail(f, "the file is shorter than when it was added");
      buf += got;
      size -= got;
      m_offset += got;
      if (m_offset == f.size) {
        Close();
        ++m_index;
        m_offset = 0;
      }
    }
  }

 private:
  void Open() {
    const MakeTorrentFile& f = m_files.at(m_index);
    m_fd = ::open(f.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) Fail(f, std::strerror(errno));
    struct stat st;
    if (::fstat(m_fd, &st) != 0) Fail(f, std::strerror(errno));
    if (st.st_size != f.size) Fail(f, "the file has changed its size since it was added");
  }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  [[noreturn]] static void Fail(const MakeTorrentFile& f, const std::string& reason) {
    throw std::runtime_error("\"" + f.file.string() + "\": " + reason);
  }

  const std::vector<MakeTorrentFile>& m_files;
  std::size_t m_index = 0;
  std::int64_t m_offset = 0;
  int m_fd = -1;
};

std::wstring UpperHex(const engine::sha1_hash& hash) {
  std::wstring out;
  for (char c : hash.to_hex()) out += static_cast<wchar_t>(c >= 'a' ? c - 'a' + 'A' : c);
  return out;
}

// Reports about a thousand steps of `range`, and the first.
class ProgressSteps {
 public:
  ProgressSteps(const MakeTorrentProgress& report, int range)
      : m_report(report), m_range(range), m_step(std::max(1, range / 1000)) {
    if (m_report) m_report(0, m_range);
  }
  void At(int position) {
    if (m_report && position >= m_next) {
      m_report(position, m_range);
      m_next = position + m_step;
    }
  }

 private:
  const MakeTorrentProgress& m_report;
  int m_range;
  int m_step;
  int m_next = 1;
};

MakeTorrentResult Make(const MakeTorrentJob& job, const std::atomic<bool>& cancel,
                       const MakeTorrentProgress& progress) {
  if (job.files.empty()) throw std::runtime_error("There is no file in the list.");
  if (job.trackers.empty()) throw std::runtime_error("There is no tracker in the list.");
  if (job.output_file.empty()) throw std::runtime_error("No name is given for the torrent file.");
  const TorrentFileLayout layout = LayOutFiles(job.files);
  if (!layout.has_common_folder) throw std::runtime_error("The files have no folder in common.");

  engine::torrent_metainfo info;
  std::int64_t total = 0;
  for (std::size_t i = 0; i < job.files.size(); ++i) {
    info.add_file(layout.paths[i], job.files[i].size);
    total += job.files[i].size;
  }
  if (total == 0) throw std::runtime_error("The files hold no data.");
  const std::int64_t piece_length = PieceLengthFor(job.piece_exponent, total);
  if ((total - 1) / piece_length >= INT_MAX)
    throw std::runtime_error("The piece size is too small for so much data.");
  info.set_piece_size(piece_length);

  const int pieces = info.num_pieces();
  ProgressSteps steps(progress, pieces);
  FileStream files(job.files);
  std::string buffer(static_cast<std::size_t>(std::min(piece_length, total)), '\0');
  for (int i = 0; i < pieces; ++i) {
    if (cancel.load()) return {MakeTorrentResult::Outcome::Cancelled, {}, {}, 0};
    const std::int64_t size = info.piece_size(i);
    files.Read(buffer.data(), size);
    info.set_hash(i, engine::hasher(buffer.data(), static_cast<int>(size)).final());
    steps.At(i);
  }

  engine::entry::list_type nodes;
  for (auto row = job.nodes.rbegin(); row != job.nodes.rend(); ++row) {
    if (auto node = ParseNodeRow(*row))
      nodes.push_back(engine::entry::list_type{engine::entry(node->first), engine::entry(node->second)});
  }
  for (auto row = job.trackers.rbegin(); row != job.trackers.rend(); ++row)
    info.add_tracker(WideToUtf8(row->url), TierNumber(row->tier));
  info.set_creator(job.creator);
  info.set_comment(WideToUtf8(job.comment));

  engine::entry torrent = info.build_torrent_dictionary();
  if (!nodes.empty()) torrent["nodes"] = std::move(nodes);
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), torrent);
  const std::filesystem::path output = TextPath(job.output_file);
  if (!platform::write_file_atomically(output, bytes))
    throw std::runtime_error("The file \"" + output.string() + "\" could not be written.");
  return {MakeTorrentResult::Outcome::Written, {}, UpperHex(info.info_hash()), pieces};
}

}  // namespace

unsigned AutoPieceExponent(std::int64_t total) {
  const auto bits = static_cast<std::uint32_t>(std::bit_width(static_cast<std::uint64_t>(std::max<std::int64_t>(total, 0))));
  // trunc(log2(total)) is bits - 1; a total under 512 bytes wraps around.
  const std::uint32_t k = bits - 1u - 9u;
  if (k > 18) return 18;
  if (k < 4) return 4;
  return k;
}

std::int64_t PieceLengthFor(unsigned exponent, std::int64_t total) {
  if (exponent == 0) exponent = AutoPieceExponent(total);
  return std::int64_t{1} << std::min(exponent, kMaxPieceExponent);
}

std::optional<std::pair<std::string, int>> ParseNodeRow(std::wstring_view row) {
  const auto colon = row.find(L':');
  if (colon == std::wstring_view::npos || colon == 0) return std::nullopt;
  const std::wstring_view port_text = row.substr(colon + 1);
  if (port_text.empty() || port_text.size() > 5) return std::nullopt;
  int port = 0;
  for (wchar_t c : port_text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    port = port * 10 + (c - L'0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return std::make_pair(WideToUtf8(row.substr(0, colon)), port);
}

int TierNumber(std::wstring_view text) {
  long long n = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    n = std::min<long long>(n * 10 + (c - L'0'), INT_MAX);
  }
  return static_cast<int>(n);
}

MakeTorrentResult MakeTorrent(const MakeTorrentJob& job, const std::atomic<bool>& cancel,
                              const MakeTorrentProgress& progress) {
  MakeTorrentResult result;
  try {
    return Make(job, cancel, progress);
  } catch (const std::exception& e) {
    result.message = std::wstring(kMakeTorrentError) + Utf8ToWide(e.what());
  } catch (...) {
    result.message = std::wstring(kMakeTorrentFailure);
  }
  return result;
}

}  // namespace client
