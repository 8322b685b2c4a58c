#include "engine/formats/torrent_metainfo.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <iomanip>
#include <ostream>
#include <stdexcept>

#include "engine/formats/random.h"
#include "engine/formats/sha1.h"

namespace engine {

namespace {

using std::chrono::sys_seconds;

sha1_hash sha1_of(const char* data, std::size_t size) {
  sha1_context ctx;
  sha1_init(ctx);
  sha1_update(ctx, data, size);
  sha1_hash digest;
  sha1_final(ctx, digest.data());
  return digest;
}

sha1_hash sha1_of(const entry& e) {
  std::string bytes;
  bencode(std::back_inserter(bytes), e);
  return sha1_of(bytes.data(), bytes.size());
}

// ceil(total / piece_length), or 0 when there is nothing to divide.
std::int64_t pieces_for(std::int64_t total, std::int64_t piece_length) {
  if (total <= 0 || piece_length <= 0) return 0;
  return total / piece_length + (total % piece_length != 0 ? 1 : 0);
}

// The value under `key` of the dictionary `d`: the ".utf-8" variant when
// present, else the plain key (type_error when neither is there).
const entry& utf8_member(const entry& d, const std::string& key) {
  if (const entry* e = d.find_key(key + ".utf-8")) return *e;
  return d[key];
}

// One component of a path inside the save folder: never empty, never "." or
// "..", and free of separators and NUL, so that no file can land outside.
bool safe_component(std::string_view c) {
  return !c.empty() && c != "." && c != ".." && c.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

void check_name(const std::string& name) {
  if (!name.empty() && (name.front() == '/' || name.front() == '\\'))
    throw std::runtime_error("torrent contains a file with an absolute path: '" + name + "'");
  if (name.find_first_of("/\\") != std::string::npos)
    throw std::runtime_error("torrent contains name with directories: '" + name + "'");
  if (!safe_component(name)) throw invalid_torrent_file();
}

}  // namespace

torrent_metainfo::torrent_metainfo()
    : m_creation_date(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())) {}

torrent_metainfo::torrent_metainfo(const sha1_hash& info_hash) : torrent_metainfo() { m_info_hash = info_hash; }

torrent_metainfo::torrent_metainfo(const entry& torrent_file) {
  try {
    read_torrent_dictionary(torrent_file, std::nullopt);
  } catch (const type_error&) {
    throw invalid_torrent_file();
  }
}

torrent_metainfo::torrent_metainfo(const char* data, std::size_t size) {
  const char* p = data;
  const char* end = data + size;
  if (p == end || *p != 'd') {
    (void)bdecode(data, end);  // throws invalid_encoding for bytes that are no bencoding
    throw invalid_torrent_file();
  }
  // Decode the top level member by member to learn where the "info" value
  // lies in the input.
  entry top(entry::dictionary_t);
  std::optional<sha1_hash> info_hash;
  std::string_view info_bytes;
  ++p;
  while (true) {
    if (p == end) throw invalid_encoding();
    if (*p == 'e') break;
    std::size_t n = 0;
    entry key = bdecode(p, end, n);
    if (key.type() != entry::string_t) throw invalid_encoding();
    p += n;
    entry value = bdecode(p, end, n);
    if (key.string() == "info") {  // a repeated key: the last one counts
      info_hash = sha1_of(p, n);
      info_bytes = std::string_view(p, n);
    }
    p += n;
    top[key.string()] = std::move(value);
  }
  try {
    read_torrent_dictionary(top, info_hash);
  } catch (const type_error&) {
    throw invalid_torrent_file();
  }
  own_bulk().info_bytes = info_bytes;
}

void torrent_metainfo::read_info_dictionary(std::string_view raw) {
  std::size_t n = 0;
  entry info = bdecode(raw.data(), raw.data() + raw.size(), n);
  torrent_metainfo t = *this;
  try {
    t.read_info(info, sha1_of(raw.data(), n));
    t.own_bulk().info_bytes = raw.substr(0, n);
  } catch (const type_error&) {
    throw invalid_torrent_file();
  }
  *this = std::move(t);
}

void torrent_metainfo::read_torrent_dictionary(const entry& torrent, const std::optional<sha1_hash>& raw_info_hash) {
  // Trackers: "announce-list" tiers, else the single "announce".
  if (const entry* list = torrent.find_key("announce-list")) {
    int tier = 0;
    for (const entry& urls : list->list()) {
      for (const entry& url : urls.list()) m_trackers.push_back(announce_entry{url.string(), tier});
      ++tier;
    }
  }
  if (m_trackers.empty()) m_trackers.push_back(announce_entry{torrent["announce"].string(), 0});

  // Spread the load over the trackers of a tier; the tiers keep their order.
  for (auto first = m_trackers.begin(); first != m_trackers.end();) {
    auto last = std::find_if(first, m_trackers.end(), [&](const announce_entry& a) { return a.tier != first->tier; });
    std::shuffle(first, last, random_source());
    first = last;
  }

  // A date that is no integer, or lies beyond what the system clock can
  // represent, counts as not set.
  if (const entry* date = torrent.find_key("creation date"); date && date->type() == entry::int_t) {
    constexpr auto limit = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::duration::max()).count();
    if (date->integer() >= -limit && date->integer() <= limit) m_creation_date = sys_seconds(std::chrono::seconds(date->integer()));
  }

