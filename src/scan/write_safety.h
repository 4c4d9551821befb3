// Whether a write of the patch run leaves a PE image whole, judged by the map
// of the untouched image: a write that changes what the loader or a resource
// reader takes as structure breaks the image, one that changes only text does not.
#pragma once

#include "image/image_map.h"

#include <string>

struct UnsafeWrite
{
    DWORD dwAt;    // where the write begins
    DWORD dwFault; // the first byte whose change breaks the image
    std::string sReason;
};

// Why the write of cb bytes at dwAt, which held pOld and now hold what pView
// shows there, breaks the image; false when it does not.
bool JudgeWrite(const CImageMap& map, const BYTE* pView, DWORD cbView, DWORD dwAt, const BYTE* pOld, DWORD cb,
                UnsafeWrite& unsafe);

// Whether cb bytes at dwAt are part of a longer text: inside a resource text,
// that text goes on before or after them; elsewhere a printable unit of cbUnit
// bytes stands right before or after them.
bool InsideLongerText(const CImageMap& map, const BYTE* pBytes, DWORD cbBytes, DWORD dwAt, DWORD cb,
                      DWORD cbUnit);
