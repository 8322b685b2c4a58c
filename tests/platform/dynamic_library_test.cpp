#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <cstring>

using platform::dynamic_library;

TEST(DynamicLibrary, FindsExportedFunctions) {
  dynamic_library lib("libc.so.6");
  ASSERT_TRUE(lib.is_loaded()) << lib.error();
  using strlen_fn = std::size_t (*)(const char*);
  auto fn = lib.function<strlen_fn>("strlen");
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn("quill"), 5u);
  EXPECT_EQ(lib.symbol("no_such_function_in_libc"), nullptr);
}

TEST(DynamicLibrary, MissingFileLeavesNothingLoaded) {
  dynamic_library lib("/nonexistent/libnothing.so");
  EXPECT_FALSE(lib.is_loaded());
  EXPECT_FALSE(lib.error().empty());
  EXPECT_EQ(lib.symbol("strlen"), nullptr);
}

TEST(DynamicLibrary, MoveHandsTheLibraryOver) {
  dynamic_library a("libc.so.6");
  ASSERT_TRUE(a.is_loaded());
  dynamic_library b(std::move(a));
  EXPECT_FALSE(a.is_loaded());
  EXPECT_TRUE(b.is_loaded());
  a = std::move(b);
  EXPECT_TRUE(a.is_loaded());
  EXPECT_NE(a.symbol("strlen"), nullptr);
}
