// What the tests of the phone list file share: the list as "name:phone"
// items, a load of a text held in memory, and an empty list after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "store/phone_file.h"

namespace phonebook::testing {

using Items = std::vector<std::string>;

// The list, in order, as "name:phone".
Items contents();

// Loads `content` as the phone list file.
LoadResult loadText(const std::string& content);

// The lines of the file of the entries marked as having lost a character.
std::vector<std::size_t> lostLines();

// The list as the save writes it.
std::string savedText();

// Leaves the list empty after each test.
class PhoneFileTest : public ::testing::Test {
 protected:
  void TearDown() override;
};

}  // namespace phonebook::testing
