#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace phonebook {

SystemError systemErrorOf(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return SystemError::kNoPermission;
    case ENOSPC:
      return SystemError::kNoRoom;
#ifdef EDQUOT
    case EDQUOT:
      return SystemError::kQuota;
#endif
    case EROFS:
      return SystemError::kReadOnly;
    case EIO:
      return SystemError::kIo;
    case EFBIG:
      return SystemError::kTooLarge;
    case ENAMETOOLONG:
      return SystemError::kNameTooLong;
    case EBUSY:
      return SystemError::kInUse;
    default:
      return SystemError::kOther;
  }
}

std::string systemErrorText(int error) {
  return std::strerror(error);
}

}  // namespace phonebook