  if (torrent.find_key("comment.utf-8") || torrent.find_key("comment")) m_comment = utf8_member(torrent, "comment").string();
  if (torrent.find_key("created by.utf-8") || torrent.find_key("created by"))
    m_created_by = utf8_member(torrent, "created by").string();

  const entry& info = torrent["info"];
  read_info(info, raw_info_hash ? *raw_info_hash : sha1_of(info));
}

void torrent_metainfo::read_info(const entry& info, const sha1_hash& info_hash) {
  m_info_hash = info_hash;

  const std::int64_t piece_length = info["piece length"].integer();
  if (piece_length <= 0 || piece_length > INT_MAX) throw invalid_torrent_file();

  std::string name = utf8_member(info, "name").string();
  check_name(name);

  std::vector<file_entry> files;
  bool multi_file = false;
  if (const entry* list = info.find_key("files")) {
    multi_file = true;
    files.reserve(list->list().size());
    for (const entry& f : list->list()) {
      file_entry fe;
      fe.size = f["length"].integer();
      fe.path = name;
      const entry::list_type& components = utf8_member(f, "path").list();
      if (components.empty()) throw invalid_torrent_file();
      for (const entry& c : components) {
        if (!safe_component(c.string())) throw invalid_torrent_file();
        fe.path += '/';
        fe.path += c.string();
      }
      files.push_back(std::move(fe));
    }
  } else {
    files.push_back(file_entry{name, info["length"].integer()});
  }

  std::int64_t total = 0;
  for (const file_entry& f : files) {
    if (f.size < 0 || __builtin_add_overflow(total, f.size, &total)) throw invalid_torrent_file();
  }
  if (total == 0) throw invalid_torrent_file();

  const std::int64_t count = pieces_for(total, piece_length);
  const std::string& pieces = info["pieces"].string();
  if (count > INT_MAX || pieces.size() % sha1_hash::size != 0 ||
      pieces.size() / sha1_hash::size != static_cast<std::uint64_t>(count))
    throw invalid_torrent_file();

  std::vector<sha1_hash> hashes;
  hashes.reserve(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < pieces.size(); i += sha1_hash::size) hashes.emplace_back(pieces.data() + i);

  auto b = std::make_shared<bulk>();
  entry kept(entry::dictionary_t);
  for (const auto& [key, value] : info.dict()) {
    if (key == "files")
      bencode(std::back_inserter(b->files_list), value);
    else if (key != "pieces" && key != "piece length" && key != "length")
      kept[key] = value;
  }
  b->files = std::move(files);
  b->piece_hashes = std::move(hashes);

  m_piece_length = piece_length;
  m_name = std::move(name);
  m_multi_file = multi_file;
  m_total_size = total;
  m_bulk = std::move(b);
  m_info = std::move(kept);
}

torrent_metainfo::bulk& torrent_metainfo::own_bulk() {
  if (m_bulk.use_count() != 1) m_bulk = std::make_shared<bulk>(*m_bulk);
  // Every bulk is made as a modifiable one; only the sharing is const.
  return const_cast<bulk&>(*m_bulk);
}

void torrent_metainfo::resize_hashes() {
  own_bulk().piece_hashes.resize(static_cast<std::size_t>(pieces_for(m_total_size, m_piece_length)));
}

void torrent_metainfo::add_file(const std::filesystem::path& path, std::int64_t size) {
  if (std::distance(path.begin(), path.end()) > 1) {
    m_multi_file = true;
    m_name = path.begin()->string();
  } else {
    m_name = path.string();
  }
  bulk& b = own_bulk();
  b.files.push_back(file_entry{path.generic_string(), size});
  b.info_bytes.clear();
  m_total_size += size;
  resize_hashes();
}

