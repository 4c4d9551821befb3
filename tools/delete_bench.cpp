// Measures deleting a rule near the top of a large set: the renumbering moves
// every later section down one number.
#include "port/native_path.h"
#include "port/profile_store.h"
#include "rules/rule_set.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    unsigned uRules = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 5000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string path = "/tmp/pivra-delete-bench-" + std::to_string(getpid()) + ".ini";
    std::u16string wsFile = Utf8ToUtf16(path);
    std::vector<double> seconds;
    int moved = 0;
    for (int run = 0; run < runs; ++run)
    {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << "\xFF\xFE";
            std::u16string text = u"[Config]\r\nFILE=C:\\target.exe\r\n";
            for (unsigned n = 1; n <= uRules; ++n)
            {
                char szNode[16];
                std::snprintf(szNode, sizeof(szNode), "%03u", n);
                text += u"[" + Utf8ToUtf16(szNode) + u"]\r\nEN=Source text number " +
                        Utf8ToUtf16(std::to_string(n)) + u"\r\nCN=\u8bd1\u6587\r\nREPEAT=1\r\n";
            }
            out.write(reinterpret_cast<const char*>(text.data()),
                      static_cast<std::streamsize>(text.size() * 2));
        }
        profile_store::DropCache();
        auto start = std::chrono::steady_clock::now();
        moved = DeleteRule(wsFile.c_str(), 2);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::remove(path.c_str());
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "delete rule 2 of %u (%d sections moved): median %.3f s, min %.3f s, max %.3f s over %d runs\n",
        uRules, moved, seconds[seconds.size() / 2], seconds.front(), seconds.back(), runs);
    return moved == static_cast<int>(uRules) - 2 ? 0 : 1;
}
