#include "store/phone_file.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "store/file_reading.h"

namespace phonebook {
namespace {

// Writes go in pieces of this size, through a buffer on the stack.
constexpr std::size_t kIoChunk = 64 * 1024;

}  // namespace

LoadResult loadPhoneList(const char* path, FileStamp* stamp) {
  if (stamp != nullptr) *stamp = FileStamp{};
  OpenedFile opened = openRegularFile(path);
  if (opened.result == OpenResult::kMissing) return LoadResult::kMissing;
  if (opened.result == OpenResult::kNotOpened) return LoadResult::kNotOpened;
  File& file = *opened.file;
  const FileStamp before = file.stamp();
  LoadResult result = readPhoneList(file);
  // A file that another program wrote to while it was read may have been
  // read part old, part new.
  if (result == LoadResult::kLoaded && file.stamp() != before) {
    result = LoadResult::kReadFailed;
  }
  if (stamp != nullptr) *stamp = before;
  return result;
}

bool writePhoneList(File& file) {
  std::array<char, kIoChunk> chunk;
  std::size_t used = 0;
  for (const PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
    // name, space, number, CR LF: at most kNameSize + kPhoneSize bytes.
    if (used + kNameSize + kPhoneSize > chunk.size()) {
      if (!file.write(chunk.data(), used)) return false;
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
  return file.write(chunk.data(), used);
}

SaveOutcome savePhoneList(LoadedFile& loaded, const char* path, bool* groupKept) {
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
  switch (replaceFile(path, writePhoneList, groupKept)) {
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
