#include "scheme_editor/scheme_editor.h"

#include "client/common/paths.h"
#include "scheme_editor/dialog_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tintwright;
using client::DiagramColorTable;
using client::MainColorBlock;

namespace {

struct TempFolder {
  fs::path dir;
  explicit TempFolder(const std::string& tag = "") {
    dir = fs::temp_directory_path() / ("qf_tintwright_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + tag);
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~TempFolder() { fs::remove_all(dir); }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

// An editor over its own profile file and table, loaded from `folder`.
struct Editor {
  DiagramColorTable table = DiagramColorTable::Defaults(0);
  SchemeEditor editor;
  Editor(const TempFolder& temp, const std::string& folder)
      : editor(platform::profile(temp.dir / "Tintwright.ini"), table) {
    editor.SetFolder(folder);
    editor.LoadSchemes();
  }
};

// Distinct bytes for every edit.
EditTexts Distinct(int seed) {
  EditTexts texts;
  for (std::size_t i = 0; i < kFieldCount; ++i) texts[i] = std::to_string((i * 37 + seed) % 256);
  return texts;
}

std::size_t IndexOf(int id) { return *FieldIndexOfId(id); }

}  // namespace

TEST(SchemeFields, SeventyFiveEditsWithTheirOwnIdsOutsideTheStockRange) {
  std::set<int> ids;
  for (const auto& f : kSchemeFields) {
    ids.insert(f.id);
    EXPECT_TRUE(f.id < 4999 || f.id > 5999) << f.id;
  }
  EXPECT_EQ(ids.size(), 75u);
  EXPECT_EQ(*ids.begin(), 1002);
  EXPECT_EQ(*ids.rbegin(), 1085);
  EXPECT_FALSE(FieldIndexOfId(1057));  // the folder edit
  EXPECT_FALSE(FieldIndexOfId(1003));  // a status radio
}

TEST(SchemeEditor, StoreAndShowRoundTripEveryFieldIntoTheRightMembers) {
  TempFolder temp;
  Editor e(temp, "");
  const EditTexts texts = Distinct(11);
  const DiagramColorTable before = e.table;
  ASSERT_FALSE(e.editor.StoreSchemeEntry(client::kSeedingColors, texts));
  EXPECT_EQ(e.editor.ShowSchemeEntry(client::kSeedingColors), texts);

  const auto& entry = e.table[client::kSeedingColors];
  const auto& main = e.editor.Main();
  auto byte = [&](int id) { return std::stoi(texts[IndexOf(id)]); };
  EXPECT_EQ(client::FromColorRef(entry.progress.foreground).r, byte(1027));
  EXPECT_EQ(client::FromColorRef(entry.upload.background).g, byte(1004));
  EXPECT_EQ(client::FromColorRef(entry.title_text).b, byte(1050));
  EXPECT_EQ(entry.frame.blue.factor, byte(1064));
  EXPECT_EQ(main.frame.red.offset, byte(1051));
  EXPECT_EQ(main.frame.green.factor, byte(1055));
  EXPECT_EQ(client::FromColorRef(main.error_button).r, byte(1074));
  EXPECT_EQ(client::FromColorRef(main.error_text).g, byte(1078));
  EXPECT_EQ(client::FromColorRef(main.inactive_button).b, byte(1085));
  // Colours are packed red | green << 8 | blue << 16.
  EXPECT_EQ(entry.time.text, client::ToColorRef(byte(1039), byte(1040), byte(1041)));
  // The main offsets become the block's frame colour and every entry's copy.
  const auto frame = client::ToColorRef(byte(1051), byte(1052), byte(1053));
  EXPECT_EQ(main.frame_color, frame);
  for (const auto& other : e.table.entries) EXPECT_EQ(other.main_frame_color, frame);
  // The other entries keep their colours.
  EXPECT_EQ(e.table[client::kQueuedColors].progress.foreground, before[client::kQueuedColors].progress.foreground);
  EXPECT_EQ(e.table[client::kErrorColors].frame.red.offset, before[client::kErrorColors].frame.red.offset);
}

TEST(SchemeEditor, OffsetsAreShownTruncatedAndClamped) {
  TempFolder temp;
  Editor e(temp, "");
  e.table[client::kPausedColors].frame.red.offset = 150.9;
  e.table[client::kPausedColors].frame.green.offset = -4;
  e.table[client::kPausedColors].frame.blue.factor = 300;
  const EditTexts texts = e.editor.ShowSchemeEntry(client::kPausedColors);
  EXPECT_EQ(texts[IndexOf(1059)], "150");
  EXPECT_EQ(texts[IndexOf(1060)], "0");
  EXPECT_EQ(texts[IndexOf(1064)], "255");
}

TEST(SchemeEditor, ByteValidation) {
  EXPECT_EQ(ParseByte("0"), 0);
  EXPECT_EQ(ParseByte("255"), 255);
  EXPECT_EQ(ParseByte(" 42 "), 42);
  EXPECT_EQ(ParseByte("007"), 7);
  for (const char* bad : {"256", "", " ", "-1", "1.5", "12a", "0x1", "1000", "+3"}) EXPECT_FALSE(ParseByte(bad)) << bad;

  TempFolder temp;
  Editor e(temp, "");
  EditTexts texts = e.editor.ShowSchemeEntry(client::kQueuedColors);
  const DiagramColorTable before = e.table;
  texts[IndexOf(1027)] = "256";
  texts[IndexOf(1085)] = "x";
  EXPECT_EQ(FirstInvalidId(texts), 1027);
  EXPECT_EQ(e.editor.StoreSchemeEntry(client::kQueuedColors, texts), 1027);
  EXPECT_EQ(e.table.Serialize(), before.Serialize()) << "nothing is stored from a bad set";
}

TEST(SchemeEditor, SwitchingQueuedToSeedingKeepsTheEdits) {
  TempFolder temp;
  Editor e(temp, "");
  ASSERT_EQ(e.editor.Status(), client::kQueuedColors);
  EditTexts texts = e.editor.ShowSchemeEntry(client::kQueuedColors);
  texts[IndexOf(1027)] = "17";
  texts[IndexOf(1062)] = "9";
  const EditTexts queued = texts;
  EXPECT_TRUE(e.editor.SelectStatus(client::kSeedingColors, texts).done);
  EXPECT_EQ(e.editor.Status(), client::kSeedingColors);
  EXPECT_EQ(texts, e.editor.ShowSchemeEntry(client::kSeedingColors));
  EXPECT_EQ(client::FromColorRef(e.table[client::kSeedingColors].progress.foreground).r, 0x33);
  EXPECT_TRUE(e.editor.SelectStatus(client::kQueuedColors, texts).done);
  EXPECT_EQ(texts, queued);

  // A bad value refuses the switch and keeps the status.
  texts[IndexOf(1002)] = "256";
  const Outcome refused = e.editor.SelectStatus(client::kErrorColors, texts);
  EXPECT_FALSE(refused.done);
  EXPECT_EQ(refused.focus_id, 1002);
  EXPECT_EQ(refused.message, kByteRangeMessage);
  EXPECT_EQ(e.editor.Status(), client::kQueuedColors);
  EXPECT_EQ(texts[IndexOf(1002)], "256");
}

TEST(SchemeEditor, TypingStoresValidValuesOnlyAndSaysWhatToRepaint) {
  TempFolder temp;
  Editor e(temp, "");
  using R = SchemeEditor::Repaint;
  EXPECT_EQ(e.editor.EditChanged(1027, "12"), R::Chart);
  EXPECT_EQ(client::FromColorRef(e.table[client::kQueuedColors].progress.foreground).r, 12);
  // Half-typed or out-of-range values change nothing, and nothing is asked.
  for (const char* partial : {"", "25a", "256"}) EXPECT_EQ(e.editor.EditChanged(1027, partial), R::Nothing);
  EXPECT_EQ(client::FromColorRef(e.table[client::kQueuedColors].progress.foreground).r, 12);
  EXPECT_EQ(e.editor.EditChanged(kFolderEditId, "7"), R::Nothing);

  EXPECT_EQ(e.editor.EditChanged(1052, "80"), R::FrameAndChart);
  EXPECT_EQ(client::FromColorRef(e.editor.Main().frame_color).g, 80);
  for (const auto& entry : e.table.entries) EXPECT_EQ(entry.main_frame_color, e.editor.Main().frame_color);
  EXPECT_EQ(e.editor.EditChanged(1080, "1"), R::FrameAndChart);
  EXPECT_EQ(client::FromColorRef(e.editor.Main().active_button).r, 1);
}

TEST(SchemeEditor, SaveCreatesTheFolderAndWritesBothFiles) {
  TempFolder temp;
  Editor e(temp, "");
  EditTexts texts = e.editor.ShowSchemeEntry(client::kQueuedColors);
  texts[IndexOf(1027)] = "99";
  const std::string folder = temp.Path("new/Schemes");  // no trailing separator, parent missing
  const Outcome saved = e.editor.Save(texts, folder);
  ASSERT_TRUE(saved.done) << std::string(saved.message.begin(), saved.message.end());
  EXPECT_EQ(e.editor.Folder(), folder + "/");
  EXPECT_EQ(fs::file_size(folder + "/Diagram Colors.tnts"), 560u);
  EXPECT_EQ(fs::file_size(folder + "/Main Colors.tnts"), 88u);
  // The profile keeps copies too, and a fresh editor reads the saved scheme.
  EXPECT_TRUE(e.editor.Profile().GetProfileBinary("Configuration", "Diagram Colors"));
  EXPECT_TRUE(e.editor.Profile().GetProfileBinary("Configuration", "Main Colors"));
  TempFolder other("_other");
  Editor reread(other, folder + "/");
  EXPECT_EQ(reread.editor.ShowSchemeEntry(client::kQueuedColors)[IndexOf(1027)], "99");

  // A folder ending in '/' gets nothing added.
  const std::string slashed = temp.Path("slashed") + "/";
  ASSERT_TRUE(e.editor.Save(texts, slashed).done);
  EXPECT_EQ(e.editor.Folder(), slashed);
  EXPECT_TRUE(fs::exists(slashed + "Main Colors.tnts"));
}

TEST(SchemeEditor, SaveRefusesBadValuesAndReportsAFolderItCannotCreate) {
  TempFolder temp;
  Editor e(temp, "");
  EditTexts texts = e.editor.ShowSchemeEntry(client::kQueuedColors);
  texts[IndexOf(1041)] = "256";
  const Outcome refused = e.editor.Save(texts, temp.Path("a"));
  EXPECT_FALSE(refused.done);
  EXPECT_EQ(refused.focus_id, 1041);
  EXPECT_FALSE(fs::exists(temp.Path("a")));

  texts[IndexOf(1041)] = "0";
  std::ofstream(temp.Path("file")) << "x";
  const std::string blocked = temp.Path("file") + "/sub/";
  const Outcome failed = e.editor.Save(texts, blocked);
  EXPECT_FALSE(failed.done);
  EXPECT_EQ(failed.focus_id, 0);
  EXPECT_EQ(failed.message, L"Failed to Create " + std::wstring(blocked.begin(), blocked.end()));
  EXPECT_FALSE(e.editor.Profile().GetProfileBinary("Configuration", "Main Colors"));

  // A scheme file that cannot be written is reported, not passed over.
  fs::create_directories(temp.Path("taken/Main Colors.tnts"));
  const Outcome unwritten = e.editor.Save(texts, temp.Path("taken"));
  EXPECT_FALSE(unwritten.done);
  const std::string expected = temp.Path("taken") + "/Main Colors.tnts";
  EXPECT_EQ(unwritten.message, L"Failed to Create " + std::wstring(expected.begin(), expected.end()));
}

TEST(SchemeEditor, QuitKeepsTheFolderWithItsSeparatorAndSavesNoScheme) {
  TempFolder temp;
  Editor e(temp, "");
  EditTexts texts = e.editor.ShowSchemeEntry(client::kQueuedColors);
  const std::string folder = temp.Path("kept");
  texts[IndexOf(1030)] = "300";
  EXPECT_EQ(e.editor.Quit(texts, folder).focus_id, 1030);
  EXPECT_EQ(e.editor.Profile().GetProfileString("Configuration", "ColorSchemePath"), "");

  texts[IndexOf(1030)] = "3";
  EXPECT_TRUE(e.editor.Quit(texts, folder).done);
  EXPECT_EQ(e.editor.Profile().GetProfileString("Configuration", "ColorSchemePath"), folder + "/");
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(e.editor.Profile().GetProfileBinary("Configuration", "Main Colors"));

  // An empty folder is not written.
  EXPECT_TRUE(e.editor.Quit(texts, "").done);
  EXPECT_EQ(e.editor.Profile().GetProfileString("Configuration", "ColorSchemePath"), folder + "/");
}

TEST(SchemeEditor, ReloadAfterAFailedLoadShowsTheDefaultsNotTheOldScheme) {
  TempFolder temp;
  Editor e(temp, "");
  EditTexts texts = e.editor.ShowSchemeEntry(client::kQueuedColors);
  for (auto& t : texts) t = "7";
  ASSERT_TRUE(e.editor.Save(texts, temp.Path("good")).done);

  // Another editor with a fresh profile: the good folder loads, then a
  // folder with files of the wrong size falls back to the defaults whole.
  TempFolder fresh("_fresh");
  Editor other(fresh, temp.Path("good") + "/");
  EXPECT_EQ(other.editor.ShowSchemeEntry(client::kQueuedColors)[IndexOf(1027)], "7");
  fs::create_directories(temp.Path("bad"));
  std::ofstream(temp.Path("bad/Main Colors.tnts"), std::ios::binary) << std::string(87, '\x07');
  std::ofstream(temp.Path("bad/Diagram Colors.tnts"), std::ios::binary) << std::string(561, '\x07');
  other.editor.SetFolder(temp.Path("bad") + "/");
  other.editor.LoadSchemes();
  EXPECT_EQ(other.editor.Main().Serialize(), MainColorBlock::Defaults().Serialize());
  EXPECT_EQ(other.table.Serialize(),
            DiagramColorTable::Defaults(MainColorBlock::Defaults().frame.OffsetColor()).Serialize());
  EXPECT_EQ(other.editor.Status(), client::kQueuedColors);
}

TEST(SchemeEditor, StartsInTheMainProgramsSchemeFolder) {
  TempFolder temp;
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", temp.dir.c_str(), 1);
  EXPECT_EQ(DefaultSchemeFolder(), temp.dir.string() + "/Quillfern/Schemes/");
  DiagramColorTable table;
  SchemeEditor editor(platform::profile(temp.dir / "Tintwright.ini"), table);
  EXPECT_EQ(editor.Folder(), temp.dir.string() + "/Quillfern/Schemes/");
  setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(DefaultSchemeFolder(), client::HomeFolder() + ".local/share/Quillfern/Schemes/");
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1); else unsetenv("XDG_DATA_HOME");

  // A stored folder wins.
  platform::profile profile(temp.dir / "Tintwright.ini");
  profile.WriteProfileString("Configuration", "ColorSchemePath", "/somewhere/");
  EXPECT_EQ(SchemeEditor(profile, table).Folder(), "/somewhere/");
}

// Neither program has a "ColorSchemePath" yet (or an empty one): what the
// editor saves lands where the main program reads its colours.
TEST(SchemeEditor, WithoutAFolderBothProgramsMeetInTheDefaultSchemeFolder) {
  TempFolder temp;
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", temp.dir.c_str(), 1);
  const std::string folder = temp.dir.string() + "/Quillfern/Schemes/";
  EXPECT_EQ(client::SchemeFolder(""), folder);
  EXPECT_EQ(client::SchemeFolder("/elsewhere"), "/elsewhere/");

  platform::profile editor_profile(temp.dir / "Tintwright.ini");
  editor_profile.WriteProfileString("Configuration", "ColorSchemePath", "");
  DiagramColorTable table = DiagramColorTable::Defaults(0);
  SchemeEditor editor(editor_profile, table);
  EXPECT_EQ(editor.Folder(), folder);
  editor.LoadSchemes();
  EditTexts texts = editor.ShowSchemeEntry(client::kQueuedColors);
  texts[IndexOf(1027)] = "9";   // Queued progress foreground red
  texts[IndexOf(1051)] = "77";  // main frame red offset
  ASSERT_TRUE(editor.Save(texts, editor.Folder()).done);

  // The main program, its profile without the value, reads both records
  // from there (not from a copy in its profile: it has none).
  platform::profile main_profile(temp.dir / "Quillfern.ini");
  const std::string main_folder =
      client::SchemeFolder(main_profile.GetProfileString("Configuration", "ColorSchemePath"));
  EXPECT_EQ(main_folder, folder);
  MainColorBlock block = MainColorBlock::Defaults();
  DiagramColorTable read = DiagramColorTable::Defaults(0);
  ASSERT_TRUE(client::LoadMainColors(main_folder, main_profile, block));
  ASSERT_TRUE(client::LoadDiagramColors(main_folder, main_profile, read));
  EXPECT_EQ(block.frame.red.offset, 77);
  EXPECT_EQ(client::FromColorRef(read[client::kQueuedColors].progress.foreground).r, 9);
  EXPECT_EQ(read.Serialize(), table.Serialize());
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1); else unsetenv("XDG_DATA_HOME");
}

TEST(DialogLayout, EveryEditAndRadioHasItsPlaceInsideTheDialogWithoutOverlaps) {
  const DialogLayout layout = BuildDialogLayout(124, 95);
  EXPECT_EQ(layout.width, 444);
  EXPECT_EQ(layout.height, 265);
  for (const auto& f : kSchemeFields) {
    const LayoutControl* c = layout.Find(f.id);
    ASSERT_TRUE(c) << f.id;
    EXPECT_EQ(c->kind, ControlKind::Edit);
  }
  for (const auto& r : kStatusRadios) ASSERT_TRUE(layout.Find(r.id)) << r.id;
  for (int id : {kSaveId, kFolderEditId, kBrowseId, kQuitId}) ASSERT_TRUE(layout.Find(id)) << id;

  std::vector<DluRect> leaves;
  for (const auto& c : layout.controls) {
    EXPECT_GE(c.rect.x, 0);
    EXPECT_GE(c.rect.y, 0);
    EXPECT_LE(c.rect.Right(), layout.width);
    EXPECT_LE(c.rect.Bottom(), layout.height);
    if (c.kind != ControlKind::Group) leaves.push_back(c.rect);
  }
  leaves.push_back({0, 0, 124, 95});  // the preview
  auto overlap = [](const DluRect& a, const DluRect& b) {
    return a.x < b.Right() && b.x < a.Right() && a.y < b.Bottom() && b.y < a.Bottom();
  };
  for (std::size_t i = 0; i < leaves.size(); ++i)
    for (std::size_t j = i + 1; j < leaves.size(); ++j)
      EXPECT_FALSE(overlap(leaves[i], leaves[j])) << i << " " << j;

  // A wider preview widens the first column and the dialog.
  EXPECT_EQ(BuildDialogLayout(170, 95).width, 444 + 170 + 4 - 7 - 136);
}
