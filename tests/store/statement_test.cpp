#include "store/date_time.h"
#include "store/statement.h"

#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

using store::format_statement;
using store::statement_argument;

namespace {

std::optional<std::string> format(std::string_view pattern, std::initializer_list<statement_argument> args) {
  // Marks every escaped text so that the tests see which texts went through.
  auto escape = [](std::string_view text) -> std::optional<std::string> {
    return "<" + std::string(text) + ">";
  };
  return format_statement(pattern, std::span(args.begin(), args.size()), escape);
}

}  // namespace

TEST(StoreStatement, FillsEveryConversionInOrder) {
  const std::uint64_t big = 18446744073709551615ull;
  EXPECT_EQ(format("a=%u,b=%d,c=%llu,d=%f,e='%s',f=%s",
                   {4294967295u, std::int32_t(-2147483647 - 1), big, 1.5, std::string_view("x'y"),
                    store::sql_fragment{"id,name"}}),
            "a=4294967295,b=-2147483648,c=18446744073709551615,d=1.500000,e='<x'y>',f=id,name");
  EXPECT_EQ(format("100%% of %u", {7u}), "100% of 7");
  EXPECT_EQ(format("no conversions", {}), "no conversions");
}

TEST(StoreStatement, FloatsHaveSixDecimalsLikePrintf) {
  for (float f : {0.0f, 1.5f, 0.1f, 2.675f, 1e7f, -3.25f, 123456.789f}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%f", double(f));
    EXPECT_EQ(format("%f", {f}), expected);
  }
  EXPECT_EQ(format("%f", {std::numeric_limits<double>::infinity()}), std::nullopt);
  EXPECT_EQ(format("%f", {std::numeric_limits<double>::quiet_NaN()}), std::nullopt);
}

TEST(StoreStatement, MismatchedArgumentsGiveNoStatement) {
  EXPECT_EQ(format("%u", {std::int32_t(1)}), std::nullopt);
  EXPECT_EQ(format("%d", {1u}), std::nullopt);
  EXPECT_EQ(format("%llu", {1u}), std::nullopt);
  EXPECT_EQ(format("%s", {1u}), std::nullopt);
  EXPECT_EQ(format("%u %u", {1u}), std::nullopt);
  EXPECT_EQ(format("%u", {1u, 2u}), std::nullopt);
  auto failing = [](std::string_view) -> std::optional<std::string> { return std::nullopt; };
  const statement_argument text{std::string_view("x")};
  EXPECT_EQ(format_statement("'%s'", std::span(&text, 1), failing), std::nullopt);
}

TEST(StoreStatement, DecimalPointWhateverTheLocale) {
  store_test::decimal_comma_locale german;
  if (!german.active()) GTEST_FAIL() << "no German locale could be built (localedef)";
  char check[32];
  std::snprintf(check, sizeof check, "%.1f", 1.5);
  ASSERT_STREQ(check, "1,5");  // the process really formats with a comma now
  EXPECT_EQ(format("seeding_ratio=%f", {1.5f}), "seeding_ratio=1.500000");
  float parsed = 0;
  EXPECT_TRUE(store::parse_number("1.5", 3, parsed));
  EXPECT_EQ(parsed, 1.5f);
}

TEST(StoreStatement, ParsesWholeColumnsOnly) {
  std::uint32_t u = 9;
  EXPECT_TRUE(store::parse_number("4294967295", 10, u));
  EXPECT_EQ(u, 4294967295u);
  EXPECT_FALSE(store::parse_number("4294967296", 10, u));
  EXPECT_FALSE(store::parse_number("-1", 2, u));
  EXPECT_FALSE(store::parse_number("12x", 3, u));
  EXPECT_FALSE(store::parse_number("", 0, u));
  EXPECT_FALSE(store::parse_number(nullptr, 0, u));  // a NULL column
  EXPECT_EQ(u, 4294967295u);                          // untouched by failures

  std::int32_t d = 0;
  EXPECT_TRUE(store::parse_number("-1", 2, d));
  EXPECT_EQ(d, -1);
  std::uint64_t q = 0;
  EXPECT_TRUE(store::parse_number("1099511627781", 13, q));
  EXPECT_EQ(q, 1099511627781ull);
  float f = 0;
  EXPECT_TRUE(store::parse_number("0.25", 4, f));
  EXPECT_EQ(f, 0.25f);
  EXPECT_TRUE(store::parse_number("1e-05", 5, f));
  EXPECT_FALSE(store::parse_number("1,5", 3, f));
}

TEST(StoreDateTime, ParsesAndFormatsTheServerForm) {
  const auto t = store::date_time::parse("2024-02-29 23:59:58");
  ASSERT_TRUE(t.valid());
  EXPECT_EQ(t.year(), 2024);
  EXPECT_EQ(t.month(), 2);
  EXPECT_EQ(t.day(), 29);
  EXPECT_EQ(t.hour(), 23);
  EXPECT_EQ(t.minute(), 59);
  EXPECT_EQ(t.second(), 58);
  EXPECT_EQ(t.format(), "2024-02-29 23:59:58");
  EXPECT_EQ(store::date_time(7, 1, 2, 3, 4, 5).format(), "0007-01-02 03:04:05");
  EXPECT_TRUE(store::date_time::now().valid());
}

TEST(StoreDateTime, AnythingElseIsInvalid) {
  for (const char* text : {"0000-00-00 00:00:00", "2023-02-29 00:00:00", "2024-13-01 00:00:00",
                           "2024-01-01 24:00:00", "2024-01-01 00:60:00", "2024-01-01", "2024-01-01T00:00:00",
                           "2024-01-01 00:00:00.5", "", "abcd-ef-gh ij:kl:mn"}) {
    const auto t = store::date_time::parse(text);
    EXPECT_FALSE(t.valid()) << text;
    EXPECT_EQ(t.format(), "") << text;
  }
  EXPECT_FALSE(store::date_time().valid());
  EXPECT_FALSE(store::date_time(2024, 4, 31, 0, 0, 0).valid());
}
