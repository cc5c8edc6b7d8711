#pragma once
// Names of the TWAIN constants, for the module's reports.

#include "scan/TW_Const.h"

#include <string>

struct TTwainName {
    const char* Name;
    TW_UINT16 Value;
};

extern const TTwainName ReturnCodeNames[];
extern const int ReturnCodeCount;
extern const TTwainName ConditionCodeNames[];
extern const int ConditionCodeCount;
extern const TTwainName CapabilityNames[];
extern const int CapabilityCount;
extern const TTwainName ContainerNames[];
extern const int ContainerCount;
extern const TTwainName ItemTypeNames[];
extern const int ItemTypeCount;
extern const TTwainName XferMechNames[];
extern const int XferMechCount;

// Copies into `dest` the name of the first of the first `count` entries of `table`
// holding `value` and returns true; without a match `dest` keeps its text.
bool MatchTwainInt(const TTwainName* table, int count, TW_UINT16 value, std::string& dest);
