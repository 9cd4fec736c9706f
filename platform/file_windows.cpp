// Files on Windows: open handles, the phone list file checked before it is
// read, a second run kept out by a named mutex that stands for the
// directory, and the leftovers of a run that died part way through its
// save removed at the next start. The save's own steps are in
// replace_file_windows.cpp.
#include "platform/file_windows.h"

#include <aclapi.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <iterator>
#include <string>

#include "platform/code_page_windows.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/replace_file.h"
#include "platform/temporary_name.h"

namespace phonebook {

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

bool failWith(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      errno = EACCES;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = EBUSY;  // another program holds the file
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

bool fail() {
  return failWith(GetLastError());
}

bool isRegularFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

HANDLE openToAsk(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

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

namespace {

FileStamp stampOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return {};
  auto join = [](DWORD high, DWORD low) { return std::uint64_t{high} << 32 | low; };
  FileStamp stamp;
  stamp.exists = true;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.file = join(info.nFileIndexHigh, info.nFileIndexLow);
  stamp.size = join(info.nFileSizeHigh, info.nFileSizeLow);
  stamp.modified = static_cast<std::int64_t>(
      join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
  // The time of the last change of any kind, which no program sets back.
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    stamp.statusChanged = basic.ChangeTime.QuadPart;
  }
  return stamp;
}

// One system call moves at most so many bytes.
constexpr std::size_t kMostAtOnce = 1 << 30;

}  // namespace

WindowsFile::~WindowsFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool WindowsFile::close() {
  HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  return CloseHandle(handle) || fail();
}

FileStamp WindowsFile::stamp() {
  return stampOf(handle_);
}

std::uint64_t WindowsFile::size() {
  LARGE_INTEGER size;
  return GetFileType(handle_) == FILE_TYPE_DISK && GetFileSizeEx(handle_, &size)
             ? static_cast<std::uint64_t>(size.QuadPart)
             : 0;
}

// Every file is opened at its start.
bool WindowsFile::rewind() {
  LARGE_INTEGER start{};
  return SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN) != 0;
}

std::ptrdiff_t WindowsFile::readSome(char* buffer, std::size_t size) {
  DWORD got = 0;
  if (!ReadFile(handle_, buffer, static_cast<DWORD>(std::min(size, kMostAtOnce)), &got, nullptr)) {
    fail();
    return -1;
  }
  return got;
}

std::ptrdiff_t WindowsFile::writeSome(const char* data, std::size_t size) {
  DWORD put = 0;
  if (!WriteFile(handle_, data, static_cast<DWORD>(std::min(size, kMostAtOnce)), &put, nullptr)) {
    fail();
    return -1;
  }
  return put;
}

OpenedFile openRegularFile(const char* path) {
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {isMissing(GetLastError()) ? OpenResult::kMissing : OpenResult::kNotOpened, nullptr};
  }
  if (!isRegularFile(file)) {
    CloseHandle(file);
    return {OpenResult::kNotOpened, nullptr};
  }
  return {OpenResult::kOpened, std::make_unique<WindowsFile>(file)};
}

FileStamp stampOfFile(const char* path) {
  const std::wstring target = targetOf(path);
  if (target.empty()) return {};
  HANDLE file = openToAsk(target);
  FileStamp stamp = stampOf(file);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  // A link is told by where it leads: its own text takes a reparse point's
  // layout to read.
  DWORD attributes = GetFileAttributesW(widen(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    narrowToCp949(target, stamp.link);
  }
  return stamp;
}

bool timesMayHideChange(const FileStamp& stamp) {
  // File times count 100-nanosecond ticks.
  constexpr std::int64_t kCoarsestTick = 3 * std::int64_t{10000000};
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::int64_t present =
      static_cast<std::int64_t>(std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime);
  return std::max(stamp.modified, stamp.statusChanged) > present - kCoarsestTick;
}

SaveObstacle whyCannotSave(const char* path) {
  const std::wstring target = targetOf(path);
  if (target.empty()) return {};
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return {SaveObstacle::Kind::kError, EACCES};
  }
  // Whether this user may make files in the directory is for its access
  // list to say, which only trying would tell; a read-only volume says so.
  HANDLE directory = openToAsk(directoryOf(target));
  if (directory == INVALID_HANDLE_VALUE) return {};
  DWORD flags = 0;
  bool known = GetVolumeInformationByHandleW(directory, nullptr, 0, nullptr, nullptr, &flags,
                                             nullptr, 0) != 0;
  CloseHandle(directory);
  if (known && (flags & FILE_READ_ONLY_VOLUME) != 0) return {SaveObstacle::Kind::kError, EROFS};
  return {};
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
