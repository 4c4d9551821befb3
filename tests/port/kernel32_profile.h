// The real kernel32 private-profile functions, the store's reference. Their
// names are routed to the store by port/profile_api.h, so they are taken from
// kernel32 by name.
#pragma once

#include "port/profile_store.h"
#include "port/win32.h"

#include <type_traits>

struct Kernel32Profile
{
    DWORD(WINAPI* GetStringW)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    DWORD(WINAPI* GetStringA)(LPCSTR, LPCSTR, LPCSTR, LPSTR, DWORD, LPCSTR);
    UINT(WINAPI* GetInt)(LPCWSTR, LPCWSTR, INT, LPCWSTR);
    DWORD(WINAPI* GetSection)(LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    BOOL(WINAPI* WriteString)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR);
    BOOL(WINAPI* WriteSection)(LPCWSTR, LPCWSTR, LPCWSTR);
};

// A pointer is null when kernel32 lacks the function (see Kernel32Loaded).
inline const Kernel32Profile& Kernel32()
{
    static const Kernel32Profile k32 = [] {
        Kernel32Profile k = {};
        HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
        auto get = [hKernel](auto& fn, const char* szName) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                reinterpret_cast<void*>(GetProcAddress(hKernel, szName)));
        };
        get(k.GetStringW, "GetPrivateProfileStringW");
        get(k.GetStringA, "GetPrivateProfileStringA");
        get(k.GetInt, "GetPrivateProfileIntW");
        get(k.GetSection, "GetPrivateProfileSectionW");
        get(k.WriteString, "WritePrivateProfileStringW");
        get(k.WriteSection, "WritePrivateProfileSectionW");
        return k;
    }();
    return k32;
}

inline bool Kernel32Loaded()
{
    const Kernel32Profile& k = Kernel32();
    return k.GetStringW && k.GetStringA && k.GetInt && k.GetSection && k.WriteString && k.WriteSection;
}

// One side of a comparison, kernel32 or the store, called alike.
struct ProfileApi
{
    DWORD (*GetStringW)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    DWORD (*GetStringA)(LPCSTR, LPCSTR, LPCSTR, LPSTR, DWORD, LPCSTR);
    UINT (*GetInt)(LPCWSTR, LPCWSTR, INT, LPCWSTR);
    DWORD (*GetSection)(LPCWSTR, LPWSTR, DWORD, LPCWSTR);
    BOOL (*WriteString)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR);
    BOOL (*WriteSection)(LPCWSTR, LPCWSTR, LPCWSTR);
};

inline const ProfileApi kKernel32 = {
    [](LPCWSTR s, LPCWSTR k, LPCWSTR d, LPWSTR b, DWORD n, LPCWSTR f) {
        return Kernel32().GetStringW(s, k, d, b, n, f);
    },
    [](LPCSTR s, LPCSTR k, LPCSTR d, LPSTR b, DWORD n, LPCSTR f) {
        return Kernel32().GetStringA(s, k, d, b, n, f);
    },
    [](LPCWSTR s, LPCWSTR k, INT d, LPCWSTR f) { return Kernel32().GetInt(s, k, d, f); },
    [](LPCWSTR s, LPWSTR b, DWORD n, LPCWSTR f) { return Kernel32().GetSection(s, b, n, f); },
    [](LPCWSTR s, LPCWSTR k, LPCWSTR v, LPCWSTR f) { return Kernel32().WriteString(s, k, v, f); },
    [](LPCWSTR s, LPCWSTR l, LPCWSTR f) { return Kernel32().WriteSection(s, l, f); }};
inline const ProfileApi kStore = {profile_store::GetString,   profile_store::GetStringA,
                                  profile_store::GetInt,      profile_store::GetSection,
                                  profile_store::WriteString, profile_store::WriteSection};
