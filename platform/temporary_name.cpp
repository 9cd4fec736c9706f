#include "platform/temporary_name.h"

#include <chrono>
#include <random>

namespace phonebook {
namespace {

constexpr std::string_view kTemporaryPrefix = ".phonebook-";
constexpr std::size_t kRandomLength = 8;

constexpr bool isRandomLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string temporaryFileName() {
  static std::minstd_rand random(static_cast<std::uint_fast32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device()()));
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(kTemporaryPrefix);
  for (std::size_t i = 0; i < kRandomLength; ++i) {
    name.push_back(kLetters[random() % (sizeof kLetters - 1)]);
  }
  return name;
}

bool isTemporaryFileName(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kRandomLength) return false;
  if (!name.starts_with(kTemporaryPrefix)) return false;
  for (char c : name.substr(kTemporaryPrefix.size())) {
    if (!isRandomLetter(c)) return false;
  }
  return true;
}

}  // namespace phonebook
