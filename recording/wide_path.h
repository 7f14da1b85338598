// Converts wide (UTF-16) paths to the UTF-8 byte form by which every file is opened.
#pragma once

#include <string>

// Returns the UTF-8 form of a wide string; unpaired surrogates become U+FFFD.
std::string wideToUtf8(const std::wstring& wide);
