#pragma once
// Recognising what the database's installer and the service starter printed.
// Byte-exact and case-sensitive; the Chinese texts are compared as GBK bytes.
#include <cstddef>

// The captured text begins with "Service successfully installed." or with
// "The service already exists!".
bool IsInstallAccepted(const char* text, size_t length);

// The captured text contains, anywhere, one of the four "started" texts.
bool IsStartAccepted(const char* text, size_t length);
