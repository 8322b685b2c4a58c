#include "client/common/color_scheme.h"

#include "client/common/paths.h"
#include "platform/atomic_file.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace client {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);
static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559);

std::uint8_t ClampChannel(double value) {
  if (!(value > 0)) return 0;  // also NaN
  if (value >= 255) return 255;
  return static_cast<std::uint8_t>(value);
}

ColorRef RampRgb::OffsetColor() const { return At(0); }

ColorRef RampRgb::At(double k) const {
  return ToColorRef(ClampChannel(red.offset + k * red.factor), ClampChannel(green.offset + k * green.factor),
                    ClampChannel(blue.offset + k * blue.factor));
}

namespace {

// Offsets and factors are channel values 0..255: a damaged file's NaN (0),
// infinity or value beyond the range is read as the nearest end of the
// range, as the editor shows it; values inside the range stay as they are.
double Sanitise(double v) {
  if (!(v > 0)) return 0;  // also NaN
  return v > 255 ? 255 : v;
}
// A colour keeps its three channel bytes; the top byte is always 0.
std::uint32_t SanitiseColor(std::uint32_t c) { return c & 0x00FFFFFFu; }

class Writer {
 public:
  explicit Writer(std::uint8_t* out) : m_out(out) {}
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) *m_out++ = std::uint8_t(v >> (8 * i));
  }
  void F64(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) *m_out++ = std::uint8_t(bits >> (8 * i));
  }
  void Ramp(const RampRgb& r) {
    for (const ChannelRamp* c : {&r.red, &r.green, &r.blue}) {
      F64(c->offset);
      F64(c->factor);
    }
  }
  void Gauge(const GaugeColors& g) {
    U32(g.background);
    U32(g.foreground);
    U32(g.text);
  }

 private:
  std::uint8_t* m_out;
};

class Reader {
 public:
  explicit Reader(const char* in) : m_in(reinterpret_cast<const std::uint8_t*>(in)) {}
  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t(*m_in++) << (8 * i);
    return v;
  }
  ColorRef Color() { return SanitiseColor(U32()); }
  double F64() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= std::uint64_t(*m_in++) << (8 * i);
    return Sanitise(std::bit_cast<double>(bits));
  }
  RampRgb Ramp() {
    RampRgb r;
    for (ChannelRamp* c : {&r.red, &r.green, &r.blue}) {
      c->offset = F64();
      c->factor = F64();
    }
    return r;
  }
  GaugeColors Gauge() {
    GaugeColors g;
    g.background = Color();
    g.foreground = Color();
    g.text = Color();
    return g;
  }

 private:
  const std::uint8_t* m_in;
};

void WriteEntry(Writer& w, const DiagramColorEntry& e) {
  w.Ramp(e.frame);
  w.U32(e.title_background);
  w.U32(e.title_text);
  w.Gauge(e.upload);
  w.Gauge(e.download);
  w.Gauge(e.time);
  w.Gauge(e.progress);
  w.U32(e.main_frame_color);
  w.U32(e.reserved);
}

DiagramColorEntry ReadEntry(Reader& r) {
  DiagramColorEntry e;
  e.frame = r.Ramp();
  e.title_background = r.Color();
  e.title_text = r.Color();
  e.upload = r.Gauge();
  e.download = r.Gauge();
  e.time = r.Gauge();
  e.progress = r.Gauge();
  e.main_frame_color = r.Color();
  e.reserved = r.U32();
  return e;
}

RampRgb Ramp(double ro, double go, double bo, double rf, double gf, double bf) {
  return {{ro, rf}, {go, gf}, {bo, bf}};
}

// The file's bytes when it is a regular file of exactly `size` bytes.
// Anything else in its place (a folder, a FIFO, a device) is not read: the
// open does not wait for a writer, and only a regular file is read from.
std::optional<std::string> ReadExactly(const std::string& path, std::size_t size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) != size)
    return std::nullopt;
  std::string bytes(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, bytes.data() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  return bytes;
}

