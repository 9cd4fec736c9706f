#include "store/phone_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "store/bulk_memory.h"
#include "store/file_encoding.h"
#include "store/file_on_disk.h"
#include "store/text.h"

namespace phonebook {
namespace {

// Reads and writes go in pieces of this size, through a buffer on the stack.
constexpr std::size_t kIoChunk = 64 * 1024;

// The bytes of a token worth keeping: one more than the larger field holds,
// so that the cut to a field sees the character that straddles its end.
constexpr std::size_t kTokenKeep = kPhoneSize;

// ---------------------------------------------------------------------------
// Loading.
//
// Inserting every record with insertSorted walks the list each time, which
// is quadratic. The loader instead collects the records, sorts them by name
// and links them once, reproducing exactly the order that one-by-one
// insertion gives. Only the order among equal names needs thought:
//
//  - A new record goes in front of the entries of its name, unless the first
//    entry of the list has its name, in which case it goes directly after
//    that first entry.
//  - Only the first record of a name can ever become the first entry, and
//    only when it sorts before every record read until then. It stays first
//    until a record with a smaller name arrives.
//
// So a name's records, in file order, come out reversed, except when the
// first of them became the first entry of the list: then those read while
// it stayed first follow it (reversed), and those read after it lost its
// place precede it (reversed).

// The loader reads the file into a packed copy of its texts, sorts small
// records that point into it, and only then makes the entries, one after
// another in list order: walking the list then walks memory forward, which
// listing and saving a large phone book do many times faster than hopping.

// isWhiteSpace as a table: the token scan asks it of every byte of the file.
constexpr auto kWhiteSpace = [] {
  std::array<bool, 256> table{};
  for (int byte = 0; byte < 256; ++byte)
    table[byte] = isWhiteSpace(static_cast<unsigned char>(byte));
  return table;
}();

bool isSeparator(char byte) {
  return kWhiteSpace[static_cast<unsigned char>(byte)];
}

// A text in the packed copy: a length byte, then the bytes.
struct PackedText {
  const unsigned char* bytes;
  std::size_t length;
};

PackedText textAt(const char* at) {
  return {reinterpret_cast<const unsigned char*>(at) + 1, static_cast<unsigned char>(*at)};
}

// One record of the file: where its name starts in the packed texts (which
// is also its place in file order), and the first eight bytes of the name
// as a number, so that most comparisons need not look further.
struct Record {
  std::uint64_t key;
  std::size_t offset;
};

using Records = std::vector<Record, PopulatedAllocator<Record>>;

std::uint64_t nameKey(PackedText name) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < 8; ++i) key = key << 8 | (i < name.length ? name.bytes[i] : 0);
  return key;
}

int compareTexts(PackedText a, PackedText b) {
  int order = std::memcmp(a.bytes, b.bytes, std::min(a.length, b.length));
  if (order != 0) return order;
  return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
}

class Loader {
 public:
  // Tells how many bytes the input can still bring at most (the rest of the
  // file), so that the packed texts need not grow past what it can add.
  void expect(std::size_t size) { fileLeft_ = size; }

  // Forgets every record, to take the file again from its start. The room
  // already made is kept.
  void restart() {
    texts_.truncate(0);
    tokenLength_ = 0;
    haveName_ = false;
    records_ = 0;
    line_ = 1;
    lost_.clear();
  }

  // Takes the next `size` bytes of the file. A token that lies within them
  // is taken where it lies; only one that runs on from one piece into the
  // next is gathered in token_.
  void feed(const char* data, std::size_t size) {
    const char* end = data + size;
    const char* at = data;
    while (at < end) {
      const char* start = at;
      while (at < end && !isSeparator(*at)) ++at;
      std::size_t length = static_cast<std::size_t>(at - start);
      if (tokenLength_ > 0 || at == end) {
        gather(start, length);
        if (at == end) break;
        endGathered();
      } else if (length > 0) {
        endToken({start, std::min(length, kTokenKeep)});
      }
      for (; at < end && isSeparator(*at); ++at) line_ += *at == '\n';
    }
    fileLeft_ -= std::min(fileLeft_, size);
  }

  // Ends the input: a token that the file ends with is complete, and a name
  // left without a number is dropped.
  void finish() {
    if (tokenLength_ > 0) endGathered();
    if (haveName_) texts_.truncate(recordStart_);
    haveName_ = false;
  }

