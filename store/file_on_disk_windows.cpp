// The phone list file on Windows. The new file is written beside the old
// one, marked for deletion while it is written so that a run killed part
// way leaves nothing behind, given the old file's attributes and access
// rights, flushed to disk, and then put in place with one MoveFileExW that
// replaces the old file. A second run is kept out by a named mutex that
// stands for the directory.
//
// ReplaceFileW, which would carry the attributes and access rights over by
// itself, is not used: it is not one step (under Wine it moves the old file
// aside, removes it and then renames the new one in, so that a run killed
// between those steps leaves no PhoneList.txt at all), and when another
// program holds the old file open it fails leaving a file of its own
// behind. MoveFileExW renames over the old file in one step of the file
// system.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <iterator>
#include <string>

#include "store/file_on_disk.h"

namespace phonebook {
namespace {

std::wstring widen(const std::string& path) {
  std::wstring wide(path.size(), L'\0');
  int length = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                                   wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(std::max(length, 0)));
  return wide;
}

bool isMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Sets errno to the nearest to the Windows `error` that a failed save
// reports, and returns false for the caller to pass on.
bool failWith(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_WRITE_PROTECT:
      errno = EROFS;
      break;
    default:
      errno = EIO;
      break;
  }
  return false;
}

// The last Windows error, as failWith reports it.
bool fail() {
  return failWith(GetLastError());
}

// True for an open plain file on a disk: not a directory, device or pipe.
bool isRegularFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Opens `path` for nothing but questions about it, following links.
HANDLE openToAsk(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The full path of the file that `path` names, at the end of any symbolic
// link, so that a link stays a link when its file is replaced. ReplaceFileW
// wants full paths. Empty when there is none.
std::wstring targetOf(const char* path) {
  std::wstring relative = widen(path);
  DWORD length = GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
  if (length == 0) return L"";
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(relative.c_str(), length, full.data(), nullptr);
  full.resize(length);
  DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return full;
  }
  HANDLE file = openToAsk(full);
  if (file == INVALID_HANDLE_VALUE) return L"";
  std::wstring resolved(MAX_PATH, L'\0');
  for (;;) {
    DWORD got =
        GetFinalPathNameByHandleW(file, resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    if (got < resolved.size()) {
      resolved.resize(got);
      break;
    }
    resolved.resize(got + 1);
  }
  CloseHandle(file);
  return resolved;
}

std::wstring directoryOf(const std::wstring& path) {
  std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

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
// where there is one; returns its temporary name, or "" when anything
// failed (and then nothing is left behind, and errno says why).
std::wstring writeNewFile(const std::wstring& directory, const OldFile* old, bool (*fill)(int fd)) {
  std::wstring path;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < kNameTries && file == INVALID_HANDLE_VALUE; ++tries) {
    path = directory + L"\\" + widen(temporaryFileName());
    file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      fail();
      return L"";
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    failWith(ERROR_FILE_EXISTS);
    return L"";
  }
  bool marked = markForDeletion(file, true);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    int error = errno;
    CloseHandle(file);
    if (!marked) DeleteFileW(path.c_str());
    errno = error;
    return L"";
  }
  // fill and _close set errno themselves; the Windows calls through fail.
  bool whole = (old == nullptr || giveOldFilesAccess(file, *old)) && fill(fd) &&
               (FlushFileBuffers(file) || fail()) &&
               (!marked || markForDeletion(file, false) || fail());
  int error = errno;
  // Closes the file too.
  if (_close(fd) != 0 && whole) {
    whole = false;
    error = errno;
  }
  if (!whole) {
    DeleteFileW(path.c_str());
    errno = error;
    return L"";
  }
  return path;
}

}  // namespace

OpenedFile openRegularFile(const char* path) {
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {isMissing(GetLastError()) ? OpenResult::kMissing : OpenResult::kNotOpened, -1};
  }
  if (!isRegularFile(file)) {
    CloseHandle(file);
    return {OpenResult::kNotOpened, -1};
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    return {OpenResult::kNotOpened, -1};
  }
  return {OpenResult::kOpened, fd};
}

void closeFile(int fd) {
  _close(fd);
}

namespace {

FileStamp stampOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return {};
  auto join = [](DWORD high, DWORD low) { return std::uint64_t{high} << 32 | low; };
  return {true, info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
          join(info.nFileSizeHigh, info.nFileSizeLow),
          static_cast<std::int64_t>(
              join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime))};
}

}  // namespace

