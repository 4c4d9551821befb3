// The one matching of PO entries to a target's source texts that po check and
// po apply share, and apply's sorting of the matched translations.
#include "po/po_plan.h"

#include <gtest/gtest.h>

namespace
{
PoEntry Entry(const char* szContext, const char* szId, const char* szStr, bool fObsolete = false)
{
    PoEntry entry;
    entry.fHasContext = szContext != nullptr;
    entry.sContext = szContext != nullptr ? szContext : "";
    entry.sId = szId;
    entry.strs = {szStr};
    entry.fObsolete = fObsolete;
    return entry;
}

PoSource Resource(const char* szContext, const char* szText)
{
    return {szContext, szText, std::string(), std::string(), false, 0, true, 0, 0};
}

PoSource Rule(const char* szContext, const char* szText, UINT uRule, DWORD cbBudget)
{
    return {szContext, szText, std::string(), std::string(), true, uRule, true, cbBudget, 0};
}

const std::vector<PoSource> kSources = {Resource("MENU 1 / 0x0100", "&New"),
                                        Resource("MENU 1 / 0x0101", "&Open"),
                                        Rule("RULE 003", "Ready", 3, 10)};

TEST(PoPlan, MatchesEachLiveEntryToTheTextOfItsContext)
{
    struct Case
    {
        PoEntry entry;
        bool fRules;
        int iWeighed;         // -1: left out, 0: weighed, 1: a rule text left alone
        const char* szSource; // the context's text, null for none
        bool matched;
    };
    const Case rgCases[] = {
        {Entry("MENU 1 / 0x0100", "&New", "新建"), false, 0, "&New", true},
        {Entry("MENU 1 / 0x0100", "New", "新建"), false, 0, "&New", false}, // the program changed the text
        {Entry("MENU 1 / 0x0999", "&New", "新建"), false, 0, nullptr, false},
        {Entry("MENU 1 / 0x0101", "&Open", "", false), false, 0, "&Open",
         true}, // untranslated, still weighed
        {Entry("MENU 1 / 0x0100", "&New", "新建", true), false, -1, nullptr, false},
        {Entry(nullptr, "", "Content-Type: text/plain; charset=UTF-8\n"), false, -1, nullptr, false},
        {Entry("RULE 003", "Ready", "就绪"), false, 1, nullptr, false},
        {Entry("RULE 003", "Ready", "就绪"), true, 0, "Ready", true},
    };
    for (const Case& c : rgCases)
    {
        SCOPED_TRACE(c.entry.sContext + " " + c.entry.sId);
        const std::vector<PoEntry> entries = {c.entry};
        PoMatches matches = MatchPoEntries(entries, kSources, c.fRules);
        ASSERT_EQ(matches.entries.size(), c.iWeighed == 0 ? 1u : 0u);
        ASSERT_EQ(matches.ruleEntriesLeft.size(), c.iWeighed == 1 ? 1u : 0u);
        if (c.iWeighed != 0)
            continue;
        const PoEntryMatch& match = matches.entries[0];
        EXPECT_EQ(match.pEntry, &entries[0]);
        ASSERT_EQ(match.pSource != nullptr, c.szSource != nullptr);
        if (c.szSource != nullptr)
        {
            EXPECT_EQ(match.pSource->sText, c.szSource);
        }
        EXPECT_EQ(match.matched, c.matched);
    }
}

TEST(PoPlan, SortsTranslationsIntoResourceTextsRuleCnsAndRefusals)
{
    const std::vector<PoEntry> entries = {
        Entry("MENU 1 / 0x0100", "&New", "新建(&N)"),
        Entry("MENU 1 / 0x0101", "Open", "打开"),        // another text there now
        Entry("MENU 1 / 0x0102", "&Save", "保存"),       // no such context
        Entry("RULE 003", "Ready", "就绪"),              // 4 bytes of a budget of 10
        Entry("MENU 1 / 0x0101", "&Open", "打开", true), // obsolete: not weighed
    };
    ApplyPlan plan;
    PlanTranslations(MatchPoEntries(entries, kSources, true), plan);
    EXPECT_EQ(plan.translations, (std::map<std::string, std::string>{{"MENU 1 / 0x0100", "新建(&N)"}}));
    ASSERT_EQ(plan.ruleWrites.size(), 1u);
    EXPECT_EQ(plan.ruleWrites[0].uRule, 3u);
    EXPECT_EQ(plan.ruleWrites[0].wsCn, FromUtf8("就绪"));
    EXPECT_EQ(plan.refused, (std::vector<std::string>{
                                "MENU 1 / 0x0101 \"Open\": the target has \"&Open\" there",
                                "MENU 1 / 0x0102 \"&Save\": the target has no text of that context"}));
    EXPECT_EQ(plan.cRulesLeft, 0u);

    // Over the budget, and without the rule set: refused, then left alone.
    const std::vector<PoEntry> longer = {Entry("RULE 003", "Ready", "一个很长的翻译")};
    ApplyPlan over;
    PlanTranslations(MatchPoEntries(longer, kSources, true), over);
    EXPECT_TRUE(over.ruleWrites.empty());
    ASSERT_EQ(over.refused.size(), 1u);
    EXPECT_EQ(over.refused[0], "RULE 003 \"Ready\": the translation takes 14 bytes, over its budget of 10");
    ApplyPlan left;
    PlanTranslations(MatchPoEntries(entries, kSources, false), left);
    EXPECT_EQ(left.cRulesLeft, 1u);
    EXPECT_TRUE(left.ruleWrites.empty());
}
} // namespace
