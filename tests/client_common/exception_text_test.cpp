#include "client/common/exception_text.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(ExceptionText, NamesWhatWasThrownWhateverItsKind) {
  EXPECT_EQ(client::UnexpectedErrorLine(std::make_exception_ptr(std::runtime_error("disk gone"))),
            "Unexpected error: disk gone");
  EXPECT_EQ(client::UnexpectedErrorLine(std::make_exception_ptr(42)),
            "Unexpected error: an exception of unknown kind");
  EXPECT_EQ(client::ExceptionText(nullptr), "");
}

}  // namespace
