// What the Windows files of the platform share: the open handle, paths, and
// Windows errors told as errno values.
#pragma once

#include <windows.h>

#include <string>

#include "platform/file.h"

namespace phonebook {

// An open handle, closed with the object.
class WindowsFile final : public File {
 public:
  explicit WindowsFile(HANDLE handle) : handle_(handle) {}
  ~WindowsFile() override;
  WindowsFile(const WindowsFile&) = delete;
  WindowsFile& operator=(const WindowsFile&) = delete;

  HANDLE handle() const { return handle_; }

  // Closes the file now. False, with errno set, when the close reports an
  // error.
  bool close();

  FileStamp stamp() override;
  std::uint64_t size() override;
  bool rewind() override;

 protected:
  std::ptrdiff_t readSome(char* buffer, std::size_t size) override;
  std::ptrdiff_t writeSome(const char* data, std::size_t size) override;

 private:
  HANDLE handle_;
};

// `path` in UTF-16, from the system's code page.
std::wstring widen(const std::string& path);

// True for the errors of a name that is not there.
bool isMissing(DWORD error);

// Sets errno to the nearest to the Windows `error` that a failed save
// reports, and returns false for the caller to pass on.
bool failWith(DWORD error);

// The last Windows error, as failWith reports it.
bool fail();

// True for an open plain file on a disk: not a directory, device or pipe.
bool isRegularFile(HANDLE file);

// Opens `path` for nothing but questions about it, following links.
HANDLE openToAsk(const std::wstring& path);

// The full path of the file that `path` names, at the end of any symbolic
// link, so that a link stays a link when its file is replaced. Empty when
// there is none.
std::wstring targetOf(const char* path);

// The directory part of `path`: "." for a bare name.
std::wstring directoryOf(const std::wstring& path);

}  // namespace phonebook
