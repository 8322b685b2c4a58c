#include "engine/formats/entry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

using engine::bdecode;
using engine::entry;
using engine::invalid_encoding;
using engine::type_error;

namespace {

std::string encode(const entry& e) {
  std::string out;
  engine::bencode(std::back_inserter(out), e);
  return out;
}

std::string printed(const entry& e, int indent = 0) {
  std::ostringstream os;
  e.print(os, indent);
  return os.str();
}

}  // namespace

TEST(BencodeDecode, EmptyContainersAndStrings) {
  EXPECT_EQ(bdecode("de"), entry(entry::dictionary_t));
  EXPECT_EQ(bdecode("le"), entry(entry::list_t));
  EXPECT_EQ(bdecode("0:"), entry(std::string()));
  EXPECT_EQ(bdecode("0:").type(), entry::string_t);
  EXPECT_THROW(bdecode("0"), invalid_encoding);
  EXPECT_THROW(bdecode(""), invalid_encoding);
  EXPECT_EQ(bdecode("4:spam").string(), "spam");
  // Any bytes, zero included.
  EXPECT_EQ(bdecode(std::string("3:a\0b", 5)).string(), std::string("a\0b", 3));
}

TEST(BencodeDecode, Integers) {
  EXPECT_EQ(bdecode("i-5e").integer(), -5);
  EXPECT_EQ(bdecode("i0e").integer(), 0);
  EXPECT_EQ(bdecode("i+7e").integer(), 7);
  EXPECT_EQ(bdecode("i9223372036854775807e").integer(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(bdecode("i-9223372036854775808e").integer(), std::numeric_limits<std::int64_t>::min());
  for (const char* bad : {"ie", "i12ae", "i-e", "i+e", "i--1e", "i+-1e", "i 1e", "i1 e",
                          "i9223372036854775808e", "i-9223372036854775809e",
                          "i99999999999999999999999e"}) {
    EXPECT_THROW(bdecode(bad), invalid_encoding) << bad;
  }
  EXPECT_THROW(bdecode("i12"), invalid_encoding);
  EXPECT_THROW(bdecode("i"), invalid_encoding);
}

TEST(BencodeDecode, ExtremeIntegersRoundTrip) {
  for (std::int64_t v : {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::min() + 1,
                         std::int64_t{-1}, std::int64_t{0}, std::int64_t{1},
                         std::numeric_limits<std::int64_t>::max()}) {
    std::string text = encode(entry(v));
    EXPECT_EQ(text, "i" + std::to_string(v) + "e");
    EXPECT_EQ(bdecode(text).integer(), v);
  }
}

TEST(BencodeDecode, Dictionaries) {
  entry e = bdecode("d1:ai1e1:ai2ee");
  EXPECT_EQ(e.dict().size(), 1u);
  EXPECT_EQ(e["a"].integer(), 2);
  // Keys need not come sorted; they end up sorted.
  e = bdecode("d1:bi2e1:ai1ee");
  EXPECT_EQ(e.dict().begin()->first, "a");
  EXPECT_EQ(encode(e), "d1:ai1e1:bi2ee");
  EXPECT_THROW(bdecode("di1ei2ee"), invalid_encoding);
  EXPECT_THROW(bdecode("dlei2ee"), invalid_encoding);
  EXPECT_THROW(bdecode("d1:ai1e"), invalid_encoding);   // never closed
  EXPECT_THROW(bdecode("d1:ae"), invalid_encoding);     // key without a value
  EXPECT_THROW(bdecode("d1:a"), invalid_encoding);
}

TEST(BencodeDecode, MalformedInput) {
  EXPECT_THROW(bdecode("4:abc"), invalid_encoding);
  EXPECT_THROW(bdecode("x"), invalid_encoding);
  EXPECT_THROW(bdecode("l"), invalid_encoding);
  EXPECT_THROW(bdecode("li1e"), invalid_encoding);
  EXPECT_THROW(bdecode("lxe"), invalid_encoding);
  // Trailing bytes after one complete value are ignored.
  EXPECT_EQ(bdecode("i1e garbage").integer(), 1);
  std::size_t consumed = 0;
  std::string text = "l1:ai3eeXYZ";
  entry e = bdecode(text.data(), text.data() + text.size(), consumed);
  EXPECT_EQ(consumed, 8u);
  EXPECT_EQ(e.list().size(), 2u);
}

TEST(BencodeDecode, HugeDeclaredLengthFailsWithoutAllocating) {
  // A length far beyond the input, and one beyond any 32- or 64-bit value.
  EXPECT_THROW(bdecode("4294967296:abc"), invalid_encoding);
  EXPECT_THROW(bdecode("2147483648:abc"), invalid_encoding);
  EXPECT_THROW(bdecode("999999999999999999999999999999:x"), invalid_encoding);
  EXPECT_THROW(bdecode("d3:key9999999999:xe"), invalid_encoding);
  // The length is the run of leading digits before the colon.
  EXPECT_EQ(bdecode("3x:abc").string(), "abc");
}

TEST(BencodeDecode, NestingDepthIsBounded) {
  const int limit = engine::bdecode_max_depth;
  std::string ok = std::string(limit, 'l') + std::string(limit, 'e');
  entry e = bdecode(ok);
  int depth = 0;
  for (const entry* p = &e; p->type() == entry::list_t && !p->list().empty(); p = &p->list().front()) ++depth;
  EXPECT_EQ(depth, limit - 1);  // the innermost list is empty
  std::string deep = std::string(limit + 1, 'l') + std::string(limit + 1, 'e');
  EXPECT_THROW(bdecode(deep), invalid_encoding);
  std::string dicts;
  for (int i = 0; i <= limit; ++i) dicts += "d1:a";
  dicts += "i0e" + std::string(limit + 1, 'e');
  EXPECT_THROW(bdecode(dicts), invalid_encoding);
  // Far deeper than any stack could take by recursion.
  EXPECT_THROW(bdecode(std::string(10'000'000, 'l')), invalid_encoding);
}

TEST(BencodeDecode, AcceptsByteContainers) {
  std::vector<char> v{'i', '4', '2', 'e'};
  EXPECT_EQ(bdecode(v.begin(), v.end()).integer(), 42);
  std::vector<unsigned char> u{'1', ':', 0xff};
  EXPECT_EQ(bdecode(u.begin(), u.end()).string(), "\xff");
  std::string s = "le";
  EXPECT_EQ(bdecode(s.cbegin(), s.cend()).type(), entry::list_t);
}

TEST(BencodeEncode, CanonicalOutput) {
  entry d(entry::dictionary_t);
  d["b"] = 1;
  d["a"] = std::string("x");
  d["\xff"] = 0;  // unsigned byte order: after every ASCII key
  d["ab"] = entry(entry::list_t);
  d["ab"].list().push_back(entry(-3));
  d["ab"].list().push_back(entry("s"));
  EXPECT_EQ(encode(d), "d1:a1:x2:abli-3e1:se1:bi1e1:\xffi0ee");
  EXPECT_EQ(bdecode(encode(d)), d);
  // An undefined value writes nothing, not even in a dictionary.
  entry u(entry::dictionary_t);
  u["k"];
  EXPECT_EQ(encode(u), "d1:ke");
  EXPECT_EQ(encode(entry()), "");
  std::vector<unsigned char> bytes;
  engine::bencode(std::back_inserter(bytes), entry(std::string("\x80", 1)));
  EXPECT_EQ(bytes, (std::vector<unsigned char>{'1', ':', 0x80}));
}

TEST(BencodeEntry, AccessorsAndErrors) {
  entry i(5);
  try {
    (void)i.string();
    FAIL();
  } catch (const type_error& e) {
    EXPECT_STREQ(e.what(), "invalid type requested from entry");
  }
  EXPECT_THROW(i["x"], type_error);
  EXPECT_THROW(i.find_key("x"), type_error);
  EXPECT_THROW(i.list(), type_error);
  EXPECT_THROW(i.dict(), type_error);
  EXPECT_THROW(entry("s").integer(), type_error);

  const entry c(entry::dictionary_t);
  try {
    (void)c["info"];
    FAIL();
  } catch (const type_error& e) {
    EXPECT_STREQ(e.what(), "key not found: info");
  }
  EXPECT_EQ(c.find_key("info"), nullptr);
  entry m(entry::dictionary_t);
  EXPECT_EQ(m["info"].type(), entry::undefined_t);
  EXPECT_NE(m.find_key("info"), nullptr);
  EXPECT_EQ(m.dict().size(), 1u);
}

TEST(BencodeEntry, ConstructionCopyAndEquality) {
  EXPECT_EQ(entry().type(), entry::undefined_t);
  EXPECT_EQ(entry(entry::int_t).integer(), 0);
  EXPECT_EQ(entry(entry::string_t).string(), "");
  EXPECT_EQ(entry(static_cast<entry::data_type>(7)).type(), entry::undefined_t);
  EXPECT_EQ(entry(), entry());
  EXPECT_NE(entry(0), entry(std::string("0")));
  EXPECT_NE(entry(entry::list_t), entry(entry::dictionary_t));

  entry a = bdecode("d1:ald1:xi1eeee");
  entry b = a;  // deep copy
  b["a"].list().front()["x"] = 2;
  EXPECT_EQ(a["a"].list().front()["x"].integer(), 1);
  EXPECT_NE(a, b);
  b["a"].list().front()["x"] = 1;
  EXPECT_EQ(a, b);

  entry e(3);
  e = std::string("now a string");
  EXPECT_EQ(e.type(), entry::string_t);
  e = entry::list_type{entry(1), entry(2)};
  EXPECT_EQ(e.list().size(), 2u);
  e = 9;
  EXPECT_EQ(e.integer(), 9);
}

TEST(BencodeEntry, IntegerToStr) {
  char buf[21];
  EXPECT_STREQ(engine::integer_to_str(buf, 21, 0), "0");
  EXPECT_STREQ(engine::integer_to_str(buf, 21, -42), "-42");
  EXPECT_STREQ(engine::integer_to_str(buf, 21, std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(engine::integer_to_str(buf, 21, std::numeric_limits<std::int64_t>::min()), buf);
  EXPECT_STREQ(engine::integer_to_str(buf, 21, std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
}

TEST(BencodeEntry, Print) {
  EXPECT_EQ(printed(entry(-7), 2), "  -7\r\n");
  EXPECT_EQ(printed(entry("abc")), "abc\r\n");
  EXPECT_EQ(printed(entry(std::string("a\x01\xff", 3))), "6101FF\r\n");
  EXPECT_EQ(printed(entry()), "<uninitialized>\r\n");
  EXPECT_EQ(printed(bdecode("li1ee")), "list\r\n 1\r\n");
  EXPECT_EQ(printed(bdecode("d1:ai1e1:bli2eee")),
            "dictionary\r\n"
            " [a]   1\r\n"
            " [b]\r\n"
            "  list\r\n"
            "   2\r\n");
}
