// The file system as the phone book is handed it: everything that loading,
// saving and the start ask of files, in one object. The store takes it as
// a parameter rather than calling the platform's functions, so that a test
// can hand it a fake whose files, stamps and clock it sets, and whose save
// fails at any step it chooses. systemFileSystem() is the real one.
#pragma once

#include <memory>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/replace_file.h"

namespace phonebook {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // As the functions of the same names in file.h say.
  virtual OpenedFile openRegularFile(const char* path) = 0;
  virtual FileStamp stampOfFile(const char* path) = 0;
  // Reads this file system's clock.
  virtual bool timesMayHideChange(const FileStamp& stamp) = 0;
  virtual std::unique_ptr<SaveTarget> newSaveTarget() = 0;
  virtual SaveObstacle whyCannotSave(const char* path) = 0;
  virtual LockResult lockDirectoryOf(const char* path) = 0;
  virtual void removeLeftoverFiles(const char* path) = 0;
};

// The files of the system the program runs on. Lives as long as the program.
FileSystem& systemFileSystem();

}  // namespace phonebook
