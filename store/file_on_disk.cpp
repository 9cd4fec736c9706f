#include "store/file_on_disk.h"

#include <chrono>
#include <random>

namespace phonebook {

std::string temporaryFileName() {
  static std::minstd_rand random(static_cast<std::uint_fast32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device()()));
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = ".phonebook-";
  for (int i = 0; i < 8; ++i) name.push_back(kLetters[random() % (sizeof kLetters - 1)]);
  return name;
}

}  // namespace phonebook
