// File version resources: the fixed version information of a file, such as a
// driver's .sys file. Files and their resources come from the data store the
// simulators fill through <orvex/win32_driver.h>.
#pragma once

#include <orvex/win32/base.h>

#define VS_FFI_SIGNATURE 0xFEEF04BDL
#define VS_FFI_STRUCVERSION 0x00010000L
#define VOS_NT_WINDOWS32 0x00040004L
#define VFT_APP 0x00000001L
#define VFT_DLL 0x00000002L
#define VFT_DRV 0x00000003L

typedef struct tagVS_FIXEDFILEINFO {
    DWORD dwSignature; // VS_FFI_SIGNATURE
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS; // major << 16 | minor
    DWORD dwFileVersionLS; // build << 16 | revision
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

extern "C" {

// Size of the file's version block; 0 with ERROR_FILE_NOT_FOUND for no such
// file, ERROR_RESOURCE_TYPE_NOT_FOUND for a file without version resource.
// *lpdwHandle is set to 0. Paths are case-insensitive, "\" or "/". Any thread.
ORVEX_WIN32_API DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);

// Copies the version block (at most dwLen bytes) into lpData. Any thread.
ORVEX_WIN32_API BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                                LPVOID lpData);

// lpSubBlock "\": *lplpBuffer points to the VS_FIXEDFILEINFO inside pBlock
// and *puLen is its size. Other sub-blocks (string tables) are not
// supported: FALSE with ERROR_RESOURCE_TYPE_NOT_FOUND. A block that is not a
// version block: FALSE with ERROR_INVALID_DATA.
ORVEX_WIN32_API BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer,
                                           PUINT puLen);

} // extern "C"
