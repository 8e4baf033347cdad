#pragma once

// The file services of the platform the program is built for.
#ifdef _WIN32
#include "platform/win32/win32_file_services.h"
#else
#include "platform/posix/posix_file_services.h"
#endif

namespace kopiensieb {

#ifdef _WIN32
using NativeFileServices = Win32FileServices;
#else
using NativeFileServices = PosixFileServices;
#endif

}  // namespace kopiensieb
