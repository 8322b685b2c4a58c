// What comes in to be added: file names, dropped lists, info-hash texts,
// the auto-save choice and the save-folder dialog's model.

#include "client/common/paths.h"
#include "client/torrents/hash_torrent_model.h"
#include "client/torrents/save_folder.h"
#include "client/files/torrent_copy_name.h"
#include "client/torrents/uri_list.h"
#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "engine/formats/text_helpers.h"
#include "platform/profile.h"
#include "tests/client/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

using client_test::temp_folder;

namespace {

TEST(TorrentCopyName, DecodesOnceAndRefusesWhatIsNoFileName) {
  EXPECT_EQ(client::TorrentCopyName("/tmp/My%20File.torrent"), "My File.torrent");
  EXPECT_EQ(client::TorrentCopyName("/tmp/UPPER.TORRENT"), "UPPER.TORRENT.torrent");
  // A backslash is part of a file name on this system, decoded or not.
  EXPECT_EQ(client::TorrentCopyName("/t/back\\slash.torrent"), "back\\slash.torrent");
  EXPECT_EQ(client::TorrentCopyName("C:\\Users\\me\\x.torrent"), "C:\\Users\\me\\x.torrent");
  EXPECT_EQ(client::TorrentCopyName("/t/a%5Cb"), "a\\b.torrent");
  EXPECT_EQ(client::TorrentCopyName("plain"), "plain.torrent");
  // Only '%' with two hex digits is an escape; "%2525" decodes once.
  EXPECT_EQ(client::TorrentCopyName("/t/100%.torrent"), "100%.torrent");
  EXPECT_EQ(client::TorrentCopyName("/t/a%4g%2"), "a%4g%2.torrent");
  EXPECT_EQ(client::TorrentCopyName("/t/a%2525b"), "a%25b.torrent");
  EXPECT_EQ(client::TorrentCopyName("/t/%C3%A9t%C3%A9"), "\xC3\xA9t\xC3\xA9.torrent");
  for (const char* refused : {"/t/..%2F..%2Fx.torrent", "/t/a%2fb", "/t/%2E%2E", "/t/%2e", "/t/a%00b",
                              "/t/", ""})
    EXPECT_EQ(client::TorrentCopyName(refused), std::nullopt) << refused;
  // ".." inside a name is no path.
  EXPECT_EQ(client::TorrentCopyName("/t/a..b"), "a..b.torrent");

  engine::set_remove_underscores(true);
  const auto name = client::TorrentCopyName("/my_dir/a_b_c.torrent");
  engine::set_remove_underscores(false);
  EXPECT_EQ(name, "a b c.torrent");
}

TEST(TorrentCopyName, UniqueNamesCountUp) {
  std::set<std::string> taken = {"/d/a.torrent", "/d/a (2).torrent", "/d/H.Torrent"};
  auto is_taken = [&](const std::string& p) { return taken.count(p) > 0; };
  EXPECT_EQ(client::UniqueTorrentName("/d/", "b.torrent", is_taken), "b.torrent");
  EXPECT_EQ(client::UniqueTorrentName("/d/", "a.torrent", is_taken), "a (3).torrent");
  EXPECT_EQ(client::UniqueTorrentName("/d/", "H.Torrent", is_taken), "H (2).Torrent");
}

TEST(TorrentCopyName, NamesTheListFileCannotHoldAreMappedOnCopy) {
  // Line breaks (escaped or real) and other control characters become
  // blanks, bytes that are no UTF-8 U+FFFD; good names stay as they are.
  EXPECT_EQ(client::TorrentCopyName("/t/a%0Ab%0D%0A.torrent"), "a b  .torrent");
  EXPECT_EQ(client::TorrentCopyName("/t/x\ny\t.torrent"), "x y .torrent");
  EXPECT_EQ(client::TorrentCopyName("/t/\xFFz\xC3.torrent"), "\xEF\xBF\xBDz\xEF\xBF\xBD.torrent");
  EXPECT_EQ(client::TorrentCopyName("/t/[g] \xF0\x9F\x98\x80 a=b.torrent"), "[g] \xF0\x9F\x98\x80 a=b.torrent");
  // The mapped path is a section the list file writes and reads back.
  for (const char* source : {"/t/a%0Ab%0D.torrent", "/t/\xFF\x01.torrent"}) {
    const std::string path = "/data/" + *client::TorrentCopyName(source);
    const std::u16string section = client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(path)));
    client::Utf16IniFile ini;
    ini.StartListFile();
    ASSERT_TRUE(ini.Set(section, u"Destination", u"/down/")) << source;
    temp_folder dir("qf_copyname_");
    ASSERT_TRUE(ini.Save(dir / "TorrentQueue.txt"));
    client::Utf16IniFile back;
    ASSERT_TRUE(back.Load(dir / "TorrentQueue.txt"));
    EXPECT_EQ(back.GetString(section, u"Destination"), u"/down/") << source;
    // The file of that name is found under the same path at the next start.
    EXPECT_EQ(client::WideToUtf8(client::Utf8ToWide(path)), path);
  }
}

