// The real kernel32 private-profile functions, the store's reference. Their
// names are routed to the store by port/profile_api.h, so they are taken from
// kernel32 by name.
#pragma once

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
