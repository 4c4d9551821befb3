// The file primitives under the profile store, one implementation per platform.
#pragma once

#include "port/win32.h"

#include <cstdint>
#include <string>

namespace profile_store
{
// What identifies one version of a file: a rewrite changes at least one field.
struct FileStamp
{
    bool exists = false;
    uint64_t size = 0;
    uint64_t modified = 0;
    uint64_t identity = 0;
    bool operator==(const FileStamp& o) const
    {
        return exists == o.exists && size == o.size && modified == o.modified && identity == o.identity;
    }
};

// A file name in the form the platform's own calls take, converted once per
// file so that the check before each read costs no conversion.
#ifdef _WIN32
typedef std::wstring NativeName;
#else
typedef std::string NativeName;
#endif
NativeName ToNativeName(LPCWSTR wsFile);

// withIdentity: the identity is taken even where the platform would spare it
// (Windows takes the file index only for a recent write), so that the stamp
// compares equal with one that has it.
FileStamp StampFile(const NativeName& file, bool withIdentity = false);
// Reads the whole file; false when it cannot be read (missing, a directory, locked).
bool ReadWholeFile(const NativeName& file, std::string& bytes, FileStamp& stamp);
// Writes a temporary file beside the target, flushes it and renames it over the
// target, keeping the target's permissions. Where that cannot be done but the
// file itself may be written (another program holds it open, the folder takes
// no new file, no room for a second copy, more than one name links to it), the
// file is written in place in an order that changes nothing when it fails:
// the part beyond its old end first, then the rest, then the cut to size.
// A file that is read-only or not ours to write is refused. stamp is that of
// the bytes written, taken from the written file itself, so that a later
// change by another program is never taken for this write. False when the
// write failed; the target is then unchanged.
bool ReplaceWholeFile(const NativeName& file, const std::string& bytes, FileStamp& stamp);
} // namespace profile_store
