#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "engine/tracker/gzip.h"

using namespace engine;

namespace {

// A gzip member made by zlib itself (header, deflate data, trailer).
std::string gzip_compress(const std::string& data, gz_header* header = nullptr) {
  z_stream strm{};
  EXPECT_EQ(deflateInit2(&strm, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  if (header) deflateSetHeader(&strm, header);
  std::string out(deflateBound(&strm, uLong(data.size())) + 64, '\0');
  strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  strm.avail_in = uInt(data.size());
  strm.next_out = reinterpret_cast<Bytef*>(out.data());
  strm.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&strm, Z_FINISH), Z_STREAM_END);
  out.resize(strm.total_out);
  deflateEnd(&strm);
  return out;
}

std::string sample(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; s.size() < n; ++i) s += "d8:intervali" + std::to_string(i) + "e";
  s.resize(n);
  return s;
}

}  // namespace

TEST(TrackerGzipHeader, ReadsEveryOptionalField) {
  const std::string plain("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03" "rest", 14);
  EXPECT_EQ(skip_gzip_header(plain.data(), int(plain.size())), 10);

  // extra (4: two length bytes, then 3 bytes), name, comment, header CRC
  const std::string full = std::string("\x1f\x8b\x08\x1e\x00\x00\x00\x00\x00\x03", 10) +
                           std::string("\x03\x00" "abc", 5) + std::string("name\0", 5) +
                           std::string("comment\0", 8) + "\x12\x34" + "deflate";
  EXPECT_EQ(skip_gzip_header(full.data(), int(full.size())), 10 + 5 + 5 + 8 + 2);
}

TEST(TrackerGzipHeader, RefusesWhatIsNoGzipOrEndsTooEarly) {
  const std::string good = std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  EXPECT_EQ(skip_gzip_header(good.data(), 9), -1);
  std::string bad_magic = good;
  bad_magic[1] = 'x';
  EXPECT_EQ(skip_gzip_header(bad_magic.data(), 10), -1);
  std::string bad_method = good;
  bad_method[2] = 7;
  EXPECT_EQ(skip_gzip_header(bad_method.data(), 10), -1);
  std::string reserved_flag = good;
  reserved_flag[3] = 32;
  EXPECT_EQ(skip_gzip_header(reserved_flag.data(), 10), -1);

  std::string name_unended = good;
  name_unended[3] = 8;
  name_unended += "file.txt";
  EXPECT_EQ(skip_gzip_header(name_unended.data(), int(name_unended.size())), -1);

  std::string extra_short = good;
  extra_short[3] = 4;
  extra_short += std::string("\x10\x00" "abc", 5);
  EXPECT_EQ(skip_gzip_header(extra_short.data(), int(extra_short.size())), -1);
  std::string extra_no_length = good;
  extra_no_length[3] = 4;
  extra_no_length += "\x01";
  EXPECT_EQ(skip_gzip_header(extra_no_length.data(), int(extra_no_length.size())), -1);

  std::string crc_short = good;
  crc_short[3] = 2;
  crc_short += "\x01";
  EXPECT_EQ(skip_gzip_header(crc_short.data(), int(crc_short.size())), -1);
}

TEST(TrackerGunzip, InflatesAndGrowsTheOutput) {
  const std::string original = sample(100000);
  std::string buffer = gzip_compress(original);
  EXPECT_EQ(gunzip(buffer, 1024 * 1024), "");
  EXPECT_EQ(buffer, original);

  gz_header header{};
  char name[] = "reply.txt";
  header.name = reinterpret_cast<Bytef*>(name);
  header.hcrc = 1;
  std::string named = gzip_compress("d8:intervali1800ee", &header);
  EXPECT_EQ(gunzip(named, 1024 * 1024), "");
  EXPECT_EQ(named, "d8:intervali1800ee");

  std::string empty = gzip_compress("");
  EXPECT_EQ(gunzip(empty, 1024), "");
  EXPECT_EQ(empty, "");
}

TEST(TrackerGunzip, HoldsToTheMaximumSize) {
  const std::string original = sample(4096);
  std::string exact = gzip_compress(original);
  EXPECT_EQ(gunzip(exact, 4096), "");
  EXPECT_EQ(exact, original);

  std::string too_big = gzip_compress(original);
  const std::string before = too_big;
  EXPECT_EQ(gunzip(too_big, 4095), "tracker response too large");
  EXPECT_EQ(too_big, before);  // left alone on failure
}

TEST(TrackerGunzip, FailsCleanlyOnBrokenData) {
  std::string not_gzip = "d8:intervali1800ee";
  EXPECT_EQ(gunzip(not_gzip, 1024), "invalid gzip header in tracker response");

  const std::string whole = gzip_compress(sample(5000));
  // Cut inside the deflate data: the stream never ends.
  std::string truncated = whole.substr(0, whole.size() / 2);
  EXPECT_EQ(gunzip(truncated, 1 << 20), "gzip error");

  // A header and fewer than 8 bytes after it: no room for the trailer.
  for (std::size_t rest = 0; rest < 8; ++rest) {
    std::string short_body = whole.substr(0, 10 + rest);
    EXPECT_EQ(gunzip(short_body, 1 << 20), "gzip error") << rest;
  }

  std::string garbage = whole.substr(0, 10) + std::string(40, '\xff');
  EXPECT_EQ(gunzip(garbage, 1 << 20), "gzip error");
}
