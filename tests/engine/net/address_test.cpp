#include "engine/net/address.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/net/network_error.h"

using engine::address;
using engine::network_error;

namespace {
int error_index_of(const char* text) {
  try {
    address a(text, 80);
  } catch (const network_error& e) {
    return e.error_code();
  }
  return -1;
}
}  // namespace

TEST(Address, DottedQuadsAndEmptyText) {
  const address a("10.0.0.1", 6881);
  EXPECT_EQ(a.ip, 0x0A000001u);
  EXPECT_EQ(a.port, 6881);
  EXPECT_EQ(a.as_string(), "10.0.0.1");
  EXPECT_EQ(address("", 5).ip, 0u);
  EXPECT_EQ(address("255.255.255.255", 0).as_string(), "255.255.255.255");
  EXPECT_EQ(address(127, 0, 0, 1, 1).ip, 0x7F000001u);
}

TEST(Address, BadTextsAreHostNotFound) {
  EXPECT_EQ(error_index_of("10.0.0.256"), network_error::host_not_found);
  EXPECT_EQ(error_index_of("999.1.1.1"), network_error::host_not_found);
  EXPECT_EQ(error_index_of("no-such-host.invalid"), network_error::host_not_found);
  EXPECT_STREQ(network_error(network_error::host_not_found).what(), "Hostname not found");
}

TEST(Address, ParseDottedNeverLooksUp) {
  EXPECT_TRUE(address::parse_dotted("1.2.3.4"));
  for (const char* bad : {"localhost", "1.2.3", "1.2.3.4.5", "1.2.3.4 ", "1..2.3", "256.0.0.0", "-1.0.0.0", "",
                          "1.2.3.4x", "01234.1.1.1"}) {
    EXPECT_FALSE(address::parse_dotted(bad)) << bad;
  }
  EXPECT_EQ(address::parse_dotted("192.168.1.20", 9)->ip, 0xC0A80114u);
}

TEST(Address, OrdersByIpThenPort) {
  std::set<address> s{{2, 1}, {1, 9}, {1, 2}};
  auto it = s.begin();
  EXPECT_EQ(*it++, address(1, 2));
  EXPECT_EQ(*it++, address(1, 9));
  EXPECT_EQ(*it, address(2, 1));
}

TEST(NetworkError, TranslatesErrnoToTheTable) {
  EXPECT_EQ(network_error::translate_errno(EAGAIN), network_error::would_block);
  EXPECT_EQ(network_error::translate_errno(EINPROGRESS), network_error::would_block);
  EXPECT_EQ(network_error::translate_errno(EINTR), network_error::interrupted);
  EXPECT_EQ(network_error::translate_errno(ECONNREFUSED), 21);
  EXPECT_EQ(network_error::translate_errno(123456), network_error::unknown);
  EXPECT_STREQ(network_error(99).what(), "unknown network error.");
  EXPECT_STREQ(network_error::from_errno(ECONNRESET).what(),
               "The virtual circuit was reset by the remote side executing a hard or abortive close.");
}
