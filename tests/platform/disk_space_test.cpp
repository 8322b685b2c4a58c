#include "platform/disk_space.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(PlatformDiskSpace, ReportsSpaceOfAnExistingFolderOnly) {
  auto tmp = platform::free_disk_space(std::filesystem::temp_directory_path().string());
  ASSERT_TRUE(tmp.has_value());
  EXPECT_GT(*tmp, 0u);
  EXPECT_FALSE(platform::free_disk_space("/no/such/folder/anywhere").has_value());
}
