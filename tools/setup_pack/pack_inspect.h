#pragma once
// The "inspect", "verify" and "extract" commands on a built setup program.
// Each prints its findings and returns the process exit code.
#include <string>

int RunInspect(const std::wstring& setupExe);
int RunVerify(const std::wstring& setupExe);
// A program that does not match its digest is refused unless ignoreDigest.
int RunExtract(const std::wstring& setupExe, const std::wstring& folder, bool ignoreDigest);

// A FILETIME as "2012-02-03 10:20:30.1234567" (UTC), or its raw value.
std::string FormatFileTime(unsigned low, unsigned high);
