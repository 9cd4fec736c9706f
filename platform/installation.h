// What this platform's installation gives the user to read about the
// program besides --help.
#pragma once

namespace phonebook {

// A manual page (man phonebook) where the package installs one; on Windows
// the README.md beside phonebook.exe instead.
#ifdef _WIN32
inline constexpr bool kHasManualPage = false;
#else
inline constexpr bool kHasManualPage = true;
#endif

}  // namespace phonebook
