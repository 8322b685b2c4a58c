#include "client/files/CUTF16File.h"
#include "client/files/utf16_ini_file.h"
#include "platform/random.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

using client::CUTF16File;
using client::Utf16IniFile;

namespace {

// UTF-16LE bytes of an ASCII text.
std::string Le(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

class Utf16Files : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qf_utf16_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path Put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return dir / name;
  }
  std::string Bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::vector<std::u16string> Lines(const std::filesystem::path& p, unsigned flags = CUTF16File::modeRead) {
    CUTF16File f(p, flags);
    EXPECT_TRUE(f.IsOpen());
    std::vector<std::u16string> lines;
    std::u16string line;
    while (f.ReadString(line)) lines.push_back(line);
    return lines;
  }
  std::filesystem::path dir;
};

using Texts = std::vector<std::u16string>;

TEST_F(Utf16Files, ReadingFollowsTheByteOrderMark) {
  // Little-endian: the CR of CR LF stays, an odd last byte is dropped.
  const auto le = Put("le.txt", "\xFF\xFE" + Le("ab\r\n\r\nc") + "\xAC\x20" + "z");
  EXPECT_EQ(Lines(le), (Texts{u"ab\r", u"\r", u"c\u20AC"}));
  CUTF16File f(le, CUTF16File::modeRead);
  EXPECT_TRUE(f.IsUnicode());
  EXPECT_FALSE(f.IsSwapped());

  // FE FF: every unit byte-swapped.
  const auto be = Put("be.txt", std::string("\xFE\xFF\0x\0\n\x20\xAC", 8));
  EXPECT_EQ(Lines(be), (Texts{u"x", u"\u20AC"}));
  EXPECT_TRUE(CUTF16File(be, CUTF16File::modeRead).IsSwapped());

  // One byte, or no mark: plain UTF-8 text (text mode folds CR LF); bytes
  // that are no UTF-8 stand for themselves.
  EXPECT_EQ(Lines(Put("one.txt", "\xFF")), (Texts{u"\u00FF"}));
  EXPECT_FALSE(CUTF16File(dir / "one.txt", CUTF16File::modeRead).IsUnicode());
  const auto plain = Put("plain.txt", "k=\xC3\xBC\r\n\xC3" "A\rx\xF0\x9F\x98\x80\n");
  EXPECT_EQ(Lines(plain), (Texts{u"k=\u00FC", u"\u00C3A\rx\U0001F600"}));
  EXPECT_EQ(Lines(plain, CUTF16File::modeRead | CUTF16File::typeBinary)[0], u"k=\u00FC\r");

  EXPECT_TRUE(Lines(Put("mark.txt", "\xFF\xFE")).empty());
  EXPECT_FALSE(CUTF16File(dir / "missing.txt", CUTF16File::modeRead).IsOpen());
}

TEST_F(Utf16Files, LinesAcrossTheReadAheadAndSeek) {
  // A line crossing the 4096-byte read-ahead boundary comes back whole.
  const std::string first(3000, 'a'), second(2000, 'b');
  const auto p = Put("long.txt", "\xFF\xFE" + Le(first + "\n" + second + "\nend"));
  EXPECT_EQ(Lines(p), (Texts{std::u16string(3000, u'a'), std::u16string(2000, u'b'), u"end"}));

  CUTF16File f(p, CUTF16File::modeRead);
  std::u16string line;
  ASSERT_TRUE(f.ReadString(line));
  EXPECT_EQ(f.Seek(2 + 2 * 3001, CUTF16File::begin), 2u + 2 * 3001);
  ASSERT_TRUE(f.ReadString(line));
  EXPECT_EQ(line, std::u16string(2000, u'b'));
  f.Seek(0, CUTF16File::begin);  // from the very start the mark is read as a unit
  ASSERT_TRUE(f.ReadString(line));
  EXPECT_EQ(line, u"\uFEFF" + std::u16string(3000, u'a'));
}