TEST(TorrentCopyName, LongNamesLeaveRoomForEverySideFile) {
  const std::string long_stem(250, 'n');
  const std::optional<std::string> name = client::TorrentCopyName("/t/" + long_stem + ".torrent");
  ASSERT_TRUE(name);
  EXPECT_EQ(*name, std::string(client::kMaxCopyNameBytes - client::kCopyNameNumberRoom - 8, 'n') + ".torrent");
  // The longest name a save writes beside it, with a numbered name, fits.
  const std::string numbered = client::UniqueTorrentName("/d/", *name, [](const std::string& p) {
    return p.find(" (") == std::string::npos && p.size() < 300;
  });
  EXPECT_LE((numbered + ".ResumeData.tmp.4194304.4294967295").size(), 255u);
  // Real files of those names can be written.
  temp_folder dir("qf_longname_");
  for (const char* suffix : {"", ".ResumeData", ".FilterData", ".log.txt", ".ResumeData.tmp.4194304.4294967295"})
    EXPECT_TRUE(std::ofstream(dir / (numbered + suffix)) << "x") << suffix;
  // A cut never splits a character; a name without the ending keeps none.
  EXPECT_EQ(client::ShortenTorrentName("\xC3\xA9\xC3\xA9.torrent", 11), "\xC3\xA9.torrent");
  EXPECT_EQ(client::ShortenTorrentName("abcdef", 4), "abcd");
  EXPECT_EQ(client::ShortenTorrentName("short.torrent", 200), "short.torrent");
}

TEST(UriList, FilesLinksAndRefusals) {
  const client::DroppedItems items = client::ParseUriList(
      "# a comment\r\n"
      "file:///home/me/My%20Torrent.torrent\r\n"
      "file://localhost/tmp/B.TORRENT\r\n"
      "file:/tmp/c.torrent\n"
      "\r\n"
      "http://example.org/get?id=5\r\n"
      "HTTPS://example.org/x.torrent");
  EXPECT_EQ(items.files, (std::vector<std::string>{"/home/me/My Torrent.torrent", "/tmp/B.TORRENT", "/tmp/c.torrent"}));
  EXPECT_EQ(items.urls, (std::vector<std::string>{"http://example.org/get?id=5", "HTTPS://example.org/x.torrent"}));
  EXPECT_TRUE(items.refused.empty());
  EXPECT_TRUE(items.Accepted());

  for (const char* refused : {"ftp://example.org/x.torrent", "magnet:?xt=urn:btih:00", "file://otherhost/x.torrent",
                              "file:///tmp/notes.txt", "file:///tmp/a%00.torrent", "/tmp/plain.torrent",
                              "javascript:alert(1)"}) {
    const client::DroppedItems one = client::ParseUriList(std::string("file:///ok.torrent\r\n") + refused);
    EXPECT_EQ(one.refused, std::vector<std::string>{refused});
    EXPECT_FALSE(one.Accepted()) << refused;
  }
  EXPECT_FALSE(client::ParseUriList("").Accepted());
  EXPECT_FALSE(client::ParseUriList("# only a comment\r\n").Accepted());
  EXPECT_EQ(client::LocalPathOfFileUri("file:///a%2Fb"), "/a/b");
  EXPECT_EQ(client::LocalPathOfFileUri("http://x/a"), "");
}

// --- the automatic choice

std::optional<client::FolderSpace> Space(std::uint64_t available, bool writable = true) {
  return client::FolderSpace{available, writable};
}

