#include "client/common/color_scheme.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace client;

namespace {

struct TempFolder {
  fs::path dir;
  TempFolder() {
    dir = fs::temp_directory_path() / ("qf_scheme_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~TempFolder() { fs::remove_all(dir); }
  std::string folder() const { return dir.string() + "/"; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
};

std::string Bytes(const auto& array) { return std::string(array.begin(), array.end()); }

}  // namespace

TEST(ColorScheme, RecordsRoundTripByteForByte) {
  std::string main_bytes(MainColorBlock::kSize, '\0');
  // Colours hold three bytes; the top one is 0.
  for (std::size_t i = 48; i < main_bytes.size(); ++i) main_bytes[i] = i % 4 == 3 ? 0 : char(i * 7);
  // Doubles at the start: 12.5, 3, ...
  MainColorBlock block = *MainColorBlock::Parse(main_bytes);
  block.frame.red = {12.5, 3};
  block.frame.blue = {255, 7};
  const auto again = MainColorBlock::Parse(Bytes(block.Serialize()));
  ASSERT_TRUE(again);
  EXPECT_EQ(Bytes(again->Serialize()), Bytes(block.Serialize()));
  EXPECT_EQ(Bytes(block.Serialize()).substr(48), main_bytes.substr(48));

  auto table = DiagramColorTable::Defaults(0x123456);
  table[4].reserved = 0xDEADBEEF;
  const auto bytes = Bytes(table.Serialize());
  ASSERT_EQ(bytes.size(), 560u);
  // Reserved word of the last entry, little-endian, at its end.
  EXPECT_EQ(bytes.substr(556), std::string("\xEF\xBE\xAD\xDE", 4));
  // Entry 2's upload background at offset 112 * 2 + 56.
  EXPECT_EQ(bytes.substr(2 * 112 + 56, 4), std::string("\xC8\xC8\xFF\x00", 4));
  EXPECT_EQ(Bytes(DiagramColorTable::Parse(bytes)->Serialize()), bytes);
}

TEST(ColorScheme, DefaultMainBlockBytes) {
  const auto bytes = Bytes(MainColorBlock::Defaults().Serialize());
  double red_offset;
  std::memcpy(&red_offset, bytes.data(), 8);
  EXPECT_EQ(red_offset, 51.0);
  EXPECT_EQ(bytes.substr(48, 4), std::string("\x33\x33\x69\x00", 4));
  EXPECT_EQ(bytes.substr(84, 4), std::string(4, '\0'));
}

TEST(ColorScheme, OnlyWholeFilesLoadThenTheProfileThenNothing) {
  TempFolder tmp;
  platform::profile profile(tmp.dir / "profile.ini");
  MainColorBlock custom = MainColorBlock::Defaults();
  custom.active_button = 0x00ABCDEF;
  const std::string good = Bytes(custom.Serialize());

  for (std::size_t size : {87u, 89u}) {
    tmp.Write("Main Colors.tnts", std::string(size, 'x'));
    MainColorBlock out = MainColorBlock::Defaults();
    EXPECT_FALSE(LoadMainColors(tmp.folder(), profile, out)) << size;
    EXPECT_EQ(Bytes(out.Serialize()), Bytes(MainColorBlock::Defaults().Serialize())) << size;
  }
  // A profile value of the wrong length is ignored as well.
  profile.WriteProfileBinary("Configuration", "Main Colors", good.substr(0, 80));
  MainColorBlock out = MainColorBlock::Defaults();
  EXPECT_FALSE(LoadMainColors(tmp.folder(), profile, out));
  // A whole profile value is taken when the file is not whole.
  profile.WriteProfileBinary("Configuration", "Main Colors", good);
  ASSERT_TRUE(LoadMainColors(tmp.folder(), profile, out));
  EXPECT_EQ(out.active_button, 0x00ABCDEFu);
  // A whole file wins over the profile.
  custom.active_button = 0x00010203;
  tmp.Write("Main Colors.tnts", Bytes(custom.Serialize()));
  ASSERT_TRUE(LoadMainColors(tmp.folder(), profile, out));
  EXPECT_EQ(out.active_button, 0x00010203u);
  // No folder: no profile read either.
  out = MainColorBlock::Defaults();
  EXPECT_FALSE(LoadMainColors("", profile, out));

  // A folder or a FIFO in the file's place is not read (nor waited on): the
  // profile value is taken.
  fs::remove(tmp.dir / "Main Colors.tnts");
  fs::create_directory(tmp.dir / "Main Colors.tnts");
  out = MainColorBlock::Defaults();
  ASSERT_TRUE(LoadMainColors(tmp.folder(), profile, out));
  EXPECT_EQ(out.active_button, 0x00ABCDEFu);
  ASSERT_EQ(::mkfifo((tmp.dir / "Diagram Colors.tnts").c_str(), 0600), 0);
  DiagramColorTable table = DiagramColorTable::Defaults(0);
  EXPECT_FALSE(LoadDiagramColors(tmp.folder(), profile, table));
}

TEST(ColorScheme, SaveWritesProfileAndFilesOfTheRightSize) {
  TempFolder tmp;
  platform::profile profile(tmp.dir / "profile.ini");
  const std::string folder = tmp.folder() + "schemes/";
  ASSERT_TRUE(SaveDiagramColors(folder, profile, DiagramColorTable::Defaults(7)));
  ASSERT_TRUE(SaveMainColors(folder, profile, MainColorBlock::Defaults()));
  EXPECT_EQ(fs::file_size(folder + "Diagram Colors.tnts"), 560u);
  EXPECT_EQ(fs::file_size(folder + "Main Colors.tnts"), 88u);
  EXPECT_EQ(profile.GetProfileBinary("Configuration", "Diagram Colors")->size(), 560u);
  DiagramColorTable loaded = DiagramColorTable::Defaults(0);
  ASSERT_TRUE(LoadDiagramColors(folder, profile, loaded));
  EXPECT_EQ(loaded[3].main_frame_color, 7u);
}

TEST(ColorScheme, NonFiniteAndOutOfRangeValuesLoadAsTheEditorShowsThem) {
  MainColorBlock block = MainColorBlock::Defaults();
  auto bytes = Bytes(block.Serialize());
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const double doubles[6] = {nan, inf, 1e300, -inf, -5.0, 51.7};
  std::memcpy(bytes.data(), doubles, sizeof doubles);
  // Every colour with its top byte set: the active title white plus 0xFF.
  for (std::size_t at = 48; at < MainColorBlock::kSize; at += 4) bytes[at + 3] = char(0xFF);
  const auto parsed = MainColorBlock::Parse(bytes);
  ASSERT_TRUE(parsed);
  // Channel values 0..255, as the editor's fields show them.
  EXPECT_EQ(parsed->frame.red.offset, 0.0);
  EXPECT_EQ(parsed->frame.red.factor, 255.0);
  EXPECT_EQ(parsed->frame.green.offset, 255.0);
  EXPECT_EQ(parsed->frame.green.factor, 0.0);
  EXPECT_EQ(parsed->frame.blue.offset, 0.0);
  EXPECT_EQ(parsed->frame.blue.factor, 51.7);  // inside the range: kept
  EXPECT_EQ(parsed->active_title, 0x00FFFFFFu);
  EXPECT_EQ(parsed->info_text, 0x00000000u);
  EXPECT_EQ(parsed->inactive_button, 0x0000E6E6u);
  // The pens are those of the clamped values.
  const auto pens = FramePenColors(*parsed);
  EXPECT_EQ(pens[0], ToColorRef(0, 255, 0));
  EXPECT_EQ(pens[3], ToColorRef(255, 255, 155));
  // Saved back, the record holds those same values: a second load is equal.
  EXPECT_EQ(Bytes(MainColorBlock::Parse(Bytes(parsed->Serialize()))->Serialize()), Bytes(parsed->Serialize()));

  // The chart table likewise; the reserved word stays as it was held.
  auto table_bytes = Bytes(DiagramColorTable::Defaults(0x123456).Serialize());
  std::memcpy(table_bytes.data() + 2 * DiagramColorEntry::kSize, &nan, 8);
  const std::uint32_t marked = 0xAB00FF00u;
  std::memcpy(table_bytes.data() + 2 * DiagramColorEntry::kSize + 52, &marked, 4);
  std::memcpy(table_bytes.data() + 2 * DiagramColorEntry::kSize + 108, &marked, 4);
  const auto table = DiagramColorTable::Parse(table_bytes);
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)[2].frame.red.offset, 0.0);
  EXPECT_EQ((*table)[2].title_text, 0x0000FF00u);
  EXPECT_EQ((*table)[2].reserved, marked);

