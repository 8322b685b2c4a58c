#include "client/dialogs/options_model.h"
#include "client/app/settings.h"
#include "platform/profile.h"
#include "tests/client/temp_folder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <map>
#include <sys/stat.h>

using client::DestinationRow;
using client::InputProblem;
using client::OptionsModel;
namespace id = client::options_id;

namespace {

std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// A model over a profile and destination list of its own, and the
// controls of a dialog showing it.
struct Options {
  client_test::temp_folder dir{"qf_options_"};
  platform::profile profile{dir / "Quillfern.ini"};
  client::OptionsEnvironment env = [this] {
    client::OptionsEnvironment e;
    e.upnp_supported = true;
    e.database_available = true;
    e.local_addresses = {"192.168.1.20", "10.0.0.5"};
    e.destinations_file = dir / "Destinations.txt";
    return e;
  }();
  std::map<int, std::wstring> texts;
  std::map<int, bool> checks;
  int selection = -1;

  OptionsModel Load() {
    OptionsModel model(env);
    model.LoadSettings(profile);
    texts.clear();
    checks.clear();
    for (int control : OptionsModel::EditIds()) texts[control] = model.EditText(control);
    for (int control : OptionsModel::CheckIds()) checks[control] = model.IsChecked(control);
    selection = model.AddressSelection();
    return model;
  }
  // Checks one radio button of a group, unchecking the others.
  void Radio(std::initializer_list<int> group, int on) {
    for (int control : group) checks[control] = control == on;
  }
  std::optional<InputProblem> Take(OptionsModel& model) {
    OptionsModel::Controls controls;
    controls.text = [this](int control) { return texts.at(control); };
    controls.checked = [this](int control) { return checks.at(control); };
    controls.address_selection = selection;
    return model.Take(controls);
  }
  int Int(const char* key) const { return profile.GetProfileInt("Configuration", key, -12345); }
  std::string Text(const char* key) const { return profile.GetProfileString("Configuration", key, "(missing)"); }
};

TEST(OptionsModel, AFreshProfileShowsWhatTheProgramRunsWith) {
  Options o;
  OptionsModel model = o.Load();
  const std::map<int, std::wstring> expected = {
      {id::kUploadLimit, L"10"},      {id::kDownloadLimit, L"0"},    {id::kMinPort, L"1500"},
      {id::kMaxPort, L"1504"},        {id::kDhtPort, L"1500"},       {id::kDatabasePort, L"3306"},
      {id::kActiveTorrents, L"4"},    {id::kUploadsPerTorrent, L"4"}, {id::kPeerLimit, L"100"},
      {id::kSeedingTime, L"7200"},    {id::kDatabaseUrl, L"localhost"}, {id::kPeerRatio, L"0"},
      {id::kSeedingRatio, L"2"},      {id::kColorScheme, L""},       {id::kAsdFolder, L""},
  };
  EXPECT_EQ(o.texts, expected);
  for (auto [control, on] : o.checks)
    EXPECT_EQ(on, control == id::kSeedByTime || control == id::kAsdAsk) << control;
  EXPECT_EQ(o.selection, 0);
  EXPECT_EQ(model.column_widths[0], 130);
  EXPECT_EQ(model.column_widths[1], 130);
  EXPECT_TRUE(model.destinations.empty());
  // Confirmed unchanged, the program runs on as before.
  ASSERT_FALSE(o.Take(model));
  model.SaveSettings(o.profile);
  EXPECT_EQ(o.Int("MaxUploadRate"), 10240);
  EXPECT_EQ(o.Int("MaxDownloadRate"), -1);
  EXPECT_EQ(o.Int("MinPort"), 1500);
  EXPECT_EQ(o.Int("MaxPort"), 1504);
  EXPECT_EQ(o.Int("DHTPort"), 1500);
  EXPECT_EQ(o.Int("SeedingTime"), 7200000);
  EXPECT_EQ(o.Int("MaxConnections"), 100);
  EXPECT_EQ(o.Text("ASDSingle"), "");  // not "/": nothing would be saved into the root folder
  EXPECT_EQ(o.Int("ASDMode"), 2);
}

TEST(OptionsModel, StoredValuesShowInTheDialogsUnits) {
  Options o;
  auto set = [&](const char* key, int value) { o.profile.WriteProfileInt("Configuration", key, value); };
  set("MaxUploadRate", -1);
  set("MaxDownloadRate", 1000);  // below 1 KB/s still shows a limit
  set("SeedingTime", 3600000);
  set("SeedingMode", 1);
  set("ASDMode", 7);
  set("ASDL Column Width 00", 10);
  set("ASDL Column Width 01", 210);
  set("UPnPPortForwarding", 1);
  set("IpAddressIndex", 1);
  set("Use Database", 1);
  set("Remove_FromFileNames", 1);
  o.profile.WriteProfileString("Configuration", "Database URL", "db.example");
  o.profile.WriteProfileString("Configuration", "ColorSchemePath", "/home/u/schemes/");
  o.profile.WriteProfileString("Configuration", "ASDSingle", "/srv/dl/");
  o.profile.WriteProfileString("Configuration", "PeerRatio", "1.5");
  OptionsModel model = o.Load();
  EXPECT_EQ(o.texts[id::kUploadLimit], L"0");
  EXPECT_EQ(o.texts[id::kDownloadLimit], L"1");
  EXPECT_EQ(o.texts[id::kSeedingTime], L"3600");
  EXPECT_EQ(o.texts[id::kDatabaseUrl], L"db.example");
  EXPECT_EQ(o.texts[id::kColorScheme], L"/home/u/schemes/");
  EXPECT_EQ(o.texts[id::kAsdFolder], L"/srv/dl/");
  EXPECT_EQ(o.texts[id::kPeerRatio], L"1.5");
  EXPECT_TRUE(o.checks[id::kSeedByRatio] && !o.checks[id::kSeedByTime]);
  EXPECT_TRUE(o.checks[id::kAsdAsk]);  // 7 reads as 2
  EXPECT_TRUE(o.checks[id::kPortForwarding] && o.checks[id::kUseDatabase] && o.checks[id::kRemoveUnderscores]);
  EXPECT_EQ(o.selection, 1);
  EXPECT_EQ(model.column_widths[0], 30);
  EXPECT_EQ(model.column_widths[1], 210);

  set("ASDMode", -1);
  set("SeedingTime", static_cast<int>(4294967000u));  // longer than an int of ms holds
  set("MaxUploadRate", 2147482624);
  o.Load();
  EXPECT_TRUE(o.checks[id::kAsdAsk]);
  EXPECT_EQ(o.texts[id::kSeedingTime], L"4294967");
  EXPECT_EQ(o.texts[id::kUploadLimit], L"2097151");
}

TEST(OptionsModel, ConfirmingWritesEveryValueInOrderWithItsConversion) {
  Options o;
  OptionsModel model = o.Load();
  o.texts = {
      {id::kUploadLimit, L" 1 "},     {id::kDownloadLimit, L"2097151"}, {id::kMinPort, L"6881"},
      {id::kMaxPort, L"6889"},        {id::kDhtPort, L"0"},             {id::kDatabasePort, L"3307"},
      {id::kActiveTorrents, L"1000"}, {id::kUploadsPerTorrent, L"-1"},  {id::kPeerLimit, L"10"},
      {id::kSeedingTime, L"4294967"}, {id::kDatabaseUrl, L"db"},        {id::kPeerRatio, L"0.5"},
      {id::kSeedingRatio, L"3"},      {id::kColorScheme, L"/schemes"},  {id::kAsdFolder, L"  /srv/dl"},
  };
  o.Radio({id::kSeedByTime, id::kSeedByRatio}, id::kSeedByRatio);
  o.Radio({id::kAsdAlways, id::kAsdMatch, id::kAsdAsk}, id::kAsdAlways);
  o.checks[id::kPortForwarding] = o.checks[id::kUseDatabase] = o.checks[id::kRemoveUnderscores] = true;
  o.selection = 1;
  ASSERT_FALSE(o.Take(model));
  EXPECT_TRUE(model.SaveSettings(o.profile));
  EXPECT_EQ(client_test::temp_folder::read(o.profile.file()),
            "[Configuration]\n"
            "MaxUploadRate=1024\n"
            "MaxDownloadRate=2147482624\n"
            "MinPort=6881\n"
            "MaxPort=6889\n"
            "DHTPort=0\n"
            "SeedingTime=-296\n"  // 4294967000 ms as the unsigned setting holds it
            "SeedingRatio=3\n"
            "SeedingMode=1\n"
            "PeerRatio=0.5\n"
            "MaxActiveTorrent=1000\n"
            "MaxUploadsPerTorrent=-1\n"
            "MaxConnections=10\n"
            "Remove_FromFileNames=1\n"
            "UPnPPortForwarding=1\n"
            "IpAddressIndex=1\n"
            "ASDSingle=/srv/dl/\n"
            "ASDMode=0\n"
            "ASDL Column Width 00=130\n"
            "ASDL Column Width 01=130\n"
            "ColorSchemePath=/schemes/\n"
            "Database URL=db\n"
            "Database Port=3307\n"
            "Use Database=1\n");
  EXPECT_EQ(static_cast<unsigned>(o.Int("SeedingTime")), 4294967000u);
  EXPECT_EQ(client_test::temp_folder::read(o.env.destinations_file), "");

  // Zero and anything below it are unlimited; folders already ending in a
  // separator are kept as they are; an emptied colour scheme folder leaves
  // the setting alone.
  o.Load();
  o.texts[id::kUploadLimit] = L"-1";
  o.texts[id::kDownloadLimit] = L"0";
  o.texts[id::kAsdFolder] = L"D:\\films\\";
  o.texts[id::kColorScheme] = L"";
  ASSERT_FALSE(o.Take(model));
  model.SaveSettings(o.profile);
  EXPECT_EQ(o.Int("MaxUploadRate"), -1);
  EXPECT_EQ(o.Int("MaxDownloadRate"), -1);
  EXPECT_EQ(o.Text("ASDSingle"), "D:\\films\\");
  EXPECT_EQ(o.Text("ColorSchemePath"), "/schemes/");
}

TEST(OptionsModel, ConversionsNeverOverflowOrTurnALimitIntoAnother) {
  EXPECT_EQ(client::KbToRate(0), -1);
  EXPECT_EQ(client::KbToRate(-1), -1);
  EXPECT_EQ(client::KbToRate(-7), -1);
  EXPECT_EQ(client::KbToRate(1), 1024);
  EXPECT_EQ(client::KbToRate(2097151), 2147482624);
  EXPECT_EQ(client::KbToRate(7200000), 2147482624);  // capped, never wrapped
  EXPECT_EQ(client::RateToKb(-1), 0);
  EXPECT_EQ(client::RateToKb(-2048), 0);
  EXPECT_EQ(client::RateToKb(1), 1);
  EXPECT_EQ(client::RateToKb(10240), 10);
  EXPECT_EQ(client::RateToKb(2047), 1);
  EXPECT_EQ(client::SecondsToSeedingMs(3600), 3600000);
  EXPECT_EQ(client::SeedingMsToSeconds(3600000), 3600);
  EXPECT_EQ(client::SecondsToSeedingMs(-5), 0);
  EXPECT_EQ(client::SeedingMsToSeconds(client::SecondsToSeedingMs(client::kMaxSeedingSeconds)),
            client::kMaxSeedingSeconds);
}

TEST(OptionsModel, ValuesOutOfRangeKeepTheDialogOpenAndWriteNothing) {
  Options o;
  OptionsModel model = o.Load();
  const client::OptionsValues before = model.values;
  struct Case {
    int control;
    std::wstring text;
    InputProblem problem;
  };
  const Case cases[] = {
      {id::kUploadLimit, L"7200000", {id::kUploadLimit, L"Please enter an integer between -1 and 2097151."}},
      {id::kUploadLimit, L"-2", {id::kUploadLimit, L"Please enter an integer between -1 and 2097151."}},
      {id::kDownloadLimit, L"2097152", {id::kDownloadLimit, L"Please enter an integer between -1 and 2097151."}},
      {id::kUploadLimit, L"12k", {id::kUploadLimit, L"Please enter an integer."}},
      {id::kUploadsPerTorrent, L"", {id::kUploadsPerTorrent, L"Please enter an integer."}},
      {id::kPeerLimit, L"99999999999", {id::kPeerLimit, L"Please enter an integer."}},
      {id::kMinPort, L"0", {id::kMinPort, L"Please enter an integer between 1 and 65535."}},
      {id::kMaxPort, L"65536", {id::kMaxPort, L"Please enter an integer between 1500 and 65535."}},
      {id::kMaxPort, L"1499", {id::kMaxPort, L"Please enter an integer between 1500 and 65535."}},
      {id::kDhtPort, L"-1", {id::kDhtPort, L"Please enter an integer between 0 and 65535."}},
      {id::kDatabasePort, L"0", {id::kDatabasePort, L"Please enter an integer between 1 and 65535."}},
      {id::kActiveTorrents, L"1001", {id::kActiveTorrents, L"Please enter an integer between 1 and 1000."}},
      {id::kPeerLimit, L"9", {id::kPeerLimit, L"Please enter an integer between 10 and 65535."}},
      {id::kSeedingTime, L"4294968", {id::kSeedingTime, L"Please enter an integer between 0 and 4294967."}},
  };
  for (const Case& c : cases) {
    const std::wstring kept = o.texts[c.control];
    o.texts[c.control] = c.text;
    EXPECT_EQ(o.Take(model), c.problem) << c.control;
    EXPECT_EQ(model.values, before);
    o.texts[c.control] = kept;
  }
  // The range may be a single port; the lowest port is checked first.
  o.texts[id::kMinPort] = o.texts[id::kMaxPort] = L"7000";
  EXPECT_FALSE(o.Take(model));
  o.texts[id::kMinPort] = L"70000";
  EXPECT_EQ(o.Take(model)->id, id::kMinPort);
  EXPECT_FALSE(std::filesystem::exists(o.profile.file()));
}

// Ratios typed with the locale's decimal comma are kept with a '.', the
// form the program reads them in, so "1,5" is used as 1.5 and not as 1; a
// typed ratio that is no number keeps the dialog open.
TEST(OptionsModel, RatiosTypedWithTheLocalesDecimalSeparator) {
  EXPECT_EQ(client::RatioTextForSaving(L"1.5", ","), L"1.5");
  EXPECT_EQ(client::RatioTextForSaving(L" 2 ", ","), L" 2 ");  // good input stays as typed
  EXPECT_EQ(client::RatioTextForSaving(L"1,5", ","), L"1.5");
  EXPECT_EQ(client::RatioTextForSaving(L"0\x066b" L"25", "\xd9\xab"), L"0.25");  // a separator of two bytes
  // A comma whatever the locale.
  EXPECT_EQ(client::RatioTextForSaving(L"0,25", "\xd9\xab"), L"0.25");
  EXPECT_EQ(client::RatioTextForSaving(L"1,5", "."), L"1.5");
  for (const wchar_t* bad : {L"", L"abc", L"1.5x", L"inf", L"nan", L"1,5,5", L"1.5,5"})
    EXPECT_EQ(client::RatioTextForSaving(bad, "."), std::nullopt) << bad;
  EXPECT_EQ(client::RatioTextForSaving(L"1,5,5", ","), std::nullopt);

  // The dialog under a German locale, as the program runs in it.
  ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8"))
      << "no de_DE.UTF-8 locale: scripts/install.sh makes it";
  struct Restore {
    ~Restore() { std::setlocale(LC_ALL, "C"); }
  } restore;
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  Options o;
  o.profile.WriteProfileString("Configuration", "PeerRatio", "junk");
  OptionsModel model = o.Load();
  o.texts[id::kSeedingRatio] = L"1,5";
  ASSERT_FALSE(o.Take(model));  // the untouched "junk" stays as it was
  EXPECT_TRUE(model.SaveSettings(o.profile));
  EXPECT_EQ(o.Text("SeedingRatio"), "1.5");
  EXPECT_EQ(o.Text("PeerRatio"), "junk");
  EXPECT_EQ(client::LoadSettings(o.profile, true).seeding_ratio, 1.5);

  o.texts[id::kSeedingRatio] = L"0.75";
  o.texts[id::kPeerRatio] = L"2,5";
  ASSERT_FALSE(o.Take(model));
  EXPECT_TRUE(model.SaveSettings(o.profile));
  EXPECT_EQ(o.Text("SeedingRatio"), "0.75");
  EXPECT_EQ(o.Text("PeerRatio"), "2.5");
  const client::Settings used = client::LoadSettings(o.profile, true);
  EXPECT_EQ(used.seeding_ratio, 0.75);
  EXPECT_EQ(used.peer_ratio, 2.5);

  for (const wchar_t* bad : {L"1,5,5", L"", L"zwei"}) {
    o.texts[id::kPeerRatio] = bad;
    EXPECT_EQ(o.Take(model), (InputProblem{id::kPeerRatio, L"Please enter a number."})) << bad;
    EXPECT_EQ(model.values.peer_ratio, L"2.5");
  }
}

TEST(OptionsModel, TheAddressChoiceSurvivesAnEmptyList) {
  Options o;
  o.profile.WriteProfileInt("Configuration", "IpAddressIndex", 3);
  OptionsModel model = o.Load();
  EXPECT_EQ(o.selection, 0);  // gone since it was chosen: the first, as the program uses it
  o.env.local_addresses.clear();
  OptionsModel empty = o.Load();
  EXPECT_EQ(o.selection, -1);
  ASSERT_FALSE(o.Take(empty));
  empty.SaveSettings(o.profile);
  EXPECT_EQ(o.Int("IpAddressIndex"), 3);  // not -1
  o.selection = 1;
  ASSERT_FALSE(o.Take(model));
  model.SaveSettings(o.profile);
  EXPECT_EQ(o.Int("IpAddressIndex"), 1);
}

TEST(OptionsModel, EnablingFollowsTheChecksAndWhatTheSystemOffers) {
  Options o;
  o.profile.WriteProfileInt("Configuration", "Use Database", 1);
  o.profile.WriteProfileInt("Configuration", "UPnPPortForwarding", 1);
  OptionsModel model = o.Load();
  auto enabled = [&](const OptionsModel& m, int control) {
    return m.IsEnabled(control, [&](int c) { return o.checks.at(c); });
  };
  EXPECT_TRUE(enabled(model, id::kLocalAddress));
  EXPECT_TRUE(enabled(model, id::kDatabaseUrl) && enabled(model, id::kDatabasePort));
  o.checks[id::kPortForwarding] = o.checks[id::kUseDatabase] = false;
  EXPECT_FALSE(enabled(model, id::kLocalAddress));
  EXPECT_FALSE(enabled(model, id::kDatabaseUrl) || enabled(model, id::kDatabasePort));

  EXPECT_TRUE(enabled(model, id::kSeedingTime) && !enabled(model, id::kSeedingRatio));
  o.Radio({id::kSeedByTime, id::kSeedByRatio}, id::kSeedByRatio);
  EXPECT_TRUE(!enabled(model, id::kSeedingTime) && enabled(model, id::kSeedingRatio));

  const std::vector<int> asd = {id::kAsdFolder, id::kAsdBrowse, id::kDestinationList};
  auto asdEnabled = [&] {
    std::vector<bool> on;
    for (int c : asd) on.push_back(enabled(model, c));
    return on;
  };
  EXPECT_EQ(asdEnabled(), (std::vector<bool>{false, false, false}));
  o.Radio({id::kAsdAlways, id::kAsdMatch, id::kAsdAsk}, id::kAsdAlways);
  EXPECT_EQ(asdEnabled(), (std::vector<bool>{true, true, false}));
  o.Radio({id::kAsdAlways, id::kAsdMatch, id::kAsdAsk}, id::kAsdMatch);
  EXPECT_EQ(asdEnabled(), (std::vector<bool>{false, false, true}));

  // Without port forwarding on this system, or without the database
  // library, those controls stay locked whatever is checked; "Use Database"
  // shows off and is saved off.
  o.env.upnp_supported = o.env.database_available = false;
  OptionsModel bare = o.Load();
  EXPECT_TRUE(o.checks[id::kPortForwarding]);
  EXPECT_FALSE(o.checks[id::kUseDatabase]);
  o.checks[id::kUseDatabase] = true;
  for (int c : {id::kPortForwarding, id::kLocalAddress, id::kUseDatabase, id::kDatabaseUrl, id::kDatabasePort})
    EXPECT_FALSE(enabled(bare, c)) << c;
  ASSERT_FALSE(o.Take(bare));
  bare.SaveSettings(o.profile);
  EXPECT_EQ(o.Int("Use Database"), 0);
  EXPECT_EQ(o.Int("UPnPPortForwarding"), 1);
}

TEST(OptionsModel, DestinationListRoundTripsTheFileByteForByte) {
  Options o;
  const std::string file = Utf16Le(u"Film,Movie=/srv/m\u00FCsic/films/\r\nlinux, iso=/srv/iso/\r\n");
  o.dir.put("Destinations.txt", file);
  OptionsModel model = o.Load();
  // The file's last line first.
  EXPECT_EQ(model.destinations, (std::vector<DestinationRow>{{L"linux, iso", L"/srv/iso/"},
                                                             {L"Film,Movie", L"/srv/m\u00FCsic/films/"}}));
  EXPECT_TRUE(model.SaveDestinations());
  EXPECT_EQ(client_test::temp_folder::read(o.env.destinations_file), file);

  // Reading: lines without keywords or '=' are skipped, folders lose their
  // leading blanks and take a separator from two characters on.
  o.dir.put("Destinations.txt", Utf16Le(u"=/nowhere/\r\nno equals sign\r\na=  C:\r\nb=x\r\nc=/a=b\r\nd=\r\n"));
  model.LoadDestinations();
  EXPECT_EQ(model.destinations, (std::vector<DestinationRow>{{L"d", L""}, {L"c", L"/a=b/"}, {L"b", L"x"},
                                                             {L"a", L"C:/"}}));
  // Writing: every folder but an empty one ends in a separator.
  EXPECT_TRUE(model.SaveDestinations());
  EXPECT_EQ(client_test::temp_folder::read(o.env.destinations_file),
            Utf16Le(u"a=C:/\r\nb=x/\r\nc=/a=b/\r\nd=\r\n"));

  // A missing file leaves the list empty; a file that cannot be replaced
  // is told.
  std::filesystem::remove(o.env.destinations_file);
  model.LoadDestinations();
  EXPECT_TRUE(model.destinations.empty());
  client::OptionsEnvironment blocked = o.env;
  blocked.destinations_file = o.dir / "folder";
  std::filesystem::create_directories(blocked.destinations_file);
  OptionsModel unwritable(blocked);
  client::ScriptedUiServices ui;
  EXPECT_FALSE(unwritable.SaveCommand(ui, o.profile));
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Could not write " + blocked.destinations_file.string() + "."});
  EXPECT_EQ(o.Int("MinPort"), 1500);  // the settings are written all the same
}

TEST(OptionsModel, ListClicksAndFolderChoosers) {
  using client::ListDoubleClick;
  EXPECT_EQ(OptionsModel::DoubleClickAction(0, 500, 130), ListDoubleClick::EditRow);
  EXPECT_EQ(OptionsModel::DoubleClickAction(-1, 129, 130), ListDoubleClick::AppendRow);
  EXPECT_EQ(OptionsModel::DoubleClickAction(-1, 130, 130), ListDoubleClick::Nothing);

  Options o;
  OptionsModel model = o.Load();
  const char* home = std::getenv("HOME");
  const std::string saved_home = home ? home : "";
  ::setenv("HOME", o.dir.path().c_str(), 1);
  EXPECT_EQ(model.AppendDestination(), 0);
  if (home) ::setenv("HOME", saved_home.c_str(), 1);
  else ::unsetenv("HOME");
  EXPECT_EQ(model.destinations[0], (DestinationRow{L"", o.dir.path().wstring() + L"/"}));

  client::ScriptedUiServices ui;
  ui.folder_answers = {std::string("/srv/new"), std::nullopt};
  EXPECT_FALSE(model.ChooseDestinationFolder(ui, 0, 0));  // the keywords' column
  EXPECT_FALSE(model.ChooseDestinationFolder(ui, 1, 1));  // no such row
  EXPECT_TRUE(ui.asked.empty());
  EXPECT_TRUE(model.ChooseDestinationFolder(ui, 0, 1));
  EXPECT_EQ(model.destinations[0].folder, L"/srv/new/");
  EXPECT_FALSE(model.ChooseDestinationFolder(ui, 0, 1));  // cancelled
  EXPECT_EQ(model.destinations[0].folder, L"/srv/new/");

  ui.folder_answers = {std::string("/srv/dl"), std::string("/home/u/schemes/"), std::nullopt};
  EXPECT_EQ(OptionsModel::ChooseFolderFor(id::kAsdBrowse, ui, L"/srv"), L"/srv/dl/");
  EXPECT_EQ(OptionsModel::ChooseFolderFor(id::kColorSchemeBrowse, ui, L""), L"/home/u/schemes/");
  EXPECT_EQ(OptionsModel::ChooseFolderFor(id::kAsdBrowse, ui, L"/srv"), std::nullopt);
  std::vector<std::string> titles;
  for (const auto& asked : ui.asked) titles.push_back(asked.text);
  EXPECT_EQ(titles, (std::vector<std::string>{"Select auto save path", "Select auto save path",
                                              "Select destination folder", "Select color scheme folder",
                                              "Select destination folder"}));
}

TEST(OptionsModel, ExportSavesTheSettingsThenWritesTheChosenFile) {
  Options o;
  o.profile.WriteProfileString("Other", "Kept", "apart");
  OptionsModel model = o.Load();
  model.destinations = {{L"iso", L"/srv/iso"}};

  // The settings are saved before the file is asked for, even when none is
  // chosen.
  client::ScriptedUiServices ui;
  ui.save_answers = {std::nullopt};
  EXPECT_FALSE(model.ExportCommand(ui, o.profile));
  EXPECT_EQ(o.Int("MinPort"), 1500);
  EXPECT_EQ(o.profile.GetProfileString("Other", "Kept"), "apart");
  EXPECT_EQ(client_test::temp_folder::read(o.env.destinations_file), Utf16Le(u"iso=/srv/iso/\r\n"));
  std::filesystem::remove(o.env.destinations_file);

  // The values held, not what the controls show unconfirmed.
  o.texts[id::kMinPort] = L"2000";
  const auto exported = o.dir / "saved.ini";
  ui.save_answers = {exported.string()};
  EXPECT_TRUE(model.ExportCommand(ui, o.profile));
  EXPECT_EQ(o.Int("MinPort"), 1500);
  EXPECT_EQ(client_test::temp_folder::read(o.env.destinations_file), Utf16Le(u"iso=/srv/iso/\r\n"));
  const std::string text = client_test::temp_folder::read(exported);
  EXPECT_EQ(text, o.profile.SectionText("Configuration"));
  platform::profile copy(exported);
  EXPECT_EQ(copy.GetProfileInt("Configuration", "MaxUploadRate", 0), 10240);
  EXPECT_EQ(copy.GetProfileString("Configuration", "Database URL"), "localhost");
  EXPECT_EQ(copy.GetProfileString("Other", "Kept"), "");
  struct stat st{};
  ASSERT_EQ(::stat(exported.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(ui.Messages().empty());

  ui.save_answers = {o.dir.path().string()};
  EXPECT_FALSE(model.ExportCommand(ui, o.profile));
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Could not write " + o.dir.path().string() + "."});
}

TEST(OptionsModel, ToolTips) {
  EXPECT_EQ(client::OptionsToolTip(id::kUploadLimit),
            L"Global upload limit, local torrent setting cannot override this");
  EXPECT_EQ(client::OptionsToolTip(id::kDhtPort), L"Tcp port for incomming dht requests");
  EXPECT_EQ(client::OptionsToolTip(id::kLocalAddress), L"Local ip address for port forwarding");
  EXPECT_EQ(client::OptionsToolTip(id::kColorScheme), L"Path to color scheme folder");
  EXPECT_EQ(client::OptionsToolTip(id::kAsdFolder), L"");
  EXPECT_EQ(client::OptionsToolTip(id::kUseDatabase), L"");
}

}  // namespace