  // Makes the entries and links them into the (empty) phone book in the
  // order that inserting them one by one would give, and marks those that
  // lost a character (markLost). Returns false, with the phone book left
  // empty, when storage ran out.
  bool link();

 private:
  // Adds `size` bytes to the token gathered in token_, keeping what fits.
  void gather(const char* bytes, std::size_t size) {
    if (tokenLength_ < kTokenKeep) {
      std::memcpy(token_ + tokenLength_, bytes, std::min(size, kTokenKeep - tokenLength_));
    }
    tokenLength_ += size;
  }
  void endGathered() {
    endToken({token_, std::min(tokenLength_, kTokenKeep)});
    tokenLength_ = 0;
  }
  // Takes a whole token, of which at most kTokenKeep bytes are kept.
  void endToken(std::string_view token);
  void makeRoom(std::size_t needed);
  int compareRecordNames(const Record& a, const Record& b) const;
  Records sortedRecords() const;

  // A record whose texts hold a "?" for a lost character: where it starts
  // in the packed texts, its line in the file, and which texts.
  struct LostRecord {
    std::size_t offset;
    std::size_t line;
    unsigned texts;
  };

  char token_[kTokenKeep];
  std::size_t tokenLength_ = 0;
  bool haveName_ = false;
  std::size_t recordStart_ = 0;
  std::size_t recordLine_ = 0;
  unsigned recordLost_ = 0;  // LostTexts of the record being read
  std::size_t line_ = 1;     // the line of the file that the input has reached
  std::vector<LostRecord> lost_;
  std::size_t records_ = 0;
  std::size_t fileLeft_ = 0;  // bytes of the file not yet fed, where known

  // name, number, name, number, ...: each a length byte and the bytes.
  PopulatedBytes texts_;
};

void Loader::endToken(std::string_view token) {
  std::size_t field = haveName_ ? kPhoneSize : kNameSize;
  token = token.substr(0, cp949FitLength(token, field - 1));
  // A character that was lost (or a zero byte, which no entry can hold) is
  // kept as "?", and its record marked.
  char kept[kTokenKeep];
  bool lostOne = std::memchr(token.data(), kLostCharacter, token.size()) != nullptr;
  if (lostOne) {
    std::replace_copy(token.begin(), token.end(), kept, kLostCharacter, '?');
    token = {kept, token.size()};
  }
  if (!haveName_) {
    recordStart_ = texts_.size();
    recordLine_ = line_;
    recordLost_ = 0;
  }
  if (lostOne) recordLost_ |= haveName_ ? kPhoneLost : kNameLost;
  // Room for a whole field after the last text, which link() copies.
  makeRoom(texts_.size() + 1 + token.size() + kPhoneSize);
  texts_.append(static_cast<char>(token.size()));
  texts_.append(token);
  if (!haveName_) {
    haveName_ = true;
    return;
  }
  haveName_ = false;
  ++records_;
  if (recordLost_ != 0) lost_.push_back({recordStart_, recordLine_, recordLost_});
}

// The room for the packed texts grows with the records, never with the
// size of the file: a file of white space, or of one endless token, costs
// nothing. The room doubles, but never past what the rest of the file could
// still add (a token packs into no more bytes than it takes in the file with
// its separator), so a file of records ends up packed into about its own
// size, as if that had been reserved at once.
void Loader::makeRoom(std::size_t needed) {
  constexpr std::size_t kFirstRoom = 4096;
  if (needed <= texts_.room()) return;
  std::size_t room = std::max(2 * texts_.room(), kFirstRoom);
  // Plus one for a last token without a separator.
  if (fileLeft_ > 0) room = std::min(room, needed + fileLeft_ + 1);
  texts_.reserve(std::max(room, needed));
}

// Names hold no zero byte, so equal keys whose last byte is zero mean the
// names ended within the key and are equal; otherwise both go on past it.
int Loader::compareRecordNames(const Record& a, const Record& b) const {
  if (a.key != b.key) return a.key < b.key ? -1 : 1;
  if ((a.key & 0xFF) == 0) return 0;
  PackedText nameA = textAt(texts_.data() + a.offset);
  PackedText nameB = textAt(texts_.data() + b.offset);
  return compareTexts({nameA.bytes + 8, nameA.length - 8}, {nameB.bytes + 8, nameB.length - 8});
}

