// The image map on arbitrary bytes: it must stay inside the buffer and end,
// every span and text must lie inside the bytes, and Lookup must give, for a
// sample of offsets, the shortest span that covers the offset (the earliest of
// equals), as a plain search over all spans finds it.
//
// Input: the bytes of the image.
#include "image/image_map.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
const size_t kMaxImage = 1 << 20;
const size_t kSampleSpans = 64;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// The span a plain search finds for the offset, or nullptr.
const ImageSpan* Shortest(const std::vector<ImageSpan>& spans, DWORD dwOffset)
{
    const ImageSpan* pBest = nullptr;
    for (const ImageSpan& span : spans)
        if (dwOffset >= span.dwStart && dwOffset < span.dwEnd &&
            (pBest == nullptr || span.dwEnd - span.dwStart < pBest->dwEnd - pBest->dwStart))
            pBest = &span;
    return pBest;
}

void CheckLookup(const CImageMap& map, DWORD dwOffset)
{
    const ImageSpan* pExpected = Shortest(map.Spans(), dwOffset);
    ImageByteInfo info = map.Lookup(dwOffset);
    if (pExpected == nullptr)
    {
        Check(info.kind == kByteOutside && info.pText == nullptr);
        return;
    }
    Check(info.psLabel == &pExpected->sLabel);
    Check(info.kind == pExpected->kind);
    Check((info.pText != nullptr) == pExpected->fText);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxImage)
        return 0;
    // A copy of exactly the input's size, so a read past its end is caught.
    BYTE* pView = new BYTE[size];
    std::memcpy(pView, data, size);
    CImageMap map;
    int pe = map.Load(pView, static_cast<DWORD>(size));
    Check(pe == 1 || map.Spans().empty());
    for (const ImageSpan& span : map.Spans())
    {
        Check(span.dwStart < span.dwEnd && span.dwEnd <= size);
        if (span.fText)
            Check(span.text.dwStart == span.dwStart && span.text.cbText <= span.dwEnd - span.dwStart);
    }
    for (const ImageResource& r : map.Resources())
        Check(r.dwOffset == kNoImageOffset || r.dwOffset < size);
    for (const ImageSection& s : map.Sections())
        Check(s.dwRawOffset <= size && s.dwRawSize <= size - s.dwRawOffset);
    Check(map.HeadersEnd() <= size);

    const std::vector<ImageSpan>& spans = map.Spans();
    size_t cStep = spans.size() / kSampleSpans + 1;
    for (size_t i = 0; i < spans.size(); i += cStep)
    {
        const ImageSpan& span = spans[i];
        CheckLookup(map, span.dwStart);
        CheckLookup(map, span.dwEnd - 1);
        CheckLookup(map, span.dwEnd);
    }
    CheckLookup(map, static_cast<DWORD>(size));
    for (DWORD dw = 0; dw < size; dw += 4093)
    {
        CheckLookup(map, dw);
        int i = map.SectionIndexOf(dw);
        int iExpected = dw < map.HeadersEnd() ? kImageInHeaders : kImageOutsideSections;
        for (size_t j = 0; j < map.Sections().size(); ++j)
            if (dw >= map.Sections()[j].dwRawOffset &&
                dw - map.Sections()[j].dwRawOffset < map.Sections()[j].dwRawSize)
            {
                iExpected = static_cast<int>(j);
                break;
            }
        Check(i == iExpected);
    }
    delete[] pView;
    return 0;
}
