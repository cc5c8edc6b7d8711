#pragma once
// What the source manager remembers between scans, in one small text file of
// "key=value" lines in the user's configuration folder: the default scanner, and per
// scanner the last scan area and resolution. Read afresh on every use, since the user
// may scan from another instance of the program in between.

#include <string>

std::string StoredDefault();
void StoreDefault(const std::string& device);

// The area (mm) and resolution last scanned with one scanner. The resolution is kept
// with the one the application asked for then: when the application asks for another
// one (the user changed the options), that request wins over the memory.
struct TRememberedScan {
    bool HasArea = false;
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
    double AskedDpi = 0;   // 0: nothing remembered
    double ChosenDpi = 0;
};
TRememberedScan Remembered(const std::string& device);
void Remember(const std::string& device, const TRememberedScan& scan);
