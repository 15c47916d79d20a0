// How a text value is written into a profile file on every platform.
#pragma once

#include <string>

// A value is one line of the file. Line breaks inside it would end the line
// and turn the rest of the text into stray lines (or even a section header),
// so they are written as \n and \r, and a backslash as \\.
std::string escape_profile_value(const char* value);
