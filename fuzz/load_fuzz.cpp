// Any bytes as the phone list file. The loaded list must be in name order,
// hold only texts that fit their fields and that the file can carry, equal
// exactly what inserting the records one by one gives, and come back the
// same through a save and a load. The load's memory must follow the records,
// not the size of the file: the file is padded with white space far larger
// than anything the records could need.
//
// Bytes that are UTF-8, UTF-16 or UTF-32 by their mark or their content
// stand for their conversion to CP949, made by iconv in one piece (the
// model of the rules: fuzz/file_encoding_model.h). The same input is also
// fed as UTF-8, the way an editor would have saved its CP949, and must load
// to the very same list. No zero byte ever reaches an entry: each is a "?"
// whose entry is marked, as is each lost character.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/file_encoding_model.h"
#include "platform/text_codec.h"
#include "store/file_reading.h"
#include "store/phone_file.h"
#include "store/record_reader.h"
#include "tests/memory_file.h"
#include "text/byte_rules.h"
#include "text/encodings.h"

namespace {

using fuzz_model::AsCp949;
using fuzz_model::asCp949;
using fuzz_model::converted;
using fuzz_model::sampleOf;
using fuzz_model::utf16ByRule;
using phonebook::PhoneEntry;

void require(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> listed() {
  std::vector<std::string> items;
  for (const PhoneEntry* entry = phonebook::head; entry != nullptr; entry = entry->next) {
    items.push_back(std::string(entry->name) + '\n' + entry->phone);
  }
  return items;
}

// White space after the records: 256 KiB, so that a loader that reserved
// by the size of the file would exceed the bound below for every input up
// to the fuzzer's default length of 4 KiB. (After a UTF-16 mark the spaces
// pair into one endless token, which must cost nothing either.)
constexpr size_t kPadding = 256 << 10;

std::string padded(std::string_view bytes) {
  return std::string(bytes).append(kPadding, ' ');
}

// The heap in use while the load runs, and the most of it, counted by the
// sanitizer's allocator hooks.
bool counting = false;
long long inUse = 0;
long long mostInUse = 0;

void countMalloc(const volatile void*, size_t size) {
  if (!counting) return;
  inUse += static_cast<long long>(size);
  mostInUse = std::max(mostInUse, inUse);
}

void countFree(const volatile void* block) {
  if (counting) inUse -= static_cast<long long>(__sanitizer_get_allocated_size(block));
}

// A record takes at least four bytes of the file ("a 1 "); its entry (88
// bytes), its sort record (16) and its share of the packed texts and of the
// list of new first names, grown by doubling, take less than 192 bytes.
long long memoryBound(size_t size) {
  return 16 * 1024 + 48 * static_cast<long long>(size);
}

phonebook::LoadResult load(phonebook::File& file) {
  file.rewind();
  return phonebook::readPhoneList(file);
}

// True when `bytes` holds a byte that, in valid UTF-8, starts a character
// of three bytes or more.
bool hasWideLead(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0xE0; });
}

// The list that one-by-one insertion makes of the same bytes: tokens split
// at white space, taken in pairs, each cut to its field and its zero bytes
// made "?"; `lost` counts the records that held one.
std::vector<std::string> insertedOneByOne(std::string_view bytes, std::size_t& lost) {
  std::vector<std::string> tokens;
  std::string token;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i <= bytes.size(); ++i) {
    if (i < bytes.size() && !phonebook::isWhiteSpace(data[i])) {
      token.push_back(static_cast<char>(data[i]));
    } else if (!token.empty()) {
      tokens.push_back(token);
      token.clear();
    }
  }
  lost = 0;
  for (size_t i = 0; i + 1 < tokens.size(); i += 2) {
    std::string name = tokens[i].substr(0, phonebook::cp949FitLength(tokens[i], 29));
    std::string phone = tokens[i + 1].substr(0, phonebook::cp949FitLength(tokens[i + 1], 49));
    if ((name + phone).find('\0') != std::string::npos) ++lost;
    std::replace(name.begin(), name.end(), '\0', '?');
    std::replace(phone.begin(), phone.end(), '\0', '?');
    phonebook::insertSorted(phonebook::newEntry(name.c_str(), phone.c_str()));
  }
  std::vector<std::string> items = listed();
  phonebook::clearList();
  return items;
}

