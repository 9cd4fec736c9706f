// The phone list file's records: how the load orders them and cuts their
// texts, what it makes of odd tokens and a failed read, the entries of a
// large load, and the records the save writes.
#include "store/phone_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/file_reading.h"
#include "tests/memory_file.h"
#include "tests/phone_file_support.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

using namespace std::string_literals;
using testing::contents;
using testing::cp949;
using testing::Items;
using testing::loadText;
using testing::PhoneFileTest;
using testing::savedText;

TEST_F(PhoneFileTest, LoadsEqualNamesInTheOrderOfOneByOneInsertion) {
  EXPECT_EQ(loadText("Ahn 1\r\nLee 2\r\nLee 3\r\nLee 4\r\n"), LoadResult::kLoaded);
  EXPECT_EQ(contents(), (Items{"Ahn:1", "Lee:4", "Lee:3", "Lee:2"}));
  clearList();
  loadText("Lee 2\r\nLee 3\r\nLee 4\r\n");
  EXPECT_EQ(contents(), (Items{"Lee:2", "Lee:4", "Lee:3"}));
  clearList();
  // The first Lee is first until Ahn arrives; Lees read later go before it.
  loadText("Lee 0 Lee 1 Ahn 2 Lee 3 Lee 4");
  EXPECT_EQ(contents(), (Items{"Ahn:2", "Lee:4", "Lee:3", "Lee:0", "Lee:1"}));
}

TEST_F(PhoneFileTest, LoadsCp949NamesInByteOrder) {
  loadText(cp949("홍길동 010-123-456\r\n김철수 02-987-654\r\n"));
  EXPECT_EQ(contents(), (Items{cp949("김철수:02-987-654"), cp949("홍길동:010-123-456")}));
}

TEST_F(PhoneFileTest, AnyWhiteSpaceSeparatesTokens) {
  const Items expected{"Ahn:1", "Lee:2"};
  for (const std::string& text : {"Ahn 1 Lee 2"s, "Ahn\n1\n\n\nLee\t2\n"s,
                                  "  Ahn  1\r\n\r\n\v\fLee 2"s, "Ahn 1\r\nLee 2\r\n"s}) {
    loadText(text);
    EXPECT_EQ(contents(), expected) << text;
    clearList();
  }
}

TEST_F(PhoneFileTest, OddTokensLongTokensAndZeroBytes) {
  EXPECT_EQ(loadText(""), LoadResult::kLoaded);  // an empty book is read whole
  EXPECT_EQ(loadText("Ahn 1 Lonely"), LoadResult::kLoaded);
  EXPECT_EQ(contents(), (Items{"Ahn:1"}));
  clearList();

  // A file whose reading fails after its first piece ends where the reading
  // did, as at its end: the number cut there is whole. In ASCII, CP949 and
  // UTF-8 alike.
  for (const auto& [first, expected] :
       {std::pair{"Ahn"s, Items{"Ahn:1", "Lee:2"}},
        std::pair{cp949("홍길동"), Items{"Lee:2", cp949("홍길동:1")}},
        std::pair{"홍길동"s, Items{"Lee:2", cp949("홍길동:1")}}}) {
    SCOPED_TRACE(first);
    const std::string start = first + " 1";
    testing::MemoryFile failing(start + std::string(kIoChunk - start.size() - 5, ' ') +
                                "Lee 23\r\n");
    failing.readable = kIoChunk;
    EXPECT_EQ(readPhoneList(failing), LoadResult::kReadFailed);
    EXPECT_EQ(contents(), expected);
    clearList();
  }

  // Longer than the fields: cut to 29 and 49 bytes, never inside a character.
  std::string longName = "a"s + cp949("가나다라마바사아자차카타파하가");  // 31 bytes
  loadText(longName + " " + std::string(80, '7') + "\nNext 1\n");
  EXPECT_EQ(contents(), (Items{"Next:1", "a"s + cp949("가나다라마바사아자차카타파하") + ":" +
                                             std::string(49, '7')}));
  clearList();

  // A zero byte, which no entry can hold, is kept as "?", and the records
  // after it keep their pairing.
  loadText("ab\0cd 1 \0x 2 Lee 3"s);
  EXPECT_EQ(contents(), (Items{"?x:2", "Lee:3", "ab?cd:1"}));
  clearList();

  // Other control bytes belong to their token, wherever they stand in it.
  loadText("\001bcdefgh\037ij 0\177\010\016 Lee 2");
  EXPECT_EQ(contents(), (Items{"\001bcdefgh\037ij:0\177\010\016", "Lee:2"}));
}

TEST_F(PhoneFileTest, WritesOneRecordPerLineWithCrLf) {
  EXPECT_EQ(savedText(), "");
  loadText(cp949("홍길동 010 Ahn 1"));
  EXPECT_EQ(savedText(), "Ahn 1\r\n" + cp949("홍길동 010\r\n"));
}

