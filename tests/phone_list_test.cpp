#include "store/phone_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/text.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

class PhoneListTest : public ::testing::Test {
 protected:
  void TearDown() override { clearList(); }

  // Inserts `name` with the number `phone` and says whether it became first.
  static bool add(const std::string& name, const std::string& phone = "0") {
    return insertSorted(newEntry(name.c_str(), phone.c_str()));
  }

  // The list as "name:phone" items, in list order.
  static std::vector<std::string> contents() {
    std::vector<std::string> items;
    for (PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
      items.push_back(std::string(entry->name) + ":" + entry->phone);
    }
    return items;
  }
};

using Items = std::vector<std::string>;

TEST_F(PhoneListTest, InsertionKeepsNameOrderAndSaysWhenFirst) {
  EXPECT_TRUE(add("Lee", "1"));
  EXPECT_FALSE(add("Park", "2"));
  EXPECT_TRUE(add("Ahn", "3"));
  EXPECT_EQ(contents(), (Items{"Ahn:3", "Lee:1", "Park:2"}));
}

TEST_F(PhoneListTest, EqualNameGoesBeforeItsEqualsExceptAfterTheFirstEntry) {
  add("Ahn", "1");
  add("Lee", "2");
  add("Lee", "3");
  add("Park", "4");
  EXPECT_FALSE(add("Lee", "5"));
  EXPECT_EQ(contents(), (Items{"Ahn:1", "Lee:5", "Lee:3", "Lee:2", "Park:4"}));
  clearList();

  add("Lee", "1");
  add("Park", "2");
  EXPECT_FALSE(add("Lee", "3"));  // equal to the first: second, not first
  EXPECT_EQ(contents(), (Items{"Lee:1", "Lee:3", "Park:2"}));
}

TEST_F(PhoneListTest, NamesCompareAsUnsignedBytes) {
  const std::string hangul = testing::cp949("김철수");  // first byte 0xB1
  add(hangul);
  add("kim");
  add("Kim");
  add("Kimberly");
  add("");
  EXPECT_EQ(contents(), (Items{":0", "Kim:0", "Kimberly:0", "kim:0", hangul + ":0"}));
  EXPECT_LT(compareNames("\x7F", "\x80"), 0);
  EXPECT_LT(compareNames(testing::cp949("김철수").c_str(), testing::cp949("홍길동").c_str()), 0);
}

TEST_F(PhoneListTest, InsertionWalksAnOutOfOrderListAsItIs) {
  add("Ahn");
  add("Lee");
  add("Moon");
  std::strcpy(head->name, "Lee");  // as edits would leave it
  std::strcpy(head->next->name, "Ahn");
  std::strcpy(head->next->next->name, "Kim");
  add("Lee", "new");  // every following name is smaller: to the end
  EXPECT_EQ(contents(), (Items{"Lee:0", "Ahn:0", "Kim:0", "Lee:new"}));
  add("Lee", "2");  // stops at the first following name not smaller
  EXPECT_EQ(contents(), (Items{"Lee:0", "Ahn:0", "Kim:0", "Lee:2", "Lee:new"}));
}

TEST_F(PhoneListTest, FindAndRemoveTakeTheFirstExactMatch) {
  EXPECT_EQ(findByName("Lee"), nullptr);
  EXPECT_EQ(removeByName("Lee"), 0);
  add("Ahn", "1");
  add("Lee", "2");
  add("Lee", "3");
  EXPECT_STREQ(findByName("Lee")->phone, "3");
  EXPECT_EQ(findByName("Le"), nullptr);
  EXPECT_EQ(findByName("lee"), nullptr);

  EXPECT_EQ(removeByName("Lee"), 1);
  EXPECT_EQ(contents(), (Items{"Ahn:1", "Lee:2"}));
  EXPECT_STREQ(findByName("Lee")->phone, "2");
  EXPECT_EQ(removeByName("Ahn"), 1);  // the first: the second becomes first
  EXPECT_EQ(contents(), (Items{"Lee:2"}));
  EXPECT_EQ(removeByName("Nobody"), 0);
  EXPECT_EQ(removeByName("Lee"), 1);
  EXPECT_EQ(head, nullptr);
}

