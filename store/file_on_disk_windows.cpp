// The phone list file on Windows. The new file is written beside the old
// one, marked for deletion while it is written so that a run killed part
// way leaves nothing behind, flushed to disk, and then put in place with
// ReplaceFileW, which keeps the old file's attributes and access rights, or
// with MoveFileExW where there is no old file. A second run is kept out by a
// named mutex that stands for the directory.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
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
// save; what comes meanwhile is dropped, as the program ends after it.
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

constexpr int kNameTries = 100;

// Writes and flushes the new file in `directory`; returns its temporary
// name, or "" when anything failed (and then nothing is left behind).
std::wstring writeNewFile(const std::wstring& directory, bool (*fill)(int fd)) {
  std::wstring path;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < kNameTries && file == INVALID_HANDLE_VALUE; ++tries) {
    path = directory + L"\\" + widen(temporaryFileName());
    file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return L"";
  }
  if (file == INVALID_HANDLE_VALUE) return L"";
  bool marked = markForDeletion(file, true);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    if (!marked) DeleteFileW(path.c_str());
    return L"";
  }
  bool whole = fill(fd) && FlushFileBuffers(file) && (!marked || markForDeletion(file, false));
  // Closes the file too.
  whole = _close(fd) == 0 && whole;
  if (!whole) {
    DeleteFileW(path.c_str());
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
  const std::wstring target = targetOf(path);
  if (target.empty()) return SaveResult::kFailed;
  DWORD attributes = GetFileAttributesW(target.c_str());
  bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
  if (!replacing && !isMissing(GetLastError())) return SaveResult::kFailed;
  if (replacing) {
    // A read-only file says that it must not change; anything but a plain
    // file is not the phone book's to replace.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
      return SaveResult::kFailed;
    }
    HANDLE old = openToAsk(target);
    bool regular = old != INVALID_HANDLE_VALUE && isRegularFile(old);
    if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
    if (!regular) return SaveResult::kFailed;
  }
  InterruptsHeld held;
  const std::wstring temporary = writeNewFile(directoryOf(target), fill);
  if (temporary.empty()) return SaveResult::kFailed;
  // No flag asks another file that appeared meanwhile to be replaced.
  bool placed = replacing
                    ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr)
                    : MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
  if (!placed) {
    DeleteFileW(temporary.c_str());
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