void torrent_metainfo::add_tracker(const std::string& url, int tier) {
  m_trackers.push_back(announce_entry{url, tier});
  std::stable_sort(m_trackers.begin(), m_trackers.end(),
                   [](const announce_entry& a, const announce_entry& b) { return a.tier < b.tier; });
}

void torrent_metainfo::set_piece_size(std::int64_t length) {
  m_piece_length = length;
  own_bulk().info_bytes.clear();
  resize_hashes();
}

void torrent_metainfo::set_hash(int index, const sha1_hash& hash) {
  bulk& b = own_bulk();
  b.piece_hashes.at(static_cast<std::size_t>(index)) = hash;
  b.info_bytes.clear();
}

std::int64_t torrent_metainfo::piece_size(int index) const {
  if (index == num_pieces() - 1) return m_total_size - m_piece_length * index;
  return m_piece_length;
}

entry torrent_metainfo::build_info_dictionary() const {
  entry info = m_info;
  if (!info.find_key("name")) info["name"] = m_name;
  const bulk& b = *m_bulk;
  if (!b.files_list.empty()) info["files"] = bdecode(b.files_list);
  if (!m_multi_file) {
    if (!b.files.empty()) info["length"] = b.files.front().size;
  } else if (!info.find_key("files")) {
    entry::list_type files;
    for (const file_entry& f : b.files) {
      entry::list_type path;
      const std::string_view all = f.path;
      for (std::size_t at = all.find('/'); at != std::string_view::npos;) {
        const std::size_t next = all.find('/', at + 1);
        path.emplace_back(std::string(all.substr(at + 1, next - at - 1)));
        at = next;
      }
      entry::dictionary_type d;
      d.emplace("length", entry(f.size));
      d.emplace("path", entry(std::move(path)));
      files.emplace_back(std::move(d));
    }
    info["files"] = std::move(files);
  }
  info["piece length"] = m_piece_length;
  std::string pieces;
  pieces.reserve(b.piece_hashes.size() * sha1_hash::size);
  for (const sha1_hash& h : b.piece_hashes) pieces.append(reinterpret_cast<const char*>(h.data()), sha1_hash::size);
  info["pieces"] = std::move(pieces);
  return info;
}

std::string torrent_metainfo::info_dictionary_bytes() const {
  if (!m_bulk->info_bytes.empty()) return m_bulk->info_bytes;
  std::string bytes;
  bencode(std::back_inserter(bytes), build_info_dictionary());
  return bytes;
}

entry torrent_metainfo::build_torrent_dictionary() {
  if (m_trackers.empty() || files().empty()) return entry();
  entry torrent(entry::dictionary_t);
  torrent["announce"] = m_trackers.front().url;
  if (m_trackers.size() > 1) {
    entry::list_type tiers;
    int tier = -1;
    for (const announce_entry& a : m_trackers) {
      if (tiers.empty() || a.tier != tier) {
        tiers.emplace_back(entry::list_t);
        tier = a.tier;
      }
      tiers.back().list().emplace_back(a.url);
    }
    torrent["announce-list"] = std::move(tiers);
  }
  if (!m_comment.empty()) torrent["comment"] = m_comment;
  if (m_creation_date) torrent["creation date"] = static_cast<entry::integer_type>(m_creation_date->time_since_epoch().count());
  if (!m_created_by.empty()) torrent["created by"] = m_created_by;
  entry& info = torrent["info"];
  info = build_info_dictionary();
  const sha1_hash built = sha1_of(info);
  // The bytes read no longer match the info-hash when they were not
  // encoded canonically.
  if (built != m_info_hash && !m_bulk->info_bytes.empty()) own_bulk().info_bytes.clear();
  m_info_hash = built;
  return torrent;
}

void torrent_metainfo::print_summary(std::ostream& os) const {
  os << "trackers:\n";
  for (const announce_entry& a : m_trackers) os << a.tier << ": " << a.url << "\n";
  if (!m_comment.empty()) os << "comment: " << m_comment << "\n";
  if (m_creation_date) {
    std::time_t t = static_cast<std::time_t>(m_creation_date->time_since_epoch().count());
    std::tm tm{};
    char buf[64];
    if (gmtime_r(&t, &tm) && std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm))
      os << "creation date: " << buf << "\n";
    else
      os << "creation date: " << t << "\n";
  }
  os << "number of pieces: " << num_pieces() << "\n";
  os << "piece length: " << m_piece_length << "\n";
  os << "files:\n";
  for (const file_entry& f : files()) os << "  " << std::setw(11) << f.size << " " << f.path << "\n";
}

}  // namespace engine
