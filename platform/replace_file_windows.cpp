// The save's steps on Windows. The new file is written beside the old
// one, marked for deletion while it is written so that a run killed part
// way leaves nothing behind, given the old file's attributes and access
// rights, flushed to disk, and then put in place with one MoveFileExW that
// replaces the old file.
//
// ReplaceFileW, which would carry the attributes and access rights over by
// itself, is not used: it is not one step (under Wine it moves the old file
// aside, removes it and then renames the new one in, so that a run killed
// between those steps leaves no PhoneList.txt at all), and when another
// program holds the old file open it fails leaving a file of its own
// behind. MoveFileExW renames over the old file in one step of the file
// system.
#include <aclapi.h>
#include <windows.h>

#include <string>

#include "platform/file.h"
#include "platform/file_windows.h"
#include "platform/replace_file.h"
#include "platform/temporary_name.h"

namespace phonebook {
namespace {

// Keeps Ctrl-C and Ctrl-Break from ending the program half way through a
// save; what comes meanwhile is dropped, and the save ends as a save ends.
class InterruptsHeld {
 public:
  InterruptsHeld() { SetConsoleCtrlHandler(nullptr, TRUE); }
  ~InterruptsHeld() { SetConsoleCtrlHandler(nullptr, FALSE); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// Marks the open `file` to be deleted when it is closed, or takes that
// back. While marked, a run that dies leaves nothing behind.
bool markForDeletion(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

// What the new file takes from the old one before it is put in place, as
// ReplaceFileW would keep it: the attributes that say how to treat it
// (hidden, system, archive, not indexed), its creation time, and who may
// use it (its DACL, inherited from the folder or its own).
struct OldFile {
  FILE_BASIC_INFO basic;
  PSECURITY_DESCRIPTOR security = nullptr;  // LocalFree'd by the owner
  PACL dacl = nullptr;                      // inside `security`
  bool daclProtected = false;
};

bool readOldFile(const std::wstring& target, OldFile& old) {
  HANDLE file = CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail();
  bool read = GetFileInformationByHandleEx(file, FileBasicInfo, &old.basic, sizeof old.basic);
  DWORD error = read ? GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, &old.dacl, nullptr, &old.security)
                     : GetLastError();
  CloseHandle(file);
  if (error != ERROR_SUCCESS) return failWith(error);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(old.security, &control, &revision)) return fail();
  old.daclProtected = (control & SE_DACL_PROTECTED) != 0;
  return true;
}

bool giveOldFilesAccess(HANDLE file, const OldFile& old) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO basic{};  // zero times: left as they are
  basic.CreationTime = old.basic.CreationTime;
  basic.FileAttributes = old.basic.FileAttributes & kKept;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) return fail();
  // Protected: the old file's own list; unprotected: its own entries, and
  // the folder's inherited ones again.
  SECURITY_INFORMATION which =
      DACL_SECURITY_INFORMATION | (old.daclProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  DWORD error = SetSecurityInfo(file, SE_FILE_OBJECT, which, nullptr, nullptr, old.dacl, nullptr);
  return error == ERROR_SUCCESS || failWith(error);
}

constexpr int kNameTries = 100;

// Writes and flushes the new file in `directory`, with the access of `old`

class WindowsSaveTarget final : public SaveTarget {
 public:
  ~WindowsSaveTarget() override {
    if (old_.security != nullptr) LocalFree(old_.security);
  }

  bool resolve(const char* path) override {
    target_ = targetOf(path);
    if (target_.empty()) return fail();
    DWORD attributes = GetFileAttributesW(target_.c_str());
    replacing_ = attributes != INVALID_FILE_ATTRIBUTES;
    if (!replacing_) return isMissing(GetLastError()) || fail();
    // A read-only file says that it must not change; anything but a plain
    // file is not the phone book's to replace.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
      return failWith(ERROR_ACCESS_DENIED);
    }
    HANDLE file = openToAsk(target_);
    bool regular = file != INVALID_HANDLE_VALUE && isRegularFile(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!regular) return failWith(ERROR_ACCESS_DENIED);
    return readOldFile(target_, old_);
  }

  File* create() override {
    const std::wstring directory = directoryOf(target_);
    HANDLE file = INVALID_HANDLE_VALUE;
    NameTry made = tryTemporaryNames([&](const std::string& name) {
      const std::wstring path = directory + L"\\" + widen(name);
      file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        path_ = path;
        return NameTry::kMade;
      }
      return GetLastError() == ERROR_FILE_EXISTS ? NameTry::kTaken : NameTry::kFailed;
    });
    if (made != NameTry::kMade) {
      made == NameTry::kTaken ? failWith(ERROR_FILE_EXISTS) : fail();
      return nullptr;
    }
    file_ = std::make_unique<WindowsFile>(file);
    made_ = file_->stamp();
    marked_ = markForDeletion(file, true);
    if (replacing_ && !giveOldFilesAccess(file, old_)) return nullptr;
    return file_.get();
  }

  bool sync() override { return FlushFileBuffers(file_->handle()) || fail(); }

  // A file marked for deletion would go with its handle.
  bool name() override { return !marked_ || markForDeletion(file_->handle(), false) || fail(); }

  bool close() override {
    bool closed = file_->close();
    file_.reset();
    return closed;
  }

  // One rename that replaces the old file, written through to the disk
  // before it returns. Where there was no old file, none that appeared
  // meanwhile is replaced.
  bool putInPlace() override {
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replacing_ ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(path_.c_str(), target_.c_str(), flags)) return true;
    DWORD error = GetLastError();
    // A file that another program holds open without sharing its deletion
    // cannot be renamed over, and Windows says only "access denied": the
    // file is asked for as a rename would take it, and refused as shared.
    if (error == ERROR_ACCESS_DENIED && replacing_) {
      HANDLE held = CreateFileW(target_.c_str(), DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (held == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) error = ERROR_SHARING_VIOLATION;
      } else {
        CloseHandle(held);
      }
    }
    return failWith(error);
  }

  bool inPlace() override {
    WindowsFile found(openToAsk(target_));
    return made_.sameFile(found.stamp());
  }

  // The rename was written through.
  bool syncDirectory() override { return true; }

  void discard() override {
    file_.reset();
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }

  // The access rights are the old file's own list, whoever saves.
  bool groupKept() const override { return true; }

 private:
  InterruptsHeld held_;  // first, so that it is let go last
  std::wstring target_;
  bool replacing_ = false;
  OldFile old_;
  std::wstring path_;  // the new file's name, once it is made
  FileStamp made_;     // the new file, as it was made
  bool marked_ = false;
  std::unique_ptr<WindowsFile> file_;
};

}  // namespace

std::unique_ptr<SaveTarget> newSaveTarget() {
  return std::make_unique<WindowsSaveTarget>();
}

}  // namespace phonebook
