// Times ScanCodeReferences on images already in memory: the median of RUNS
// runs per image, in milliseconds.
//
//   code_bench [--runs N] IMAGE...
#include "code/code_references.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    int cRuns = 11;
    int iArg = 1;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0)
    {
        cRuns = std::max(1, std::atoi(argv[2]));
        iArg = 3;
    }
    if (iArg >= argc)
    {
        std::fprintf(stderr, "usage: code_bench [--runs N] IMAGE...\n");
        return 2;
    }
    for (; iArg < argc; ++iArg)
    {
        std::ifstream file(argv[iArg], std::ios::binary);
        std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        PeHeaders headers;
        std::string sReason;
        if (bytes.size() > 0xFFFFFFFFu ||
            !headers.Read(bytes.data(), static_cast<DWORD>(bytes.size()), sReason))
        {
            std::fprintf(stderr, "%s: not read\n", argv[iArg]);
            continue;
        }
        std::vector<double> msRuns;
        CodeScan scan;
        for (int i = 0; i < cRuns; ++i)
        {
            auto t0 = std::chrono::steady_clock::now();
            ScanCodeReferences(headers, scan);
            auto t1 = std::chrono::steady_clock::now();
            msRuns.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        std::sort(msRuns.begin(), msRuns.end());
        std::printf("%s: %zu bytes, %u instructions, %zu fields, median %.1f ms of %d runs\n", argv[iArg],
                    bytes.size(), scan.uInstructions, scan.fields.size(), msRuns[msRuns.size() / 2], cRuns);
    }
    return 0;
}
