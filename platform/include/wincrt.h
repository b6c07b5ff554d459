// The C runtime's path helpers that Windows code calls beside the Windows API.
//
// Both '\' and '/' separate directories. The secure forms check every buffer: a null path or a
// buffer whose pointer and size disagree gives EINVAL, a buffer that is too small gives ERANGE,
// and on either error every output buffer given is left empty. errno is set to the result too.
#pragma once

#include "windef.h"

#include <cerrno>

typedef int errno_t;

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

extern "C" {
errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveNumberOfElements, WCHAR* dir,
    size_t dirNumberOfElements, WCHAR* fname, size_t nameNumberOfElements, WCHAR* ext, size_t extNumberOfElements);
// The directory gets a separator when it lacks one: '/' if it already uses '/', else '\'.
errno_t _wmakepath_s(
    WCHAR* path, size_t sizeInWords, const WCHAR* drive, const WCHAR* dir, const WCHAR* fname, const WCHAR* ext);
}
