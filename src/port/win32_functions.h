// The Win32 functions the portable core calls, with their Win32 signatures and
// contracts, implemented over POSIX for non-Windows builds.
#pragma once

#include "port/win32_types.h"

DWORD GetLastError();
void SetLastError(DWORD dwError);

// Text in the system's ANSI code page (936 here, as on a Chinese Windows).
UINT GetACP();
int MultiByteToWideChar(UINT uCodePage, DWORD dwFlags, LPCSTR szSrc, int cbSrc, LPWSTR wsDst, int cchDst);
int WideCharToMultiByte(UINT uCodePage, DWORD dwFlags, LPCWSTR wsSrc, int cchSrc, LPSTR szDst, int cbDst,
                        LPCSTR szDefault, LPBOOL pUsedDefault);

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR wsFile, DWORD dwSize);
void GetLocalTime(LPSYSTEMTIME pstTime);

// Files. Paths are UTF-16 with '\' or '/' separators. Share mode 0 takes an
// exclusive lock that fails at once while another holder has the file.
HANDLE CreateFileW(LPCWSTR wsFile, DWORD dwAccess, DWORD dwShare, void* pSecurity, DWORD dwDisposition,
                   DWORD dwFlags, HANDLE hTemplate);
BOOL CloseHandle(HANDLE hObject);
DWORD GetFileSize(HANDLE hFile, LPDWORD pdwSizeHigh);
BOOL ReadFile(HANDLE hFile, LPVOID pBuffer, DWORD dwToRead, LPDWORD pdwRead, void* pOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID pBuffer, DWORD dwToWrite, LPDWORD pdwWritten, void* pOverlapped);
DWORD SetFilePointer(HANDLE hFile, LONG lDistance, PLONG plDistanceHigh, DWORD dwMethod);
BOOL SetEndOfFile(HANDLE hFile);
BOOL DeleteFileW(LPCWSTR wsFile);
// Size, links and identity of an open file; times as FILETIME (100 ns since 1601).
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION pInfo);

HANDLE CreateFileMappingW(HANDLE hFile, void* pSecurity, DWORD dwProtect, DWORD dwSizeHigh, DWORD dwSizeLow,
                          LPCWSTR wsName);
LPVOID MapViewOfFile(HANDLE hMapping, DWORD dwAccess, DWORD dwOffsetHigh, DWORD dwOffsetLow, SIZE_T cbSize);
BOOL UnmapViewOfFile(LPCVOID pView);

// The private-profile (INI) functions; see port/profile_store.h for the engine.
DWORD GetPrivateProfileStringW(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsDefault, LPWSTR wsBuffer,
                               DWORD dwSize, LPCWSTR wsFile);
DWORD GetPrivateProfileStringA(LPCSTR szSection, LPCSTR szKey, LPCSTR szDefault, LPSTR szBuffer, DWORD dwSize,
                               LPCSTR szFile);
UINT GetPrivateProfileIntW(LPCWSTR wsSection, LPCWSTR wsKey, INT nDefault, LPCWSTR wsFile);
DWORD GetPrivateProfileSectionW(LPCWSTR wsSection, LPWSTR wsBuffer, DWORD dwSize, LPCWSTR wsFile);
BOOL WritePrivateProfileStringW(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsValue, LPCWSTR wsFile);
BOOL WritePrivateProfileSectionW(LPCWSTR wsSection, LPCWSTR wsList, LPCWSTR wsFile);