// The fast load must give exactly the list that inserting every record with
// insertSorted gives, ties and all.
TEST_F(PhoneFileTest, FastLoadEqualsOneByOneInsertionOnRandomFiles) {
  std::mt19937 random(20261209);
  // Among them: keys equal in their first eight bytes, names of exactly
  // eight and nine bytes, and names that share long prefixes.
  const std::vector<std::string> names = {"A",
                                          "B",
                                          "Ba",
                                          "C",
                                          "Lee",
                                          "Leee",
                                          "Park",
                                          "a",
                                          "abcdefgh",
                                          "abcdefghi",
                                          "abcdefgi",
                                          "abcdefghijklmnopqrstuvwxyz012",
                                          "abcdefghijklmnopqrstuvwxyz01",
                                          "abcdefghijklmnopqrstuvwxyz013",
                                          "abcdefgh\x80",
                                          cp949("김"),
                                          cp949("김철수"),
                                          cp949("홍길동"),
                                          cp949("홍길동홍길동홍길동홍길동"),
                                          cp949("홍길동홍길동홍길순홍길동"),
                                          "\x7F",
                                          "\x80\x80"};
  for (int round = 0; round < 300; ++round) {
    std::size_t records = std::uniform_int_distribution<std::size_t>(0, 60)(random);
    std::size_t distinct = std::uniform_int_distribution<std::size_t>(1, names.size())(random);
    std::string file;
    Items expected;
    for (std::size_t i = 0; i < records; ++i) {
      std::string name = names[random() % distinct];
      std::string phone = std::to_string(i);
      file += name + (random() % 2 ? " " : "\r\n ") + phone + "\n";
      insertSorted(newEntry(name.c_str(), phone.c_str()));
    }
    expected = contents();
    clearList();
    loadText(file);
    ASSERT_EQ(contents(), expected) << "round " << round << ":\n" << file;
    clearList();
  }

  // A load large enough to be sorted in parts, against the rule of
  // insertion kept name by name (inserting one by one would take minutes):
  // a record goes in front of its name's entries, or right after the
  // first entry of the list when that has its name.
  std::map<std::string, std::deque<std::string>> byName;
  std::string file;
  for (std::size_t i = 0; i < 100000; ++i) {
    std::string name = names[random() % names.size()];
    if (random() % 2) name = (name + std::to_string(random() % 4000)).substr(0, kNameSize - 1);
    std::string phone = std::to_string(i);
    file += name + " " + phone + "\n";
    std::deque<std::string>& entries = byName[name];
    bool first = byName.begin()->first == name && !entries.empty();
    entries.insert(entries.begin() + (first ? 1 : 0), name + ":" + phone);
  }
  Items expected;
  for (const auto& [name, entries] : byName)
    expected.insert(expected.end(), entries.begin(), entries.end());
  loadText(file);
  EXPECT_EQ(contents(), expected);
}

// A large load makes its entries in one block; deleting and adding after it
// releases and reuses them one by one, and the list stays whole.
TEST_F(PhoneFileTest, EntriesOfALoadAreReleasedAndReusedOneByOne) {
  auto nameOf = [](unsigned number) { return std::string("N").append(std::to_string(number)); };
  auto item = [](std::string name, const std::string& phone) {
    return name.append(":").append(phone);
  };
  std::string file;
  std::multiset<std::string> expected;
  for (unsigned i = 0; i < 3000; ++i) {
    file.append(nameOf(i % 1000)).append(" ").append(std::to_string(i)).append("\n");
    expected.insert(item(nameOf(i % 1000), std::to_string(i)));
  }
  ASSERT_EQ(loadText(file), LoadResult::kLoaded);
  std::mt19937 random(8);
  for (unsigned step = 0; step < 5000; ++step) {
    std::string name = nameOf(random() % 1100);
    if (random() % 2 == 0) {
      PhoneEntry* found = findByName(name.c_str());
      if (found != nullptr) expected.erase(expected.find(item(name, found->phone)));
      EXPECT_EQ(removeByName(name.c_str()), found != nullptr ? 1 : 0);
    } else {
      std::string phone = std::to_string(step);
      insertSorted(newEntry(name.c_str(), phone.c_str()));
      expected.insert(item(name, phone));
    }
  }
  Items now = contents();
  EXPECT_TRUE(
      std::is_sorted(now.begin(), now.end(), [](const std::string& a, const std::string& b) {
        return a.substr(0, a.find(':')) < b.substr(0, b.find(':'));
      }));
  EXPECT_EQ(std::multiset<std::string>(now.begin(), now.end()), expected);
  while (head != nullptr) removeByName(head->name);  // the block goes back with its last entry
  ASSERT_EQ(loadText(file), LoadResult::kLoaded);
  EXPECT_EQ(contents().size(), 3000u);
}

TEST_F(PhoneFileTest, SaveAndLoadGiveBackTheSameEntries) {
  loadText("Lee 1 Ahn 2 Lee 3 Park 4 Lee 5 Ahn 6");
  const Items before = contents();
  auto roundTrip = [] {
    std::string saved = savedText();
    clearList();
    loadText(saved);
  };
  // Loading reverses each run of equal names (the first entry aside), so
  // one round trip keeps the entries and their name order ...
  roundTrip();
  Items once = contents();
  EXPECT_NE(once, before);
  EXPECT_TRUE(std::is_permutation(once.begin(), once.end(), before.begin(), before.end()));
  // ... and a second one restores the very same list.
  roundTrip();
  EXPECT_EQ(contents(), before);
}

}  // namespace
}  // namespace phonebook
