#pragma once

// A 16-bit mono WAV file of a sine, for the editor's import and browser tests.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>

// `frames` frames of a sine at `hz`, 44.1 kHz.
inline void WriteSineWav(std::filesystem::path const& path, float hz, int frames)
{
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<char const*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<char const*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + 2 * static_cast<std::uint32_t>(frames));
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(44100);
    u32(88200);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(2 * static_cast<std::uint32_t>(frames));
    for (int i = 0; i < frames; ++i)
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(
            std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * hz * i / 44100.0)))));
}