TEST(AutoSave, KeywordsMatchFromTheEndOfTheListAndEmptyOnesNever) {
  const std::vector<client::DestinationEntry> list = {
      {L"ubuntu, Linux", "/linux/"}, {L",,", "/empty/"}, {L"", "/blank/"}, {L"iso", "/iso/"}};
  EXPECT_EQ(client::MatchDestination(L"Ubuntu-22.04.ISO", list), "/iso/");
  EXPECT_EQ(client::MatchDestination(L"ubuntu-22.04.img", list), "/linux/");
  // Keywords keep their blanks: " Linux" needs one before it.
  EXPECT_EQ(client::MatchDestination(L"my linux", list), "/linux/");
  EXPECT_EQ(client::MatchDestination(L"mylinux", list), std::nullopt);
  EXPECT_EQ(client::MatchDestination(L"film", list), std::nullopt);
  // Only the part after the last separator counts.
  EXPECT_EQ(client::MatchDestination(L"iso\\film", list), std::nullopt);
}

TEST(AutoSave, AcceptsOnlyAWritableFolderWithMoreRoomThanNeeded) {
  std::vector<std::string> asked;
  std::optional<client::FolderSpace> answer = Space(1001);
  const client::FolderSpaceQuery query = [&](const std::string& f) {
    asked.push_back(f);
    return answer;
  };
  client::AutoSaveSettings single{client::kAsdSingle, "/one", {}};
  auto choice = client::ChooseAutoSaveFolder(single, L"x", 1000, query);
  EXPECT_EQ(choice.folder, "/one/");
  EXPECT_TRUE(choice.accepted);
  EXPECT_EQ(asked, std::vector<std::string>{"/one/"});

  answer = Space(1000);
  choice = client::ChooseAutoSaveFolder(single, L"x", 1000, query);
  EXPECT_FALSE(choice.accepted);
  EXPECT_EQ(choice.log_line, L"ASP: not enough free space on '/one/'");

  answer = Space(5000, false);
  choice = client::ChooseAutoSaveFolder(single, L"x", 1000, query);
  EXPECT_FALSE(choice.accepted);
  EXPECT_EQ(choice.log_line, std::nullopt);

  answer.reset();
  EXPECT_FALSE(client::ChooseAutoSaveFolder(single, L"x", 1000, query).accepted);

  answer = Space(5000);
  client::AutoSaveSettings match{client::kAsdMatch, "/one", {{L"x", "/ex"}}};
  EXPECT_EQ(client::ChooseAutoSaveFolder(match, L"box", 1, query).folder, "/ex/");
  EXPECT_EQ(client::ChooseAutoSaveFolder(match, L"none", 1, query).folder, std::nullopt);
  // The Windows default "C:\" is the home folder.
  client::AutoSaveSettings drive{client::kAsdSingle, "C:\\", {}};
  EXPECT_EQ(client::ChooseAutoSaveFolder(drive, L"x", 1, query).folder, client::HomeFolder());
  for (std::uint32_t mode : {2u, 3u, 7u}) {
    client::AutoSaveSettings ask{mode, "/one", {{L"x", "/ex"}}};
    EXPECT_EQ(client::ChooseAutoSaveFolder(ask, L"box", 1, query).folder, std::nullopt);
  }
}

TEST(AutoSave, RealFolders) {
  temp_folder dir("qf_space_");
  const auto space = client::QueryFolderSpace(dir.path().string());
  ASSERT_TRUE(space);
  EXPECT_TRUE(space->writable);
  EXPECT_GT(space->available, 0u);
  EXPECT_EQ(client::QueryFolderSpace((dir.path() / "missing").string()), std::nullopt);
  EXPECT_EQ(client::QueryFolderSpace(dir.put("file", "x").string()), std::nullopt);
  EXPECT_EQ(client::QueryFolderSpace(""), std::nullopt);
  // A read-only mount has room but takes no files.
  if (const auto proc = client::QueryFolderSpace("/proc/self")) {
    EXPECT_FALSE(proc->writable);
  }
}

// --- the save-folder dialog's model