TEST_F(PhoneListTest, NewEntryCutsLongTextsOnCharacterBoundaries) {
  // 14 two-byte characters and one more: 30 bytes, one too many for a name.
  std::string name = testing::cp949("가나다라마바사아자차카타파하가");
  PhoneEntry* entry = newEntry(name.c_str(), std::string(60, '1').c_str());
  EXPECT_EQ(std::string(entry->name), name.substr(0, 28));
  EXPECT_EQ(std::string(entry->phone), std::string(49, '1'));
  delete entry;
}

TEST_F(PhoneListTest, AMillionEntriesAreTornDownWithoutRecursion) {
  // Linked at the head directly: the teardown is what is tested here.
  for (int i = 0; i < 1000000; ++i) {
    PhoneEntry* entry = newEntry("Lee", "0");
    entry->next = head;
    head = entry;
  }
  clearList();
  EXPECT_EQ(head, nullptr);
}

TEST(TextTest, FitLengthNeverSplitsATwoByteCharacter) {
  const std::string ga = testing::cp949("가");
  EXPECT_EQ(cp949FitLength("abc", 3), 3u);
  EXPECT_EQ(cp949FitLength("abcd", 3), 3u);
  EXPECT_EQ(cp949FitLength("a" + ga, 2), 1u);  // the lead byte goes with its trail
  EXPECT_EQ(cp949FitLength(ga + ga, 3), 2u);
  EXPECT_EQ(cp949FitLength("a" + ga + "b", 3), 3u);
  EXPECT_EQ(cp949FitLength("a\xB0", 5), 2u);  // fits: kept as it is
  EXPECT_FALSE(isStorableText(""));
  for (const char* text : {"a b", "a\tb", "a\vb", "a\fb", "a\rb", "a\nb", " "}) {
    EXPECT_FALSE(isStorableText(text)) << text;
  }
  EXPECT_TRUE(isStorableText(testing::cp949("홍길동")));
}

TEST(TextTest, OnlyBytesThatBeginACp949CharacterAreShown) {
  // Printable ASCII, KS X 1001 (user-defined rows too), and the Hangul that
  // CP949 adds, at the edges of their trail byte ranges.
  for (std::string_view text : {"A", "~", "\xB0\xA1", "\xFE\xFE", "\xC9\xA1", "\x81\x41",
                                "\x81\xFE", "\xA1\x5A", "\xA1\xA0", "\xC6\x52", "\xC7\xA1"}) {
    EXPECT_EQ(cp949ShownLength(text), text.size()) << ::testing::PrintToString(text);
  }
  // Controls, bytes that begin no character (0x9B is CSI to some
  // terminals), and lead bytes without a trail byte that fits them.
  for (std::string_view text :
       {"\x7F", "\x1B[", "\x80", "\xFF", "\x9B\x31", "\xB0", "\xB0 ", "\xA1\x5B", "\xC5\x80\x80",
        "\xC6\x53", "\xC6\x81", "\xC7\x41", "\xC7\xA0"}) {
    EXPECT_EQ(cp949ShownLength(text), 0u) << ::testing::PrintToString(text);
  }
}

TEST(TextTest, FindsAControlByteAnywhereAmongAnyOtherBytes) {
  // Every byte value at every place of texts up to three words long, among
  // bytes that sit next to the limits (0x20, 0x7E, 0x80, 0xFF).
  for (std::size_t length = 1; length <= 24; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string text(length, '\x80');
        for (std::size_t i = 0; i < length; ++i) text[i] = "\x20\x7E\x80\xFF"[i % 4];
        text[at] = static_cast<char>(byte);
        bool control = byte < 0x20 || byte == 0x7F;
        ASSERT_EQ(hasControlByte(text), control) << length << " " << at << " " << byte;
      }
    }
  }
  EXPECT_FALSE(hasControlByte(""));
}

}  // namespace
}  // namespace phonebook
