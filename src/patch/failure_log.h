// The failure log beside the executable: UTF-16LE with FF FE, one line per
// call, each opened, appended and closed on its own.
#pragma once

#include "port/win32.h"

// The running executable's path with its extension replaced by "log" (or
// "log" appended to a name without a dot), in kPathChars units.
void GetLogFile(LPWSTR wsLog);

// "[yyyy-mm-dd hh:mm:ss.mmm] " into cchStamp units, cut if longer.
void FormatLogStamp(LPWSTR wsStamp, UINT cchStamp, const SYSTEMTIME& stTime);

// Appends the time stamp, the text and CR LF to the log file. A file that
// cannot be opened loses the line silently.
void WriteLogTo(LPCWSTR wsLogFile, LPCWSTR wsText);
void WriteLog(LPCWSTR wsText);
