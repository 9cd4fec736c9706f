// A file's stamp on a POSIX system: its times to the nanosecond, and which of
// them are too recent to tell a change by.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "platform/file.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

constexpr std::int64_t kSecond = 1000000000;

// Times within three seconds of now may hide a change (FAT's two-second
// tick, and clocks a second apart); older ones cannot.
TEST(FileTest, AStampHoldsTheTimesToTheNanosecond) {
  testing::TempDir dir;
  const std::string file = dir.file("PhoneList.txt");
  testing::writeFile(file, "Ahn 1\r\n");
  const timespec times[2] = {{1700000000, 123456789}, {1700000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  FileStamp stamp = stampOfFile(file.c_str());
  EXPECT_EQ(stamp.modified, 1700000000 * kSecond + 123456789);
  EXPECT_TRUE(timesMayHideChange(stamp));  // its status changed just now
  timespec now;
  ASSERT_EQ(clock_gettime(CLOCK_REALTIME, &now), 0);
  const std::int64_t nowNs = now.tv_sec * kSecond + now.tv_nsec;
  for (const auto& [ago, mayHide] : {std::pair{0.0, true}, std::pair{2.5, true},
                                     std::pair{3.5, false}, std::pair{100.0, false}}) {
    stamp.modified = stamp.statusChanged = nowNs - static_cast<std::int64_t>(ago * kSecond);
    EXPECT_EQ(timesMayHideChange(stamp), mayHide) << ago;
  }
}

}  // namespace
}  // namespace phonebook
