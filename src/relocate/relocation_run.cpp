#include "relocate/relocation_run.h"

void RunRelocating(LPCWSTR wsRuleFile, const BYTE* pTarget, DWORD cbTarget, const CImageMap* pMap,
                   const FnDryProgress& fnProgress, RelocatingRun& run)
{
    run = RelocatingRun();
    std::vector<BYTE> patched(pTarget, pTarget + cbTarget);
    DryRunPatch(wsRuleFile, patched.data(), cbTarget, pTarget, run.dry, fnProgress, pMap, true);
    run.uTried = run.dry.uTried;
    run.uModified = run.dry.uModified;
    run.planOf.assign(run.dry.rules.size(), -1);
    std::vector<RelocationRequest> requests;
    for (size_t i = 0; i < run.dry.rules.size(); ++i)
    {
        const DryRule& rule = run.dry.rules[i];
        if (rule.outcome != kDryCnLonger)
            continue;
        run.planOf[i] = static_cast<int>(requests.size());
        requests.push_back(
            {rule.number, rule.unicode, rule.enBytes, rule.cnBytes, rule.longerAt, rule.repeat});
    }
    PeHeaders headers;
    if (!headers.Read(patched.data(), cbTarget, run.sNoImage))
    {
        run.sNoImage = "the target " + run.sNoImage + ": nothing in it can be relocated";
        run.plan.rules.resize(requests.size());
        for (size_t i = 0; i < requests.size(); ++i)
        {
            run.plan.rules[i].uRule = requests[i].uRule;
            run.plan.rules[i].sReason = run.sNoImage;
        }
        run.image.swap(patched);
        return;
    }
    CReferenceIndex index;
    if (!requests.empty())
        index.Build(headers);
    PlanRelocations(headers, index, requests, run.plan);
    run.image = patched;
    WriteRelocations(headers, run.plan, run.image);
    run.uModified += run.plan.Relocated();
}
