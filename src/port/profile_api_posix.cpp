// The kernel32 private-profile functions, served by the portable store.
#include "port/profile_store.h"

DWORD GetPrivateProfileStringW(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsDefault, LPWSTR wsBuffer, DWORD dwSize,
                               LPCWSTR wsFile)
{
    return profile_store::GetString(wsSection, wsKey, wsDefault, wsBuffer, dwSize, wsFile);
}

DWORD GetPrivateProfileStringA(LPCSTR szSection, LPCSTR szKey, LPCSTR szDefault, LPSTR szBuffer, DWORD dwSize,
                               LPCSTR szFile)
{
    return profile_store::GetStringA(szSection, szKey, szDefault, szBuffer, dwSize, szFile);
}

UINT GetPrivateProfileIntW(LPCWSTR wsSection, LPCWSTR wsKey, INT nDefault, LPCWSTR wsFile)
{
    return profile_store::GetInt(wsSection, wsKey, nDefault, wsFile);
}

DWORD GetPrivateProfileSectionW(LPCWSTR wsSection, LPWSTR wsBuffer, DWORD dwSize, LPCWSTR wsFile)
{
    return profile_store::GetSection(wsSection, wsBuffer, dwSize, wsFile);
}

BOOL WritePrivateProfileStringW(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsValue, LPCWSTR wsFile)
{
    return profile_store::WriteString(wsSection, wsKey, wsValue, wsFile);
}

BOOL WritePrivateProfileSectionW(LPCWSTR wsSection, LPCWSTR wsList, LPCWSTR wsFile)
{
    return profile_store::WriteSection(wsSection, wsList, wsFile);
}
