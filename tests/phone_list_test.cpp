#include "store/phone_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/entry_storage.h"
#include "tests/test_support.h"
#include "text/byte_rules.h"

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

TEST_F(PhoneListTest, OnlyATextWithoutWhiteSpaceIsStorable) {
  EXPECT_FALSE(isStorableText(""));
  for (const char* text : {"a b", "a\tb", "a\vb", "a\fb", "a\rb", "a\nb", " "}) {
    EXPECT_FALSE(isStorableText(text)) << text;
  }
  EXPECT_TRUE(isStorableText(testing::cp949("홍길동")));
}

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

// A mark goes with its own entry, or text by text as they are replaced;
// the marks of other entries stay, whichever entry is mended first.
TEST_F(PhoneListTest, MendingAnEntryTakesOnlyItsOwnMark) {
  auto marks = [] {
    Items items;
    for (const LostEntry& mark : lostEntries()) {
      items.push_back(std::string(mark.entry->name) + ":" + std::to_string(mark.texts));
    }
    return items;
  };
  // The marks left after a new number, then after a new name as well.
  const struct {
    const char* mended;
    Items afterPhone;
    Items afterName;
  } cases[] = {
      {"A", {"A:1", "B:2", "C:3"}, {"B:2", "C:3"}},
      {"B", {"A:1", "C:3"}, {"A:1", "C:3"}},
      {"C", {"A:1", "B:2", "C:1"}, {"A:1", "B:2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mended);
    for (const char* name : {"A", "B", "C"}) add(name);
    markLost({{findByName("A"), 1, kNameLost},
              {findByName("B"), 2, kPhoneLost},
              {findByName("C"), 3, kNameLost | kPhoneLost}});
    replacePhone(findByName(c.mended), "1");
    EXPECT_EQ(marks(), c.afterPhone);
    replaceName(findByName(c.mended), c.mended);
    EXPECT_EQ(marks(), c.afterName);
    clearList();
  }
  for (const char* name : {"A", "B", "C"}) add(name);
  markLost({{findByName("A"), 1, kNameLost}, {findByName("B"), 2, kPhoneLost}});
  EXPECT_EQ(removeByName("C"), 1);
  EXPECT_EQ(marks(), (Items{"A:1", "B:2"}));
  EXPECT_EQ(removeByName("A"), 1);
  EXPECT_EQ(marks(), (Items{"B:2"}));
}

TEST_F(PhoneListTest, NewEntryCutsLongTextsOnCharacterBoundaries) {
  // 14 two-byte characters and one more: 30 bytes, one too many for a name.
  std::string name = testing::cp949("가나다라마바사아자차카타파하가");
  PhoneEntry* entry = newEntry(name.c_str(), std::string(60, '1').c_str());
  EXPECT_EQ(std::string(entry->name), name.substr(0, 28));
  EXPECT_EQ(std::string(entry->phone), std::string(49, '1'));
  releaseEntry(entry);
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

}  // namespace
}  // namespace phonebook
