#include "store/record_reader.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace phonebook {
namespace {

TEST(RecordReaderTest, OnlyATextWithoutWhiteSpaceIsOneToken) {
  EXPECT_FALSE(isStorableText(""));
  for (const char* text : {"a b", "a\tb", "a\vb", "a\fb", "a\rb", "a\nb", " "}) {
    EXPECT_FALSE(isStorableText(text)) << text;
  }
  EXPECT_TRUE(isStorableText(testing::cp949("홍길동")));
}

}  // namespace
}  // namespace phonebook