// Sorts `records` by key, keeping records of equal keys in the order they
// are in (file order): a counting sort on each byte of the key, the lowest
// first, each pass stable. A byte that every key shares needs no pass: the
// zero tail of short names, or the first byte where all names begin alike.
// Eight passes at most over 16-byte records cost less than half of what
// comparing them costs.
void sortByKey(Records& records) {
  if (records.empty()) return;
  constexpr int kKeyBytes = 8;
  std::array<std::array<std::size_t, 256>, kKeyBytes> counts{};
  for (const Record& record : records) {
    for (int byte = 0; byte < kKeyBytes; ++byte) ++counts[byte][(record.key >> (8 * byte)) & 0xFF];
  }
  Records sorted(records.size());
  for (int byte = 0; byte < kKeyBytes; ++byte) {
    std::array<std::size_t, 256>& places = counts[byte];
    if (places[(records.front().key >> (8 * byte)) & 0xFF] == records.size()) continue;
    std::size_t place = 0;
    for (std::size_t& count : places) {
      std::size_t here = count;
      count = place;
      place += here;
    }
    for (const Record& record : records)
      sorted[places[(record.key >> (8 * byte)) & 0xFF]++] = record;
    records.swap(sorted);
  }
}

Records Loader::sortedRecords() const {
  Records records;
  records.reserve(records_);
  // The records that became the first entry when inserted: each sorts
  // before every record read until then.
  std::vector<std::size_t> newFirsts;
  PackedText smallest{nullptr, 0};
  for (std::size_t at = 0; at < texts_.size();) {
    PackedText name = textAt(texts_.data() + at);
    records.push_back({nameKey(name), at});
    if (smallest.bytes == nullptr || compareTexts(name, smallest) < 0) {
      newFirsts.push_back(at);
      smallest = name;
    }
    at += 1 + name.length;
    at += 1 + static_cast<unsigned char>(texts_[at]);
  }

  sortByKey(records);
  // Equal keys of names that go on past the key: in order by the rest of
  // the name, and equal names in file order.
  for (auto run = records.begin(); run != records.end();) {
    auto end =
        std::find_if(run + 1, records.end(), [&](const Record& r) { return r.key != run->key; });
    if (end - run > 1 && (run->key & 0xFF) != 0) {
      std::sort(run, end, [this](const Record& a, const Record& b) {
        int order = compareRecordNames(a, b);
        return order != 0 ? order < 0 : a.offset < b.offset;
      });
    }
    run = end;
  }

  auto group = records.begin();
  while (group != records.end()) {
    auto end = std::find_if(group + 1, records.end(),
                            [&](const Record& r) { return compareRecordNames(*group, r) != 0; });
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

bool Loader::link() {
  Records records = sortedRecords();
  if (!reserveEntries(records.size())) return false;
  // The marks of the lost records, in file order.
  std::vector<LostEntry> marks(lost_.size());
  PhoneEntry** tail = &head;
  for (std::size_t i = 0; i < records.size(); ++i) {
    // The next texts lie anywhere in the packed copy: ask for them early.
    if (i + 8 < records.size()) __builtin_prefetch(texts_.data() + records[i + 8].offset);
    PackedText name = textAt(texts_.data() + records[i].offset);
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
    if (!lost_.empty()) {
      auto mark = std::lower_bound(
          lost_.begin(), lost_.end(), records[i].offset,
          [](const LostRecord& record, std::size_t offset) { return record.offset < offset; });
      if (mark != lost_.end() && mark->offset == records[i].offset) {
        marks[static_cast<std::size_t>(mark - lost_.begin())] = {entry, mark->line, mark->texts};
      }
    }
  }
  *tail = nullptr;
  if (!marks.empty()) markLost(std::move(marks));
  return true;
}

// ---------------------------------------------------------------------------
// Reading the file, in whatever encoding an editor saved it.
//
// A file with a byte order mark is converted from the encoding the mark
// names, and so is one whose first piece is UTF-16 without a mark (its
// zero bytes give it away). Any other file is first read as CP949, exactly as this program
// writes it, while a detector asks whether it is UTF-8 instead; a CP949
// file with Hangul almost always fails that test at its first syllable,
// and then costs nothing more. Only a file that is UTF-8 after all is read a second time
// from its start, converted, and what the first pass loaded is thrown away.
//
// Converted text is fed to the loader a piece at a time, each piece cut
// where a character ends and the rest carried over to the next, so that
// memory follows the records, as for a CP949 file. A character becomes no
// more bytes in CP949 than it takes in UTF-8, UTF-16 or UTF-32, and a lost
// one takes one byte for at least one, so the bytes left in the file bound
// what can still come.

// What reading a file to its end gave.
enum class ReadResult {
  kWhole,         // every byte was read and, where converted, held whole
  kNotWhole,      // a read failed
  kUtf8Unmarked,  // read as CP949, but the file is UTF-8: read it again
};

// Reads into `buffer` until it holds `size` bytes or the file ends. Returns
// the bytes read, or -1 when a read failed.
ssize_t readFully(int fd, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    ssize_t part = read(fd, buffer + got, size - got);
    if (part == 0) break;
    if (part < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<std::size_t>(part);
  }
  return static_cast<ssize_t>(got);
}

// Feeds the loader the file as it stands: the first `firstSize` bytes of
// it, already read into `chunk`, then the rest, read through `chunk`. Tells
// whether the file was UTF-8.
ReadResult readAsCp949(int fd, std::array<char, kIoChunk>& chunk, std::size_t firstSize,
                       Loader& loader) {
  Utf8Detector detector;
  detector.feed({chunk.data(), firstSize});
  loader.feed(chunk.data(), firstSize);
  for (;;) {
    ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      // A file that fails part way ends where the reading did, as at its end.
      loader.finish();
      return ReadResult::kNotWhole;
    }
    detector.feed({chunk.data(), static_cast<std::size_t>(got)});
    loader.feed(chunk.data(), static_cast<std::size_t>(got));
  }
  loader.finish();
  return detector.isUtf8() ? ReadResult::kUtf8Unmarked : ReadResult::kWhole;
}

// The text of one conversion. Smaller than a read of a CP949 file: its
// converted copy is held on the heap, and a small file should cost little.
constexpr std::size_t kConvertChunk = 4096;

// Feeds the loader the rest of the file converted from `encoding`: first
// `first`, bytes of it already read, then what `fd` still holds, which is
// `fileLeft` bytes where that is known (else 0).
ReadResult readConverted(int fd, FileEncoding encoding, std::string_view first,
                         std::size_t fileLeft, Loader& loader) {
  std::array<char, kConvertChunk> chunk;
  std::string converted;
  converted.reserve(kConvertChunk);
  // Bytes read but not yet converted: a character cut by the last read.
  std::size_t carried = 0;
  for (;;) {
    std::size_t room = chunk.size() - carried;
    std::size_t got = std::min(room, first.size());
    if (got > 0) {
      std::memcpy(chunk.data() + carried, first.data(), got);
      first.remove_prefix(got);
    } else {
      ssize_t part = readFully(fd, chunk.data() + carried, room);
      if (part < 0) {
        loader.finish();
        return ReadResult::kNotWhole;
      }
      got = static_cast<std::size_t>(part);
      fileLeft -= std::min(fileLeft, got);
    }
    std::size_t held = carried + got;
    // At the end of the file a cut character is converted as it is, and lost.
    std::size_t take = got == 0 ? held : wholeCharsLength({chunk.data(), held}, encoding);
    carried = held - take;
    if (take > 0) {
      converted.clear();
      // What did not convert is kLostCharacter in `converted`; the loader
      // marks its entries.
      convertToCp949({chunk.data(), take}, encoding, converted);
      loader.feed(converted.data(), converted.size());
      if (fileLeft + first.size() > 0) loader.expect(fileLeft + first.size() + carried);
    }
    if (got == 0) break;
    std::memmove(chunk.data(), chunk.data() + take, carried);
  }
  loader.finish();
  return ReadResult::kWhole;
}

// ---------------------------------------------------------------------------
// Saving.

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t put = write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

LoadResult readPhoneList(int fd) {
  try {
    Loader loader;
    std::size_t size = 0;  // unknown
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      size = static_cast<std::size_t>(info.st_size);
    }
    loader.expect(size);
    const off_t start = lseek(fd, 0, SEEK_CUR);

    // The first piece of the file tells its encoding: by a byte order mark,
    // or as UTF-16 without one.
    static_assert(kIoChunk == kEncodingSample);
    std::array<char, kIoChunk> sample;
    ssize_t got = readFully(fd, sample.data(), sample.size());
    ReadResult read = ReadResult::kNotWhole;
    if (got < 0) {
      loader.finish();
    } else {
      std::string_view first(sample.data(), static_cast<std::size_t>(got));
      std::size_t left = size - std::min(size, first.size());
      EncodingMark mark = encodingMark(first);
      if (mark.encoding == FileEncoding::kCp949) mark.encoding = unmarkedUtf16(first);
      if (mark.encoding == FileEncoding::kCp949) {
        read = readAsCp949(fd, sample, first.size(), loader);
      } else {
        loader.expect(size - std::min(size, mark.length));
        read = readConverted(fd, mark.encoding, first.substr(mark.length), left, loader);
      }
    }
    if (read == ReadResult::kUtf8Unmarked) {
      // A file that cannot be taken again from its start keeps its CP949
      // reading, which does not hold it as written.
      read = ReadResult::kNotWhole;
      if (start >= 0 && lseek(fd, start, SEEK_SET) == start) {
        loader.restart();
        loader.expect(size);
        read = readConverted(fd, FileEncoding::kUtf8, {}, size, loader);
      }
    }
    if (!loader.link()) return LoadResult::kNoStorage;
    return read == ReadResult::kWhole ? LoadResult::kLoaded : LoadResult::kReadFailed;
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoStorage;
  }
}