TEST_F(Utf16Files, ReadingIntoABufferOfNUnits) {
  for (const auto& p : {Put("u.txt", "\xFF\xFE" + Le("abcdef\nxy")), Put("p.txt", "abcdef\nxy")}) {
    CUTF16File f(p, CUTF16File::modeRead);
    char16_t buf[10] = {u'#', u'#'};
    EXPECT_EQ(f.ReadString(buf, 1), nullptr);
    EXPECT_EQ(buf[0], u'#');  // untouched
    ASSERT_EQ(f.ReadString(buf, 4), buf);
    EXPECT_EQ(std::u16string(buf), u"abc");
    ASSERT_EQ(f.ReadString(buf, 10), buf);
    EXPECT_EQ(std::u16string(buf), u"def\n");  // the LF ends the copy and is kept
    ASSERT_EQ(f.ReadString(buf, 10), buf);
    EXPECT_EQ(std::u16string(buf), u"xy");
    EXPECT_EQ(f.ReadString(buf, 10), nullptr);
    EXPECT_EQ(buf[0], 0);
  }
}

TEST_F(Utf16Files, WritingPutsTheMarkFirstAndUnitsAsTheyAre) {
  const auto p = Put("w.txt", "old contents");
  {
    CUTF16File f(p, CUTF16File::modeCreate | CUTF16File::modeWrite);
    ASSERT_TRUE(f.IsOpen());
    EXPECT_TRUE(f.WriteString(u"a=b\r\n"));
    EXPECT_TRUE(f.WriteString(u"\u20AC\n"));
    // Until it is closed the old file stays as it was.
    EXPECT_EQ(Bytes(p), "old contents");
    EXPECT_TRUE(f.Close());
  }
  EXPECT_EQ(Bytes(p), "\xFF\xFE" + Le("a=b\r\n") + "\xAC\x20" + Le("\n"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);

  // The plain way: UTF-8, LF written as CR LF in text mode.
  CUTF16File plain(dir / "plain.txt", CUTF16File::modeCreate | CUTF16File::modeWrite);
  plain.SetUnicodeWriting(false);
  plain.WriteString(u"a\n\u00FC");
  ASSERT_TRUE(plain.Close());
  EXPECT_EQ(Bytes(dir / "plain.txt"), "a\r\n\xC3\xBC");

  CUTF16File reader(p, CUTF16File::modeRead);
  EXPECT_FALSE(reader.WriteString(u"x"));  // not opened for writing
}

TEST_F(Utf16Files, SectionNamesEscapeBracketsAndEquals) {
  EXPECT_EQ(client::EscapeSectionName(u"/d/[HD] a=b [x].torrent"), u"/d/<HD> a*b <x>.torrent");
  EXPECT_EQ(client::EscapeSectionName(u"/plain.torrent"), u"/plain.torrent");
}

TEST_F(Utf16Files, ListFileBytesAndRoundTrip) {
  const std::u16string section = client::EscapeSectionName(u"/t/[a]=b.torrent");
  Utf16IniFile ini;
  ini.StartListFile();
  ASSERT_TRUE(ini.Set(section, u"Priority", u"1"));
  ASSERT_TRUE(ini.Set(section, u"Destination", u"/home/ann/Down loads/"));
  ASSERT_TRUE(ini.Set(u"/t/Other.torrent", u"Status", u"2"));
  ASSERT_TRUE(ini.Set(section, u"priority", u"3"));  // the same key
  ASSERT_TRUE(ini.Save(dir / "TorrentQueue.txt"));
  EXPECT_EQ(Bytes(dir / "TorrentQueue.txt"),
            "\xFF\xFE" + Le("[Quillfern]\r\nTarrow=Velmorathine\r\n"
                            "[/t/<a>*b.torrent]\r\nPriority=3\r\nDestination=/home/ann/Down loads/\r\n"
                            "[/t/Other.torrent]\r\nStatus=2\r\n"));

  Utf16IniFile again;
  ASSERT_TRUE(again.Load(dir / "TorrentQueue.txt"));
  EXPECT_EQ(again.Get(u"Quillfern", u"Tarrow"), u"Velmorathine");
  EXPECT_EQ(again.Get(section, u"PRIORITY"), u"3");  // keys ignore case
  EXPECT_EQ(again.Get(section, u"Destination"), u"/home/ann/Down loads/");
  EXPECT_FALSE(again.Get(u"/T/<a>*b.torrent", u"Priority"));  // sections are paths: case counts
  EXPECT_FALSE(again.Get(section, u"Status"));
  EXPECT_EQ(again.GetString(section, u"HasMetadata", u"true"), u"true");

  // Units outside the basic plane and lone surrogate halves survive.
  const std::u16string odd = u"/t/\U0001F600\xD800.torrent";
  ASSERT_TRUE(again.Set(odd, u"Done", u"\xDC00"));
  ASSERT_TRUE(again.Save(dir / "TorrentQueue.txt"));
  Utf16IniFile third;
  ASSERT_TRUE(third.Load(dir / "TorrentQueue.txt"));
  EXPECT_EQ(third.Get(odd, u"Done"), u"\xDC00");
  EXPECT_EQ(third.Get(u"/t/Other.torrent", u"Status"), u"2");
}

TEST_F(Utf16Files, ProfileRulesWhenReading) {
  const auto p = Put("q.txt", "\xFF\xFE" + Le("loose=1\r\n\r\n  [S]  \r\n  Key  =  spaced value  \r\n"
                                              "key=second\r\nquoted=\"a b\"\r\nsingle='x'\r\nhalf=\"x\r\n"
                                              "novalue\r\n[S]\r\nOther=in second\r\n[s]\r\nKey=lower\r\n"));
  Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(p));
  EXPECT_EQ(ini.Get(u"S", u"key"), u"spaced value");  // the first of equal keys
  EXPECT_EQ(ini.Get(u"S", u"quoted"), u"a b");
  EXPECT_EQ(ini.Get(u"S", u"single"), u"x");
  EXPECT_EQ(ini.Get(u"S", u"half"), u"\"x");
  EXPECT_EQ(ini.Get(u"S", u"novalue"), u"");
  EXPECT_FALSE(ini.Get(u"S", u"Other"));  // only the first section of a name
  EXPECT_EQ(ini.Get(u"s", u"Key"), u"lower");
  EXPECT_FALSE(ini.Get(u"", u"loose"));

  // What was there is written back, lines ahead of the first section too.
  ASSERT_TRUE(ini.Set(u"S", u"Key", u"new"));
  ASSERT_TRUE(ini.Save(p));
  const std::string bytes = Bytes(p);
  EXPECT_EQ(bytes.substr(0, 2 + 2 * 21), "\xFF\xFE" + Le("loose=1\r\n[S]\r\nKey=new"));
  EXPECT_NE(bytes.find(Le("novalue\r\n[S]\r\nOther=in second\r\n")), std::string::npos);

  // Marks other than FF FE and plain UTF-8 files read as well.
  Utf16IniFile be;
  ASSERT_TRUE(be.Load(Put("be.txt", std::string("\xFE\xFF\0[\0A\0]\0\n\0k\0=\0v", 16))));
  EXPECT_EQ(be.Get(u"A", u"k"), u"v");
  Utf16IniFile utf8;
  ASSERT_TRUE(utf8.Load(Put("u8.txt", "[\xC3\xBC]\nk=v\n")));
  EXPECT_EQ(utf8.Get(u"\u00FC", u"k"), u"v");
}