  EXPECT_EQ(ClampChannel(nan), 0);
  EXPECT_EQ(ClampChannel(-inf), 0);
  EXPECT_EQ(ClampChannel(inf), 255);
  EXPECT_EQ(ClampChannel(254.9), 254);
}

TEST(ColorScheme, FramePensStepAndClamp) {
  MainColorBlock block = MainColorBlock::Defaults();
  block.frame.red = {250, 10};
  block.frame.green = {-5, -1};
  block.frame.blue = {10, 20};
  const auto pens = FramePenColors(block);
  const int expected_red[8] = {250, 255, 255, 255, 255, 255, 255, 250};
  const int expected_blue[8] = {10, 30, 50, 70, 70, 50, 30, 10};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(FromColorRef(pens[i]).r, expected_red[i]) << i;
    EXPECT_EQ(FromColorRef(pens[i]).g, 0) << i;
    EXPECT_EQ(FromColorRef(pens[i]).b, expected_blue[i]) << i;
  }
}

TEST(ColorScheme, RimPensBlendTheMainFrameColour) {
  DiagramColorEntry e;
  e.frame.red = {100, 10};
  e.frame.green = {0, 0};
  e.frame.blue = {250, 10};
  e.main_frame_color = ToColorRef(200, 0, 255);
  const auto pens = RimPenColors(e);
  // 0.5(m + o), 0.5(m/2 + o + f), o + 2f, o + 3f, o + 2f, o + f
  const int red[6] = {150, 105, 120, 130, 120, 110};
  const int blue[6] = {252, 193, 255, 255, 255, 255};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(FromColorRef(pens[i]).r, red[i]) << i;
    EXPECT_EQ(FromColorRef(pens[i]).b, blue[i]) << i;
  }
}