// Loads `file` (padded) and checks the memory it took. A file that is
// converted may take, besides, what one conversion takes: the converted
// piece and iconv's own buffers, about 40 KiB, whatever the size of the file,
// and where iconv refuses a character, the second converter that looks for
// one of the user-defined area (its buffer for a step between the two
// encodings is about 32 KiB). So may one past ASCII that is read as UTF-8 on
// a guess and proves CP949.
phonebook::LoadResult loadCounted(std::string_view file, bool converting) {
  phonebook::testing::MemoryFile held(padded(file));
  inUse = mostInUse = 0;
  counting = true;
  phonebook::LoadResult result = load(held);
  counting = false;
  require(mostInUse <= memoryBound(file.size()) + (converting ? 96 << 10 : 0));
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(countMalloc, countFree);
  // iconv loads its converters once, into memory it keeps; not the load's.
  // An emoji, which CP949 lacks, makes the conversion look for a character
  // of the user-defined area too, through a converter of its own.
  std::string ignored;
  using phonebook::FileEncoding;
  const std::pair<FileEncoding, std::string_view> emojis[] = {
      {FileEncoding::kUtf8, std::string_view("\xF0\x9F\x98\x80", 4)},
      {FileEncoding::kUtf16Le, std::string_view("\x3D\xD8\x00\xDE", 4)},
      {FileEncoding::kUtf16Be, std::string_view("\xD8\x3D\xDE\x00", 4)},
      {FileEncoding::kUtf32Le, std::string_view("\x00\xF6\x01\x00", 4)},
      {FileEncoding::kUtf32Be, std::string_view("\x00\x01\xF6\x00", 4)},
  };
  for (const auto& [from, emoji] : emojis) phonebook::convertToCp949(emoji, from, ignored);
  // And the table for UTF-8, made once.
  phonebook::cp949Table();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // A few hundred bytes of the padding stand for all of it: after a UTF-16
  // mark it only makes the last token longer than any field.
  const AsCp949 expected =
      asCp949(std::string(input).append(512, ' '), utf16ByRule(sampleOf(input)));
  const bool pastAscii = std::any_of(input.begin(), input.end(),
                                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  require(loadCounted(input, !expected.asItStands || pastAscii) == phonebook::LoadResult::kLoaded);
  // Each marked entry shows a "?" where it lost a character.
  for (const phonebook::LostEntry& lost : phonebook::lostEntries()) {
    require(lost.texts != 0);
    require(!(lost.texts & phonebook::kNameLost) || std::strchr(lost.entry->name, '?'));
    require(!(lost.texts & phonebook::kPhoneLost) || std::strchr(lost.entry->phone, '?'));
  }
  const std::size_t marked = phonebook::lostEntries().size();

  const PhoneEntry* previous = nullptr;
  for (const PhoneEntry* entry = phonebook::head; entry != nullptr; entry = entry->next) {
    require(std::strlen(entry->name) < phonebook::kNameSize);
    require(std::strlen(entry->phone) < phonebook::kPhoneSize);
    require(phonebook::isStorableText(entry->name) && phonebook::isStorableText(entry->phone));
    require(previous == nullptr || phonebook::compareNames(previous->name, entry->name) <= 0);
    previous = entry;
  }
  const std::vector<std::string> loaded = listed();

  // Saving and loading reverses runs of equal names, so twice gives back
  // the very same list. A saved file that is by chance UTF-8 as well (a
  // Hanja followed by certain Hangul, and hardly anything else beyond ASCII)
  // is read as UTF-8, as any such file is: there the round trip is not asked.
  bool readAsSaved = true;
  for (int round = 0; round < 2 && readAsSaved; ++round) {
    phonebook::testing::MemoryFile saved;
    require(phonebook::writePhoneList(saved));
    const std::string& bytes = saved.content();
    readAsSaved = asCp949(bytes, utf16ByRule(sampleOf(bytes))).asItStands;
    phonebook::clearList();
    if (readAsSaved) require(load(saved) == phonebook::LoadResult::kLoaded);
  }
  if (readAsSaved) require(listed() == loaded);
  phonebook::clearList();

  if (expected.whole) {
    std::size_t lost = 0;
    require(insertedOneByOne(expected.text, lost) == loaded);
    require(lost == marked);
  }

  // The same phone book as an editor would save it in UTF-8, where every
  // character converts there and back; marked where nothing else would
  // tell it from CP949, and at times where something would.
  std::string utf8, back;
  if (expected.asItStands && converted(input, "CP949", "UTF-8", utf8) &&
      converted(utf8, "UTF-8", "CP949", back) && back == input &&
      utf16ByRule(sampleOf(utf8)) == phonebook::FileEncoding::kCp949) {
    if (!hasWideLead(utf8) || size % 2 == 1) utf8.insert(0, "\xEF\xBB\xBF");
    require(loadCounted(utf8, true) == phonebook::LoadResult::kLoaded);
    require(listed() == loaded);
    require(phonebook::lostEntries().size() == marked);
    phonebook::clearList();
  }
  return 0;
}
