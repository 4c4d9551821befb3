// A private-profile (INI) store that behaves as the kernel32 functions do on
// Windows: files are edited in place line by line, UTF-16LE files (FF FE) stay
// UTF-16LE and all others are ANSI, names compare without regard to case, the
// first of duplicate sections or keys wins. Parsed files are kept and checked
// against the file's size, time and identity before each use, so reading a
// file key by key parses it once. Writes replace the file atomically.
//
// Plain C++ over a few file primitives, so that it also builds for Windows and
// can be compared there with the real functions.
#pragma once

#include "port/win32.h"

namespace profile_store
{
DWORD GetString(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsDefault, LPWSTR wsBuffer, DWORD dwSize,
                LPCWSTR wsFile);
DWORD GetStringA(LPCSTR szSection, LPCSTR szKey, LPCSTR szDefault, LPSTR szBuffer, DWORD dwSize,
                 LPCSTR szFile);
UINT GetInt(LPCWSTR wsSection, LPCWSTR wsKey, INT nDefault, LPCWSTR wsFile);
DWORD GetSection(LPCWSTR wsSection, LPWSTR wsBuffer, DWORD dwSize, LPCWSTR wsFile);
BOOL WriteString(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsValue, LPCWSTR wsFile);
BOOL WriteSection(LPCWSTR wsSection, LPCWSTR wsList, LPCWSTR wsFile);

// Holds writes back until the outermost EndDeferredWrites, which writes each
// changed file once, whole and atomically: for one action that rewrites many
// sections, such as a delete's renumbering. Reads in between see the changes.
// EndDeferredWrites returns FALSE when a file could not be written; that file
// is then unchanged on disk.
void BeginDeferredWrites();
BOOL EndDeferredWrites();

// Between BeginSnapshot and the outermost EndSnapshot a parsed file is checked
// against the disk only at its first use, and read as it stood then: one
// action that reads a file key by key, such as filling the rule list or a
// patch run, sees one version of it and pays the check once. Writes in
// between go through as always, and each starts from the file as it stands on
// disk: reads after a write see that version.
void BeginSnapshot();
void EndSnapshot();

// A snapshot for the life of a scope.
struct SnapshotScope
{
    SnapshotScope() { BeginSnapshot(); }
    ~SnapshotScope() { EndSnapshot(); }
    SnapshotScope(const SnapshotScope&) = delete;
    SnapshotScope& operator=(const SnapshotScope&) = delete;
};

// Forgets every parsed file (tests use it to measure a cold read).
void DropCache();
} // namespace profile_store
