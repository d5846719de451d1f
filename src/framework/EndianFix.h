#pragma once

// Reverses `count` bytes in place (byte i swaps with byte count-1-i); 0 and 1 byte stay as they
// are. Stored values are little-endian on every host: a big-endian build turns each field
// around with this before use and before writing.
inline void _EndianFix(char* bytes, int count)
{
    if (bytes == nullptr) return;
    for (int i = 0; i < count / 2; ++i)
    {
        char const t = bytes[i];
        bytes[i] = bytes[count - 1 - i];
        bytes[count - 1 - i] = t;
    }
}