LoadResult loadPhoneList(const char* path, FileStamp* stamp) {
  if (stamp != nullptr) *stamp = FileStamp{};
  OpenedFile file = openRegularFile(path);
  if (file.result == OpenResult::kMissing) return LoadResult::kMissing;
  if (file.result == OpenResult::kNotOpened) return LoadResult::kNotOpened;
  const FileStamp before = stampOfOpenFile(file.fd);
  LoadResult result = readPhoneList(file.fd);
  // A file that another program wrote to while it was read may have been
  // read part old, part new.
  if (result == LoadResult::kLoaded && stampOfOpenFile(file.fd) != before) {
    result = LoadResult::kReadFailed;
  }
  closeFile(file.fd);
  if (stamp != nullptr) *stamp = before;
  return result;
}

bool writePhoneList(int fd) {
  std::array<char, kIoChunk> chunk;
  std::size_t used = 0;
  for (const PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
    // name, space, number, CR LF: at most kNameSize + kPhoneSize bytes.
    if (used + kNameSize + kPhoneSize > chunk.size()) {
      if (!writeAll(fd, chunk.data(), used)) return false;
      used = 0;
    }
    std::size_t nameLength = std::strlen(entry->name);
    std::size_t phoneLength = std::strlen(entry->phone);
    char* out = chunk.data() + used;
    std::memcpy(out, entry->name, nameLength);
    out[nameLength] = ' ';
    std::memcpy(out + nameLength + 1, entry->phone, phoneLength);
    std::memcpy(out + nameLength + 1 + phoneLength, "\r\n", 2);
    used += nameLength + phoneLength + 3;
  }
  return writeAll(fd, chunk.data(), used);
}

SaveOutcome savePhoneList(LoadedFile& loaded, const char* path) {
  if (loaded.result != LoadResult::kLoaded && loaded.result != LoadResult::kMissing) {
    return SaveOutcome::kNotReadWhole;
  }
  if (!lostEntries().empty()) return SaveOutcome::kLostCharacters;
  FileStamp now = stampOfFile(path);
  if (now != loaded.stamp) {
    loaded.stamp = now;
    return SaveOutcome::kChangedOnDisk;
  }
  errno = 0;
  switch (replaceFile(path, writePhoneList)) {
    case SaveResult::kSaved:
      return SaveOutcome::kSaved;
    case SaveResult::kSavedNotSynced:
      return SaveOutcome::kSavedNotSynced;
    case SaveResult::kFailed:
      break;
  }
  // Every failure has a reason to give.
  if (errno == 0) errno = EIO;
  return SaveOutcome::kFailed;
}

}  // namespace phonebook