template <class Record>
bool Load(const std::string& folder, const platform::profile& profile, std::string_view file,
          std::string_view value, Record& out) {
  if (folder.empty()) return false;
  std::optional<Record> record;
  if (auto bytes = ReadExactly(folder + std::string(file), Record::kSize)) record = Record::Parse(*bytes);
  if (!record) {
    if (auto bytes = profile.GetProfileBinary(kConfigurationSection, value)) record = Record::Parse(*bytes);
  }
  if (!record) return false;
  out = *record;
  return true;
}

template <class Record>
bool Save(const std::string& folder, platform::profile& profile, std::string_view file, std::string_view value,
          const Record& record) {
  const auto bytes = record.Serialize();
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  profile.WriteProfileBinary(kConfigurationSection, value, view);
  if (folder.empty()) return true;
  return platform::write_file_atomically(folder + std::string(file), view);
}

}  // namespace

MainColorBlock MainColorBlock::Defaults() {
  MainColorBlock b;
  b.frame = Ramp(51.0, 51.0, 105.0, 0.0, 0.0, 50.0);
  b.frame_color = 0x00693333;
  b.active_button = 0x000000FF;
  b.inactive_button = 0x0000E6E6;
  b.error_button = 0x000000C8;
  b.error_text = 0x00370000;
  b.active_title = 0x00FFFFFF;
  b.inactive_title = 0x00C8C8C8;
  b.title_shadow = 0x00282828;
  b.info_hover = 0x000000FF;
  b.info_text = 0x00000000;
  return b;
}

std::array<std::uint8_t, MainColorBlock::kSize> MainColorBlock::Serialize() const {
  std::array<std::uint8_t, kSize> out{};
  Writer w(out.data());
  w.Ramp(frame);
  for (ColorRef c : {frame_color, active_button, inactive_button, error_button, error_text, active_title,
                     inactive_title, title_shadow, info_hover, info_text})
    w.U32(c);
  return out;
}

std::optional<MainColorBlock> MainColorBlock::Parse(std::string_view bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  Reader r(bytes.data());
  MainColorBlock b;
  b.frame = r.Ramp();
  for (ColorRef* c : {&b.frame_color, &b.active_button, &b.inactive_button, &b.error_button, &b.error_text,
                      &b.active_title, &b.inactive_title, &b.title_shadow, &b.info_hover, &b.info_text})
    *c = r.Color();
  return b;
}

DiagramColorTable DiagramColorTable::Defaults(ColorRef main_frame) {
  DiagramColorTable t;
  DiagramColorEntry paused;
  paused.frame = Ramp(150, 150, 150, 25, 25, 25);
  paused.title_background = 0x646464;
  paused.title_text = 0xFFFFFF;
  paused.upload = {0x646464, 0xC8C8C8, 0xFFFFFF};
  paused.download = paused.time = paused.progress = paused.upload;
  paused.main_frame_color = main_frame;

  DiagramColorEntry downloading;
  downloading.frame = Ramp(180, 180, 0, 25, 25, 0);
  downloading.title_background = 0x91635D;
  downloading.title_text = 0x66FFFF;
  downloading.upload = {0xFFC8C8, 0xFF6464, 0x00FFFF};
  downloading.download = {0xC8C8FF, 0x3232FF, 0x000000};
  downloading.time = {0xC8C8FF, 0x3232FF, 0x000000};
  downloading.progress = {0x62C8C8, 0x0099FF, 0x1F2741};
  downloading.main_frame_color = main_frame;

  DiagramColorEntry seeding;
  seeding.frame = Ramp(0, 150, 0, 0, 25, 0);
  seeding.title_background = 0xC8C8C8;
  seeding.title_text = 0x000000;
  seeding.upload = {0xFFC8C8, 0xFF0000, 0x000000};
  seeding.download = {0xFFC8C8, 0xFF0000, 0x000000};
  seeding.time = {0xFFC8C8, 0xFF9733, 0x000000};
  seeding.progress = {0x99FFFF, 0xFF9733, 0xFFFFFF};
  seeding.main_frame_color = main_frame;

  DiagramColorEntry error;
  error.frame = Ramp(150, 0, 0, 25, 0, 0);
  error.title_background = 0x000000;
  error.title_text = 0x0000FF;
  error.upload = {0xFFC8FF, 0xFF32FF, 0x0000FF};
  error.download = error.time = error.progress = error.upload;
  error.main_frame_color = main_frame;

  t.entries = {paused, paused, downloading, seeding, error};
  return t;
}

