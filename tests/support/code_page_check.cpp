// Every test executable checks that texts meet the ANSI code page the tool is
// made for: under Wine, 1252 appears silently when the zh_CN.UTF-8 locale is
// missing, and every ANSI result would then be wrong in quiet ways.
#include "port/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
class CodePageCheck : public testing::Environment
{
  public:
    void SetUp() override
    {
        // A run may ask for another code page on purpose (PIVRA_EXPECTED_ACP).
        const char* szExpected = std::getenv("PIVRA_EXPECTED_ACP");
        UINT uExpected =
            szExpected != nullptr ? static_cast<UINT>(std::strtoul(szExpected, nullptr, 10)) : 936u;
        ASSERT_EQ(uExpected, GetACP())
            << "the ANSI code page must be 936 (GBK); under Wine generate the zh_CN.UTF-8 "
               "locale (scripts/setup) and run through scripts/wine-run";
    }
};

const testing::Environment* const g_codePageCheck = testing::AddGlobalTestEnvironment(new CodePageCheck);
} // namespace