FileStamp stampOfOpenFile(int fd) {
  return stampOf(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

FileStamp stampOfFile(const char* path) {
  const std::wstring target = targetOf(path);
  if (target.empty()) return {};
  HANDLE file = openToAsk(target);
  FileStamp stamp = stampOf(file);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return stamp;
}

int whyCannotSave(const char* path) {
  const std::wstring target = targetOf(path);
  if (target.empty()) return 0;
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return EACCES;
  }
  // Whether this user may make files in the directory is for its access
  // list to say, which only trying would tell; a read-only volume says so.
  HANDLE directory = openToAsk(directoryOf(target));
  if (directory == INVALID_HANDLE_VALUE) return 0;
  DWORD flags = 0;
  bool known = GetVolumeInformationByHandleW(directory, nullptr, 0, nullptr, nullptr, &flags,
                                             nullptr, 0) != 0;
  CloseHandle(directory);
  return known && (flags & FILE_READ_ONLY_VOLUME) != 0 ? EROFS : 0;
}

LockResult lockDirectoryOf(const char* path) {
  const std::wstring target = targetOf(path);
  if (target.empty()) return LockResult::kCannotLock;
  HANDLE directory = openToAsk(directoryOf(target));
  if (directory == INVALID_HANDLE_VALUE) return LockResult::kCannotLock;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(directory, &info);
  CloseHandle(directory);
  if (!known) return LockResult::kCannotLock;
  // The directory by its volume and file number, not by its name: every
  // path to it, through links or other drive letters, names the same lock.
  // Global, so that runs in other sessions of the machine see it too.
  auto nameIn = [&](const wchar_t* space) {
    wchar_t name[96];
    swprintf(name, std::size(name), L"%ls\\phonebook-%08lx-%08lx%08lx", space,
             static_cast<unsigned long>(info.dwVolumeSerialNumber),
             static_cast<unsigned long>(info.nFileIndexHigh),
             static_cast<unsigned long>(info.nFileIndexLow));
    return std::wstring(name);
  };
  std::wstring name = nameIn(L"Global");
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  DWORD error = GetLastError();
  if (mutex == nullptr && error == ERROR_ACCESS_DENIED) {
    // Either another user's run made it, or this process may not make
    // objects for the whole machine: then its own session's must do.
    HANDLE existing = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    error = GetLastError();
    if (existing != nullptr || error == ERROR_ACCESS_DENIED) {
      if (existing != nullptr) CloseHandle(existing);
      return LockResult::kLockedElsewhere;
    }
    name = nameIn(L"Local");
    mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    error = GetLastError();
  }
  if (mutex == nullptr) return LockResult::kCannotLock;
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return LockResult::kLockedElsewhere;
  }
  // Left open on purpose: the mutex lasts as long as the program.
  return LockResult::kLocked;
}

SaveResult replaceFile(const char* path, bool (*fill)(int fd)) {
  InterruptsHeld held;
  const std::wstring target = targetOf(path);
  if (target.empty()) {
    fail();
    return SaveResult::kFailed;
  }
  DWORD attributes = GetFileAttributesW(target.c_str());
  bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
  if (!replacing && !isMissing(GetLastError())) {
    fail();
    return SaveResult::kFailed;
  }
  OldFile old;
  if (replacing) {
    // A read-only file says that it must not change; anything but a plain
    // file is not the phone book's to replace.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
      failWith(ERROR_ACCESS_DENIED);
      return SaveResult::kFailed;
    }
    HANDLE file = openToAsk(target);
    bool regular = file != INVALID_HANDLE_VALUE && isRegularFile(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!regular) {
      failWith(ERROR_ACCESS_DENIED);
      return SaveResult::kFailed;
    }
    if (!readOldFile(target, old)) return SaveResult::kFailed;
  }
  const std::wstring temporary =
      writeNewFile(directoryOf(target), replacing ? &old : nullptr, fill);
  if (old.security != nullptr) LocalFree(old.security);
  if (temporary.empty()) return SaveResult::kFailed;
  // One rename that replaces the old file, written through to the disk
  // before it returns. Where there was no old file, none that appeared
  // meanwhile is replaced.
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replacing ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
    DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    failWith(error);
    return SaveResult::kFailed;
  }
  return SaveResult::kSaved;
}

void removeLeftoverFiles(const char* path) {
  const std::wstring target = targetOf(path);
  if (target.empty()) return;
  const std::wstring directory = directoryOf(target);
  // This user's files are owned by the token's user, or by its default
  // owner (the Administrators group, for an elevated administrator).
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  alignas(TOKEN_USER) BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  alignas(TOKEN_OWNER) BYTE owner[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_OWNER)];
  DWORD size = 0;
  bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
               GetTokenInformation(token, TokenOwner, owner, sizeof owner, &size);
  CloseHandle(token);
  if (!known) return;
  PSID self = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  PSID selfAsOwner = reinterpret_cast<TOKEN_OWNER*>(owner)->Owner;

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\.phonebook-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::string name;
    for (const wchar_t* c = found.cFileName; *c != L'\0'; ++c) {
      name.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    }
    // Not a directory, and not a link of that name: only a plain file.
    if (!isTemporaryFileName(name) ||
        (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      continue;
    }
    const std::wstring file = directory + L"\\" + found.cFileName;
    PSID fileOwner = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &fileOwner,
                              nullptr, nullptr, nullptr, &security) != ERROR_SUCCESS) {
      continue;
    }
    if (EqualSid(fileOwner, self) || EqualSid(fileOwner, selfAsOwner)) DeleteFileW(file.c_str());
    LocalFree(security);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace phonebook