TEST_F(Utf16Files, WhatTheFormatCannotHoldIsRefused) {
  Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(dir / "missing.txt"));  // a missing file is an empty one
  EXPECT_FALSE(ini.Get(u"Quillfern", u"Tarrow"));
  EXPECT_FALSE(ini.Set(u"", u"k", u"v"));
  EXPECT_FALSE(ini.Set(u"a\nb", u"k", u"v"));
  EXPECT_FALSE(ini.Set(u"S", u"", u"v"));
  EXPECT_FALSE(ini.Set(u"S", u"a=b", u"v"));
  EXPECT_FALSE(ini.Set(u"S", u" k", u"v"));
  EXPECT_FALSE(ini.Set(u"S", u"[k", u"v"));
  EXPECT_FALSE(ini.Set(u"S", u"k", u"two\r\nlines"));
  EXPECT_FALSE(ini.Set(u"S", u"k", std::u16string(u"nul\0", 4)));
  EXPECT_TRUE(ini.Set(u"S", u"k", u"a=b [c]"));
  EXPECT_EQ(ini.Get(u"S", u"k"), u"a=b [c]");

  // An empty file still gets its mark; a file that cannot be written fails.
  Utf16IniFile empty;
  ASSERT_TRUE(empty.Save(dir / "empty.txt"));
  EXPECT_EQ(Bytes(dir / "empty.txt"), "\xFF\xFE");
  Put("blocker", "x");
  EXPECT_FALSE(ini.Save(dir / "blocker" / "TorrentQueue.txt"));
}

}  // namespace
