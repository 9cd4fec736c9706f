#include "store/phone_file.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/replace_file.h"
#include "store/content_hash.h"
#include "store/file_reading.h"

namespace phonebook {
LoadedFile loadPhoneList(FileSystem& files, const char* path) {
  LoadedFile loaded;
  OpenedFile opened = files.openRegularFile(path);
  if (opened.result == OpenResult::kMissing) {
    loaded.stamp = files.stampOfFile(path);  // a link that leads nowhere yet
    return loaded;
  }
  if (opened.result == OpenResult::kNotOpened) {
    loaded.result = LoadResult::kNotOpened;
    return loaded;
  }
  const FileStamp before = opened.file->stamp();
  HashingFile file(*opened.file);
  loaded.result = readPhoneList(file);
  // A file that another program wrote to while it was read may have been
  // read part old, part new.
  if (loaded.result == LoadResult::kLoaded && file.stamp() != before) {
    loaded.result = LoadResult::kReadFailed;
  }
  loaded.hashed = true;
  loaded.hash = file.hash();
  loaded.stamp = before;
  loaded.stamp.link = files.stampOfFile(path).link;
  return loaded;
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

namespace {

// How the file at `path` differs from the one that `loaded` describes, or
// nullopt where it is that file still. `now` receives its stamp.
std::optional<SaveOutcome> changeOf(FileSystem& files, const LoadedFile& loaded, const char* path,
                                    FileStamp& now) {
  now = files.stampOfFile(path);
  const FileStamp& was = loaded.stamp;
  if (!now.link.empty() && now.link != was.link) return SaveOutcome::kNowALink;
  if (now.exists != was.exists) return now.exists ? SaveOutcome::kCreated : SaveOutcome::kRemoved;
  if (!now.exists) return std::nullopt;
  if (now.device != was.device || now.file != was.file) return SaveOutcome::kReplaced;
  if (now.size != was.size || now.modified != was.modified) return SaveOutcome::kChanged;
  // Only the bytes tell the rest: a rewrite of the same size whose time of
  // modification was set back, or that fell within one tick of the clock
  // (and, from a change of access alone, that nothing changed).
  if (now.statusChanged == was.statusChanged && !files.timesMayHideChange(now)) return std::nullopt;
  std::uint64_t hash = 0;
  if (loaded.hashed && hashOfFile(files, path, hash) && hash == loaded.hash) return std::nullopt;
  return SaveOutcome::kChanged;
}

}  // namespace

SaveOutcome savePhoneList(FileSystem& files, LoadedFile& loaded, const char* path,
                          bool* groupKept) {
  if (loaded.result != LoadResult::kLoaded && loaded.result != LoadResult::kMissing) {
    return SaveOutcome::kNotReadWhole;
  }
  if (!lostEntries().empty() && loaded.lostToldAt != changeCount()) {
    loaded.lostToldAt = changeCount();
    return SaveOutcome::kLostCharacters;
  }
  std::optional<SaveOutcome> change;
  FileStamp now;
  errno = 0;
  auto mayReplace = [&] {
    change = changeOf(files, loaded, path, now);
    return !change;
  };
  SaveResult result =
      replaceFile(*files.newSaveTarget(), path, writePhoneList, mayReplace, groupKept);
  switch (result) {
    case SaveResult::kSaved:
      return SaveOutcome::kSaved;
    case SaveResult::kSavedNotSynced:
      return SaveOutcome::kSavedNotSynced;
    case SaveResult::kRefused:
      // The user is told, and may let this file be replaced.
      loaded.stamp = now;
      loaded.hashed = now.exists && hashOfFile(files, path, loaded.hash);
      return *change;
    case SaveResult::kFailed:
      break;
  }
  // Every failure has a reason to give.
  if (errno == 0) errno = EIO;
  return SaveOutcome::kFailed;
}

}  // namespace phonebook