TEST(SaveFolderModel, StatusOkRuleFolderAndPriority) {
  EXPECT_EQ(client::FolderSpaceStatus(Space(3 * 1048576 + 5), 2 * 1048576).text,
            L"Space required :          2 MByte\nSpace available:          3 MByte");
  // Equal is enough here.
  EXPECT_TRUE(client::FolderSpaceStatus(Space(1048576), 1048576).ok);
  const client::SpaceStatus short_of = client::FolderSpaceStatus(Space(1048576), 5 * 1048576);
  EXPECT_FALSE(short_of.ok);
  EXPECT_EQ(short_of.text, L"Space required:          5 MByte\nSpace available:          1 MByte  missing: 4 MBbyte");
  EXPECT_EQ(client::FolderSpaceStatus(std::nullopt, 1).text, L"Destination is not writeable");
  EXPECT_FALSE(client::FolderSpaceStatus(Space(1 << 30, false), 1).ok);

  std::map<std::string, client::FolderSpace> folders = {{"/big", {1 << 30, true}}, {"/small", {10, true}}};
  client::SaveFolderModel model({L"name", "/big/", 100, 2}, [&](const std::string& f) -> std::optional<client::FolderSpace> {
    if (auto it = folders.find(f); it != folders.end()) return it->second;
    return std::nullopt;
  });
  EXPECT_EQ(model.Title(), L"name");
  EXPECT_EQ(model.Folder(), "/big");
  EXPECT_TRUE(model.OkEnabled());
  EXPECT_EQ(model.PriorityButtonId(), client::kIdHighPriority);
  model.SetFolder("/small");
  EXPECT_FALSE(model.OkEnabled());
  model.SetFolder("/nowhere");
  EXPECT_EQ(model.StatusText(), L"Destination is not writeable");

  client::ScriptedUiServices ui;
  ui.folder_answers = {std::nullopt, "/big/"};
  EXPECT_FALSE(model.ChooseFolder(ui));
  EXPECT_EQ(model.Folder(), "/nowhere");
  EXPECT_TRUE(model.ChooseFolder(ui));
  EXPECT_EQ(model.Folder(), "/big");
  EXPECT_TRUE(model.OkEnabled());
  ASSERT_EQ(ui.asked.size(), 2u);
  EXPECT_EQ(ui.asked[0].text, "Select destination folder");

  model.SetPriorityByButton(client::kIdLowPriority);
  const client::SaveFolderChoice choice = model.Choice();
  EXPECT_EQ(choice.folder, "/big/");
  EXPECT_EQ(choice.priority, 0);
  // The root keeps its one separator.
  model.SetFolder("/");
  EXPECT_EQ(model.Folder(), "/");
  EXPECT_EQ(model.Choice().folder, "/");
}

// --- the info-hash dialog's model

TEST(HashTorrentModel, InfoHashText) {
  const auto hash = client::ParseInfoHash(L"  00112233445566778899aabbccddeeffAABBCCDD\t");
  ASSERT_TRUE(hash);
  EXPECT_EQ((*hash)[0], 0x00);
  EXPECT_EQ((*hash)[10], 0xAA);
  EXPECT_EQ((*hash)[19], 0xDD);
  for (const wchar_t* text : {L"", L"0011", L"00112233445566778899aabbccddeeffAABBCCD",
                              L"00112233445566778899aabbccddeeffAABBCCDDE", L"00112233445566778899aabbccddeeffAABBCCDX",
                              L"0011223344556677 8899aabbccddeeffAABBCCDD"})
    EXPECT_EQ(client::ParseInfoHash(text), std::nullopt);
}

TEST(HashTorrentModel, ProfileValuesAndFolderChoice) {
  temp_folder dir("qf_hth_");
  platform::profile profile(dir.path() / "Quillfern.ini");
  client::HashTorrentModel model;
  model.Load(profile);
  EXPECT_EQ(model.tracker_url, L"http://");
  // The Windows default "A:\" is the home folder here.
  EXPECT_EQ(model.save_path, client::Utf8ToWide(client::HomeFolder()));
  EXPECT_TRUE(model.info_hash.empty());

  client::ScriptedUiServices ui;
  ui.folder_answers = {"/srv/files"};
  EXPECT_TRUE(model.ChooseFolder(ui));
  EXPECT_EQ(model.save_path, L"/srv/files/");
  EXPECT_EQ(ui.asked.at(0).text, "Select destination folder");
  model.tracker_url = L"udp://t:80";
  model.info_hash = L"00112233445566778899aabbccddeeffAABBCCDD";
  model.Save(profile);
  EXPECT_EQ(profile.GetProfileString("Configuration", "HTH Tracker Url"), "udp://t:80");
  EXPECT_EQ(profile.GetProfileString("Configuration", "HTH Save Path"), "/srv/files/");

  client::HashTorrentModel again;
  again.Load(profile);
  EXPECT_EQ(again.tracker_url, L"udp://t:80");
  EXPECT_EQ(again.save_path, L"/srv/files/");
  EXPECT_TRUE(again.info_hash.empty());

  for (const char* drive : {"C:\\", "c:/", "D:"}) EXPECT_EQ(client::DriveRootToHome(drive), client::HomeFolder());
  for (const char* kept : {"C:\\x\\", "/data/", "CD:", ""}) EXPECT_EQ(client::DriveRootToHome(kept), kept);
}

}  // namespace
