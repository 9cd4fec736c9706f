// A file system held in memory, for the tests of the store: files and links
// at paths, stamps that change as another program's writes would change
// them, a clock, and a save whose steps can be made to fail one at a time.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/replace_file.h"
#include "tests/memory_file.h"

namespace phonebook::testing {

inline constexpr std::int64_t kSecond = 1000000000;

class FakeFileSystem final : public FileSystem {
 public:
  struct Node {
    std::string content;
    FileStamp stamp;      // its `link` unused
    bool regular = true;  // false: something that cannot be opened, a directory say
    int readError = 0;    // errno of every read, none when 0

    bool operator==(const Node&) const = default;
  };

  std::map<std::string, Node> files;         // by path
  std::map<std::string, std::string> links;  // symbolic links: what each leads to
  std::int64_t now = 100 * kSecond;          // the clock

  // The save's step that fails with `error`: "resolve", "create", "write",
  // "sync", "name", "close", "rename", "sync directory", or "renamed", a
  // rename that reports `error` after it was done.
  std::string failing;
  int error = 0;
  bool groupKept = true;           // what every save target says of the group
  std::vector<std::string> steps;  // the steps of the saves, in order
  // Each runs once: when the new file of a save is whole, right before the
  // save's caller looks at the file (another program at work meanwhile);
  // and at the first read of an opened file.
  std::function<void()> whileSaving;
  std::function<void()> whileReading;

  // What another program does at `path`: writes to the file there (a new
  // one where there is none), or puts a new file in its place.
  void write(const std::string& path, const std::string& content) {
    auto found = files.find(path);
    if (found == files.end()) {
      put(path, content);
      return;
    }
    found->second.content = content;
    found->second.stamp.size = content.size();
    found->second.stamp.modified = found->second.stamp.statusChanged = now;
  }
  void put(const std::string& path, const std::string& content) {
    Node& node = files[path] = {content, {}};
    node.stamp.exists = true;
    node.stamp.device = 1;
    node.stamp.file = ++lastFile_;
    node.stamp.size = content.size();
    node.stamp.modified = node.stamp.statusChanged = now;
  }

  // Where `path` leads, links followed.
  std::string resolved(std::string path) const {
    for (auto link = links.find(path); link != links.end(); link = links.find(path)) {
      path = link->second;
    }
    return path;
  }

  OpenedFile openRegularFile(const char* path) override;
  FileStamp stampOfFile(const char* path) override {
    auto found = files.find(resolved(path));
    FileStamp stamp = found == files.end() ? FileStamp{} : found->second.stamp;
    if (auto link = links.find(path); link != links.end()) stamp.link = link->second;
    return stamp;
  }
  bool timesMayHideChange(const FileStamp& stamp) override {
    return std::max(stamp.modified, stamp.statusChanged) > now - 3 * kSecond;
  }
  std::unique_ptr<SaveTarget> newSaveTarget() override;
  SaveObstacle whyCannotSave(const char*) override { return {}; }
  LockResult lockDirectoryOf(const char*) override { return LockResult::kLocked; }
  void removeLeftoverFiles(const char*) override {}

  // Runs `hook` once, if it is set.
  static void runOnce(std::function<void()>& hook) {
    if (!hook) return;
    std::function<void()> once = std::move(hook);
    hook = nullptr;
    once();
  }

 private:
  std::uint64_t lastFile_ = 0;
};

// A file of the fake opened for reading: its content as it was opened.
class FakeOpenFile final : public File {
 public:
  FakeOpenFile(FakeFileSystem& files, std::string path)
      : files_(files), path_(std::move(path)), node_(files.files.at(path_)) {}

  // As the file at its path stands now, where it is still this file.
  FileStamp stamp() override {
    auto found = files_.files.find(path_);
    bool same = found != files_.files.end() && found->second.stamp.file == node_.stamp.file;
    return same ? found->second.stamp : node_.stamp;
  }
  std::uint64_t size() override { return node_.content.size(); }
  bool rewind() override {
    at_ = 0;
    return true;
  }

 protected:
  std::ptrdiff_t readSome(char* buffer, std::size_t size) override {
    FakeFileSystem::runOnce(files_.whileReading);
    if (node_.readError != 0) {
      errno = node_.readError;
      return -1;
    }
    std::size_t got = std::min(size, node_.content.size() - at_);
    std::memcpy(buffer, node_.content.data() + at_, got);
    at_ += got;
    return static_cast<std::ptrdiff_t>(got);
  }
  std::ptrdiff_t writeSome(const char*, std::size_t) override {
    errno = EBADF;
    return -1;
  }

 private:
  FakeFileSystem& files_;
  std::string path_;
  FakeFileSystem::Node node_;
  std::size_t at_ = 0;
};

inline OpenedFile FakeFileSystem::openRegularFile(const char* path) {
  auto found = files.find(resolved(path));
  if (found == files.end()) return {OpenResult::kMissing, nullptr};
  if (!found->second.regular) return {OpenResult::kNotOpened, nullptr};
  return {OpenResult::kOpened, std::make_unique<FakeOpenFile>(*this, found->first)};
}

// The save's steps on the fake: each succeeds but the one that
// FakeFileSystem::failing names.
class FakeSaveTarget final : public SaveTarget {
 public:
  explicit FakeSaveTarget(FakeFileSystem& files) : files_(files) {}

  bool resolve(const char* path) override {
    target_ = files_.resolved(path);
    return step("resolve");
  }
  File* create() override {
    if (!step("create")) return nullptr;
    made_ = std::make_unique<MemoryFile>();
    if (files_.failing == "write") made_->writeError = files_.error;
    return made_.get();
  }
  bool sync() override { return step("sync"); }
  bool name() override { return step("name"); }
  bool close() override {
    if (!step("close")) return false;
    FakeFileSystem::runOnce(files_.whileSaving);
    return true;
  }
  bool putInPlace() override {
    if (!step("rename")) return false;
    files_.put(target_, made_->content());
    madeFile_ = files_.files[target_].stamp.file;
    if (files_.failing != "renamed") return true;
    errno = files_.error;
    return false;
  }
  bool inPlace() override {
    files_.steps.push_back("in place?");
    errno = ENOENT;  // as a look that finds nothing leaves it
    return files_.stampOfFile(target_.c_str()).file == madeFile_ && madeFile_ != 0;
  }
  bool syncDirectory() override { return step("sync directory"); }
  void discard() override {
    files_.steps.push_back("discard");
    errno = 0;  // as a removal that succeeds may leave it
  }
  bool groupKept() const override { return files_.groupKept; }

 private:
  // A step that fails without an error of its own leaves errno as it was.
  bool step(const char* name) {
    files_.steps.push_back(name);
    if (files_.failing != name) return true;
    if (files_.error != 0) errno = files_.error;
    return false;
  }

  FakeFileSystem& files_;
  std::string target_;
  std::unique_ptr<MemoryFile> made_;
  std::uint64_t madeFile_ = 0;
};

inline std::unique_ptr<SaveTarget> FakeFileSystem::newSaveTarget() {
  return std::make_unique<FakeSaveTarget>(*this);
}

}  // namespace phonebook::testing
