// How a command ends: its JSON document or text, and the one form of a
// message for input it cannot use.
#pragma once

#include "util/wstring.h"

#include <nlohmann/json.hpp>

// Members in the order written, as the README documents them.
typedef nlohmann::ordered_json Json;

#include <string>

const int kExitDone = 0;        // every tried rule changed (or would change) the file
const int kExitRulesFailed = 1; // some tried rule failed
const int kExitBadInput = 2;    // bad usage, or input that cannot be used; nothing written

struct CliContext
{
    const char* szCommand;
    bool json;
};

// Tells "pivra-cli: FILE: REASON" on standard error and, with --json, the
// error document on standard output; returns kExitBadInput.
int ReportBadInput(const CliContext& cli, const WString& wsFile, const std::string& sReason);
// The message alone, and the "error" member of a document, for a command that
// stops part-way and still reports what it did before.
void TellBadInput(const CliContext& cli, const WString& wsFile, const std::string& sReason);
Json BadInputJson(const WString& wsFile, const std::string& sReason);
void PrintJson(const Json& doc);
// The reason for a target of cb bytes that a command ran out of memory on.
std::string OutOfMemoryReason(unsigned long long cb);
