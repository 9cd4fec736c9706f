#include "store/loader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/memory.h"
#include "store/entry_storage.h"

namespace phonebook {
namespace {

// One record of the file: the first eight bytes of its name as a number,
// and the name's length, so that most comparisons need not look further,
// and where the name starts in the packed texts (which is also its place in
// file order).
struct Record {
  std::uint64_t key;
  std::uint64_t offset : 56;
  std::uint64_t length : 8;
};

using Records = std::vector<Record, PopulatedAllocator<Record>>;

// The packed copy has room for a whole field after its last text, so eight
// bytes can be read from any name.
std::uint64_t nameKey(PackedText name) {
  std::uint64_t key;
  std::memcpy(&key, name.bytes, 8);
  if constexpr (std::endian::native == std::endian::little) key = __builtin_bswap64(key);
  // Names are never empty: the shift is less than 64.
  return name.length >= 8 ? key : key & ~std::uint64_t{0} << 8 * (8 - name.length);
}

int compareTexts(PackedText a, PackedText b) {
  int order = std::memcmp(a.bytes, b.bytes, std::min(a.length, b.length));
  if (order != 0) return order;
  return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
}

// Names hold no zero byte, so under equal keys a name that ends within the
// key is the start of the other: the shorter sorts first. Only two names
// that both go on past the key are compared further.
int compareRecordNames(const char* texts, const Record& a, const Record& b) {
  if (a.key != b.key) return a.key < b.key ? -1 : 1;
  if (a.length <= 8 || b.length <= 8) return a.length < b.length ? -1 : a.length > b.length;
  PackedText nameA = textAt(texts + a.offset);
  PackedText nameB = textAt(texts + b.offset);
  return compareTexts({nameA.bytes + 8, nameA.length - 8}, {nameB.bytes + 8, nameB.length - 8});
}

// Sorts `records` by key, keeping records of equal keys in file order: a
// counting sort on each byte of the key, the lowest first, each pass
// stable. Eight passes at most over 16-byte records cost less than half of
// what comparing them costs. A byte that every key shares needs no pass:
// the zero tail of short names, or a byte where all names go on alike.
void sortByKey(Records& records) {
  constexpr int kKeyBytes = 8;
  const std::size_t count = records.size();
  if (count == 0) return;
  std::array<std::array<std::size_t, 256>, kKeyBytes> counts{};
  for (const Record& record : records) {
    for (int byte = 0; byte < kKeyBytes; ++byte) ++counts[byte][(record.key >> (8 * byte)) & 0xFF];
  }
  Records scratch(count);
  for (int byte = 0; byte < kKeyBytes; ++byte) {
    std::array<std::size_t, 256>& places = counts[byte];
    if (places[(records.front().key >> (8 * byte)) & 0xFF] == count) continue;
    std::size_t place = 0;
    for (std::size_t& here : places) place += std::exchange(here, place);
    for (const Record& record : records) {
      scratch[places[(record.key >> (8 * byte)) & 0xFF]++] = record;
    }
    records.swap(scratch);
  }
}

Records sortedRecords(const RecordReader& reader) {
  Records records;
  records.reserve(reader.count());
  const PopulatedBytes& texts = reader.texts();
  // The records that became the first entry when inserted: each sorts
  // before every record read until then.
  std::vector<std::size_t> newFirsts;
  PackedText smallest{nullptr, 0};
  std::uint64_t smallestKey = 0;
  for (std::size_t at = 0; at < texts.size();) {
    PackedText name = textAt(texts.data() + at);
    records.push_back({nameKey(name), at, name.length});
    if (smallest.bytes == nullptr ||
        (records.back().key <= smallestKey && compareTexts(name, smallest) < 0)) {
      smallestKey = records.back().key;
      newFirsts.push_back(at);
      smallest = name;
    }
    at += 1 + name.length;
    at += 1 + static_cast<unsigned char>(texts[at]);
  }

  sortByKey(records);
  // Equal keys of names that go on past the key: in order by the rest of
  // the name, and equal names in file order.
  for (auto run = records.begin(); run != records.end();) {
    auto end =
        std::find_if(run + 1, records.end(), [&](const Record& r) { return r.key != run->key; });
    if (end - run > 1 && (run->key & 0xFF) != 0) {
      std::sort(run, end, [&](const Record& a, const Record& b) {
        int order = compareRecordNames(texts.data(), a, b);
        return order != 0 ? order < 0 : a.offset < b.offset;
      });
    }
    run = end;
  }

  auto group = records.begin();
  while (group != records.end()) {
    auto end = std::find_if(group + 1, records.end(), [&](const Record& r) {
      return compareRecordNames(texts.data(), *group, r) != 0;
    });
    std::size_t first = group->offset;
    bool becameFirst = std::binary_search(newFirsts.begin(), newFirsts.end(), first);
    // In file order the group is [first][while first][after first lost].
    auto lostFirst = end;
    if (becameFirst) {
      auto next = std::upper_bound(newFirsts.begin(), newFirsts.end(), first);
      if (next != newFirsts.end()) {
        lostFirst = std::find_if(group, end, [&](const Record& r) { return r.offset > *next; });
      }
    }
    // Reversed: [after, reversed][while, reversed][first] ...
    std::reverse(group, end);
    if (becameFirst) {
      // ... and the first moves in front of those read while it was first.
      std::rotate(group + (end - lostFirst), end - 1, end);
    }
    group = end;
  }
  return records;
}

}  // namespace

bool linkRecords(const RecordReader& reader) {
  Records records = sortedRecords(reader);
  const PopulatedBytes& texts = reader.texts();
  const std::vector<LostRecord>& lost = reader.lost();
  if (!reserveEntries(records.size())) return false;
  // The marks of the lost records, in file order.
  std::vector<LostEntry> marks(lost.size());
  PhoneEntry** tail = &head;
  for (std::size_t i = 0; i < records.size(); ++i) {
    // The next texts lie anywhere in the packed copy: ask for them early.
    if (i + 8 < records.size()) {
      __builtin_prefetch(texts.data() + records[i + 8].offset);
      __builtin_prefetch(texts.data() + records[i + 8].offset + kNameSize + kPhoneSize);
    }
    PackedText name = textAt(texts.data() + records[i].offset);
    PackedText phone = textAt(reinterpret_cast<const char*>(name.bytes + name.length));
    PhoneEntry* entry = allocateEntry();
    if (entry == nullptr) {
      *tail = nullptr;
      clearList();
      return false;
    }
    // The texts were cut to their fields when packed, and the packed copy
    // has room after its last text: whole fields are copied at a fixed size,
    // which is quicker than copying each text by its length, and then ended.
    std::memcpy(entry->name, name.bytes, kNameSize);
    entry->name[name.length] = '\0';
    std::memcpy(entry->phone, phone.bytes, kPhoneSize);
    entry->phone[phone.length] = '\0';
    *tail = entry;
    tail = &entry->next;
    if (!lost.empty()) {
      auto mark = std::lower_bound(
          lost.begin(), lost.end(), records[i].offset,
          [](const LostRecord& record, std::size_t offset) { return record.offset < offset; });
      if (mark != lost.end() && mark->offset == records[i].offset) {
        marks[static_cast<std::size_t>(mark - lost.begin())] = {entry, mark->line, mark->texts};
      }
    }
  }
  *tail = nullptr;
  if (!marks.empty()) markLost(std::move(marks));
  return true;
}

}  // namespace phonebook
