// Version exports, unmangled so that any host can look them up by name.
// The text buffers are process-wide statics, rewritten on each call with the
// same text; the returned pointer is the same on every call.
#pragma once

#include <orvex/Export.h>

#include <cwchar>

ORVEX_C_API const char* GetDllVersion();
ORVEX_C_API const wchar_t* GetDllVersionUnicode();
ORVEX_C_API int GetDllVersionMajor();
ORVEX_C_API int GetDllVersionMinor();
ORVEX_C_API int GetDllBuildNumber();
