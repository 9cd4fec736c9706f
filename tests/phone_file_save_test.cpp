// The save on a file system held in memory: every refusal, and every step
// of it that fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "store/phone_file.h"
#include "tests/fake_file_system.h"
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

// The save's look at the file, on a file system whose every change the
// test makes. Another program's change, made while the first save writes,
// is seen when the new file is whole: the save refuses once, leaves the
// file as the change left it, and takes it as it is now, so that a second
// save replaces it. A change of access alone, or of times only with the
// same bytes, is no change. A file not read whole is never replaced;
// entries that lost a character are written with their "?" at a second
// save.
TEST_F(PhoneFileTest, TheSaveRefusesOnceWhatItMustAndThenReplacesTheFileAsItIsNow) {
  using testing::FakeFileSystem;
  using testing::kSecond;
  using Scene = std::function<void(FakeFileSystem&)>;
  const std::string file = kPhoneListFile;
  const Scene none = [](FakeFileSystem&) {};
  struct Case {
    const char* what;
    Scene start;                        // after PhoneList.txt is written "Ahn 1", before the load
    Scene during;                       // while the first save writes
    std::vector<SaveOutcome> outcomes;  // of the saves in turn
    const char* target = kPhoneListFile;
    std::string saved = "Ahn 1\r\nKim 2\r\n";  // in `target` at the end, where it saves
  };
  const Case cases[] = {
      {"nothing changed", none, none, {SaveOutcome::kSaved}},
      {"only its access changed",
       none,
       [&](FakeFileSystem& files) {
         files.now += 10 * kSecond;
         files.files[file].stamp.statusChanged = files.now;
         files.now += 10 * kSecond;
       },
       {SaveOutcome::kSaved}},
      {"rewritten",
       none,
       [&](FakeFileSystem& files) { files.write(file, "Lee 3 Park 4\r\n"); },
       {SaveOutcome::kChanged, SaveOutcome::kSaved}},
      {"rewritten at the same size, its time set back",
       none,
       [&](FakeFileSystem& files) {
         files.now += 10 * kSecond;
         const std::int64_t modified = files.files[file].stamp.modified;
         files.write(file, "Lee 3\r\n");
         files.files[file].stamp.modified = modified;
         files.now += 10 * kSecond;
       },
       {SaveOutcome::kChanged, SaveOutcome::kSaved}},
      {"rewritten within one tick, every field as it was",
       none,
       [&](FakeFileSystem& files) {
         const FileStamp was = files.files[file].stamp;
         files.write(file, "Lee 3\r\n");
         files.files[file].stamp = was;
       },
       {SaveOutcome::kChanged, SaveOutcome::kSaved}},
      {"removed",
       none,
       [&](FakeFileSystem& files) { files.files.erase(file); },
       {SaveOutcome::kRemoved, SaveOutcome::kSaved}},
      {"made where there was none",
       [&](FakeFileSystem& files) { files.files.erase(file); },
       [&](FakeFileSystem& files) { files.write(file, "Lee 3\r\n"); },
       {SaveOutcome::kCreated, SaveOutcome::kSaved},
       kPhoneListFile,
       "Kim 2\r\n"},
      {"replaced by another file",
       none,
       [&](FakeFileSystem& files) { files.put(file, "Ahn 1\r\n"); },
       {SaveOutcome::kReplaced, SaveOutcome::kSaved}},
      {"a link put in its place",
       none,
       [&](FakeFileSystem& files) {
         files.put("other.txt", "Lee 3\r\n");
         files.files.erase(file);
         files.links[file] = "other.txt";
       },
       {SaveOutcome::kNowALink, SaveOutcome::kSaved},
       "other.txt"},
      {"a link from the start",
       [&](FakeFileSystem& files) {
         files.put("book.txt", "Ahn 1\r\n");
         files.files.erase(file);
         files.links[file] = "book.txt";
       },
       none,
       {SaveOutcome::kSaved},
       "book.txt"},
      {"a read failed",
       [&](FakeFileSystem& files) { files.files[file].readError = EIO; },
       none,
       {SaveOutcome::kNotReadWhole, SaveOutcome::kNotReadWhole}},
      {"written to while read",
       [&](FakeFileSystem& files) {
         files.whileReading = [&files, &file] { files.write(file, "Lee 3 Park 4\r\n"); };
       },
       none,
       {SaveOutcome::kNotReadWhole, SaveOutcome::kNotReadWhole}},
      {"not a regular file",
       [&](FakeFileSystem& files) { files.files[file].regular = false; },
       none,
       {SaveOutcome::kNotReadWhole, SaveOutcome::kNotReadWhole}},
      {"a character lost",
       [&](FakeFileSystem& files) { files.write(file, "홍길동 010\r\nJosé 1\r\n"); },
       none,
       {SaveOutcome::kLostCharacters, SaveOutcome::kSaved},
       kPhoneListFile,
       cp949("Jos? 1\r\nKim 2\r\n홍길동 010\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearList();
    FakeFileSystem files;
    files.write(file, "Ahn 1\r\n");
    c.start(files);
    LoadedFile loaded = loadPhoneList(files);
    insertSorted(newEntry("Kim", "2"));
    std::map<std::string, FakeFileSystem::Node> left;  // the files as the scene left them
    files.whileSaving = [&] {
      c.during(files);
      left = files.files;
    };
    for (SaveOutcome outcome : c.outcomes) {
      left = files.files;
      const SaveOutcome got = savePhoneList(files, loaded);
      EXPECT_EQ(got, outcome);
      if (got != outcome || outcome == SaveOutcome::kSaved) break;
      EXPECT_EQ(files.files, left);
      if (outcome != SaveOutcome::kNotReadWhole) {
        EXPECT_EQ(loaded.stamp, files.stampOfFile(kPhoneListFile));
      }
    }
    if (c.outcomes.back() == SaveOutcome::kSaved) {
      EXPECT_EQ(files.files[c.target].content, c.saved);
    }
  }
}

// Each step of the save that fails gives kFailed with its error (EIO where
// it gave none) and leaves the old file exactly as it was; a rename that
// reported an error but was done is a save. Only a new file in place can
// have lost the old one's group.
TEST_F(PhoneFileTest, AFailedStepOfTheSaveGivesItsErrorAndLeavesTheOldFile) {
  const struct {
    const char* failing;
    int error;
    SaveOutcome outcome;
    int reported = 0;
  } cases[] = {
      {"resolve", EACCES, SaveOutcome::kFailed, EACCES},
      {"create", EROFS, SaveOutcome::kFailed, EROFS},
      {"write", ENOSPC, SaveOutcome::kFailed, ENOSPC},
      {"sync", EIO, SaveOutcome::kFailed, EIO},
      {"name", EEXIST, SaveOutcome::kFailed, EEXIST},
      {"close", 0, SaveOutcome::kFailed, EIO},
      {"rename", EXDEV, SaveOutcome::kFailed, EXDEV},
      {"renamed", EIO, SaveOutcome::kSaved},
      {"sync directory", EIO, SaveOutcome::kSavedNotSynced},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    clearList();
    testing::FakeFileSystem files;
    files.write(kPhoneListFile, "Ahn 1\r\n");
    LoadedFile loaded = loadPhoneList(files);
    insertSorted(newEntry("Kim", "2"));
    files.failing = c.failing;
    files.error = c.error;
    files.groupKept = false;
    const auto before = files.files;
    bool groupKept = true;
    EXPECT_EQ(savePhoneList(files, loaded, kPhoneListFile, &groupKept), c.outcome);
    if (c.outcome == SaveOutcome::kFailed) {
      EXPECT_EQ(errno, c.reported);
      EXPECT_EQ(files.files, before);
      EXPECT_TRUE(groupKept);
    } else {
      EXPECT_EQ(files.files[kPhoneListFile].content, "Ahn 1\r\nKim 2\r\n");
      EXPECT_FALSE(groupKept);
    }
  }
}

}  // namespace
}  // namespace phonebook