std::array<std::uint8_t, DiagramColorTable::kSize> DiagramColorTable::Serialize() const {
  std::array<std::uint8_t, kSize> out{};
  Writer w(out.data());
  for (const auto& e : entries) WriteEntry(w, e);
  return out;
}

std::optional<DiagramColorTable> DiagramColorTable::Parse(std::string_view bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  Reader r(bytes.data());
  DiagramColorTable t;
  for (auto& e : t.entries) e = ReadEntry(r);
  return t;
}

DiagramColorTable& GlobalDiagramColors() {
  static DiagramColorTable table = DiagramColorTable::Defaults(0);
  return table;
}

std::string DefaultSchemeFolder() { return DataHome() + "Quillfern/Schemes/"; }

std::string SchemeFolder(std::string_view configured) {
  return configured.empty() ? DefaultSchemeFolder() : WithTrailingSeparator(configured);
}

bool LoadMainColors(const std::string& folder, const platform::profile& profile, MainColorBlock& out) {
  return Load(folder, profile, kMainColorsFile, kMainColorsValue, out);
}

bool LoadDiagramColors(const std::string& folder, const platform::profile& profile, DiagramColorTable& out) {
  return Load(folder, profile, kDiagramColorsFile, kDiagramColorsValue, out);
}

bool SaveMainColors(const std::string& folder, platform::profile& profile, const MainColorBlock& block) {
  return Save(folder, profile, kMainColorsFile, kMainColorsValue, block);
}

bool SaveDiagramColors(const std::string& folder, platform::profile& profile, const DiagramColorTable& table) {
  return Save(folder, profile, kDiagramColorsFile, kDiagramColorsValue, table);
}

std::array<ColorRef, 8> FramePenColors(const MainColorBlock& block) {
  constexpr int k[8] = {0, 1, 2, 3, 3, 2, 1, 0};
  std::array<ColorRef, 8> pens{};
  for (int i = 0; i < 8; ++i) pens[i] = block.frame.At(k[i]);
  return pens;
}

std::array<ColorRef, 6> RimPenColors(const DiagramColorEntry& entry) {
  const Rgb m = FromColorRef(entry.main_frame_color);
  const ChannelRamp* ramps[3] = {&entry.frame.red, &entry.frame.green, &entry.frame.blue};
  const int mains[3] = {m.r, m.g, m.b};
  std::array<std::array<std::uint8_t, 3>, 6> ch{};
  for (int c = 0; c < 3; ++c) {
    const double o = ramps[c]->offset, f = ramps[c]->factor;
    const int main_full = mains[c], main_half = mains[c] / 2;
    ch[0][c] = ClampChannel((main_full + o) * 0.5);
    ch[1][c] = ClampChannel((main_half + o + f) * 0.5);
    ch[2][c] = ClampChannel(o + 2 * f);
    ch[3][c] = ClampChannel(o + 3 * f);
    ch[4][c] = ClampChannel(o + 2 * f);
    ch[5][c] = ClampChannel(o + f);
  }
  std::array<ColorRef, 6> pens{};
  for (int i = 0; i < 6; ++i) pens[i] = ToColorRef(ch[i][0], ch[i][1], ch[i][2]);
  return pens;
}

}  // namespace client
