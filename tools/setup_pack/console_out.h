#pragma once
// Output of the tool: UTF-8 text to pipes and files, UTF-16 to a console, so
// Chinese names read correctly whatever the console's code page.
#include <string>

void PrintOut(const std::string& utf8Line); // a newline is added
void PrintError(const std::string& utf8Line);
