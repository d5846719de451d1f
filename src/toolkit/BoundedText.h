#pragma once

#include <cstddef>

// Copies at most maxBytes bytes of text into out (which holds maxBytes + 1), never cutting a
// UTF-8 character in two; a null text gives "". Returns the bytes copied.
std::size_t CopyBoundedText(char* out, char const* text, std::size_t maxBytes);
