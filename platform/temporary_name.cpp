#include "platform/temporary_name.h"

#include <chrono>
#include <random>

namespace phonebook {
namespace {

constexpr std::string_view kTemporaryPrefix = ".phonebook-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kRandomLength = 12;

// Which of the three kinds of letter a random one is, as a bit: upper
// case, lower case, digit; 0 for any other character.
constexpr unsigned kindOf(char c) {
  if (c >= 'A' && c <= 'Z') return 1;
  if (c >= 'a' && c <= 'z') return 2;
  if (c >= '0' && c <= '9') return 4;
  return 0;
}

constexpr unsigned kAllKinds = 7;

}  // namespace

std::string temporaryFileName() {
  static std::minstd_rand random(static_cast<std::uint_fast32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device()()));
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string letters;
  unsigned kinds = 0;
  // About one draw in eight lacks a kind (most often a digit), and is drawn
  // again.
  while (kinds != kAllKinds) {
    letters.clear();
    kinds = 0;
    for (std::size_t i = 0; i < kRandomLength; ++i) {
      letters.push_back(kLetters[random() % (sizeof kLetters - 1)]);
      kinds |= kindOf(letters.back());
    }
  }
  return std::string(kTemporaryPrefix) + letters + std::string(kTemporarySuffix);
}

bool isTemporaryFileName(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kRandomLength + kTemporarySuffix.size() ||
      !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
    return false;
  }
  unsigned kinds = 0;
  for (char c : name.substr(kTemporaryPrefix.size(), kRandomLength)) {
    if (kindOf(c) == 0) return false;
    kinds |= kindOf(c);
  }
  return kinds == kAllKinds;
}

}  // namespace phonebook
