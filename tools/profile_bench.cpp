// Measures reading a 10,000-rule set the way the rule list does: every rule's
// EN, CN and four switches, key by key, starting from a cold store each run.
#include "port/profile_store.h"
#include "port/native_path.h"
#include "rules/rule_set.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    const unsigned kRules = 10000;
    int runs = argc > 1 ? std::atoi(argv[1]) : 9;
    std::string path = "/tmp/pivra-bench-" + std::to_string(getpid()) + ".ini";
    {
        std::ofstream out(path, std::ios::binary);
        out << "[Config]\r\nFILE=C:\\target.exe\r\n";
        for (unsigned n = 1; n <= kRules; ++n)
        {
            char szNode[16];
            std::snprintf(szNode, sizeof(szNode), "%03u", n);
            out << "[" << szNode << "]\r\nEN=Source text number " << n << "\\r\\n\r\nCN=\xD2\xEB\xCE\xC4 " << n
                << "\r\nX86=1\r\nX64=" << (n % 2) << "\r\nUNICODE=1\r\nREPEAT=" << (n % 3 == 0) << "\r\n";
        }
    }
    std::u16string wsFile = Utf8ToUtf16(path);
    std::vector<double> seconds;
    UINT uCount = 0;
    for (int run = 0; run < runs; ++run)
    {
        profile_store::DropCache();
        auto start = std::chrono::steady_clock::now();
        uCount = ReadRuleList(wsFile.c_str(), [](void*, const PatchRule&) {}, nullptr);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::remove(path.c_str());
    std::sort(seconds.begin(), seconds.end());
    std::printf("read %u rules (6 reads each) from a cold store: median %.4f s, min %.4f s, max %.4f s over %d runs\n",
                uCount, seconds[seconds.size() / 2], seconds.front(), seconds.back(), runs);
    return uCount == kRules ? 0 : 1;
}
