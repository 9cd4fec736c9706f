// The real file system: the platform's own functions, behind FileSystem.
#include "platform/file_system.h"

#include "platform/directory.h"
#include "platform/replace_file.h"

namespace phonebook {
namespace {

class SystemFileSystem final : public FileSystem {
 public:
  OpenedFile openRegularFile(const char* path) override { return phonebook::openRegularFile(path); }
  FileStamp stampOfFile(const char* path) override { return phonebook::stampOfFile(path); }
  bool timesMayHideChange(const FileStamp& stamp) override {
    return phonebook::timesMayHideChange(stamp);
  }
  std::unique_ptr<SaveTarget> newSaveTarget() override { return phonebook::newSaveTarget(); }
  SaveObstacle whyCannotSave(const char* path) override { return phonebook::whyCannotSave(path); }
  LockResult lockDirectoryOf(const char* path) override { return phonebook::lockDirectoryOf(path); }
  void removeLeftoverFiles(const char* path) override { phonebook::removeLeftoverFiles(path); }
};

}  // namespace

FileSystem& systemFileSystem() {
  static SystemFileSystem files;
  return files;
}

}  // namespace phonebook
