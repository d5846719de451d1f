#pragma once

// Helpers shared by the modulation and layer tests: streams to and from byte vectors, a
// little-endian stream builder, and simple modulation sources and targets.

#include "dsp/Envelope.h"
#include "engine/TMod.h"
#include "framework/Streams.h"
#include "framework/String.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace modtest
{
using Bytes = std::vector<unsigned char>;
// (time, value) of each point of a one-value curve.
using Points = std::vector<std::pair<float, float>>;

template <class F> Bytes SaveBytes(F&& save)
{
    String block;
    StringWriter w;
    w.Open(&block);
    save(w);
    w.Close();
    char const* p = block;
    return Bytes(p, p + block.GetLength());
}

inline void Open(StringReader& r, Bytes const& b)
{
    r.Open(reinterpret_cast<char const*>(b.data()), b.size());
}

// Builds a stream by hand, field by field, little-endian.
class Builder
{
public:
    Builder& F(float v)
    {
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        return U(u);
    }
    Builder& I(std::int32_t v) { return U(static_cast<std::uint32_t>(v)); }
    Builder& B(bool v)
    {
        bytes.push_back(v ? 1 : 0);
        return *this;
    }
    Builder& Append(Bytes const& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    Bytes const& Get() const { return bytes; }

private:
    Builder& U(std::uint32_t u)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<unsigned char>(u >> (8 * i)));
        return *this;
    }
    Bytes bytes;
};

// A source whose output k is flat at value + k, counting its calls.
class CountingSource : public TModSource
{
public:
    explicit CountingSource(float v = 0.5f, int outputs = 1) : TModSource(outputs), value(v) {}
    void CreateModEnvelope(Envelope* out, long length, int output) override
    {
        ++calls;
        out->AddBreakpoint(0.0f, value + static_cast<float>(output));
        out->AddBreakpoint(static_cast<float>(length), value + static_cast<float>(output));
    }
    float value;
    int calls = 0;
};

class RecordingTarget : public TModTarget
{
public:
    explicit RecordingTarget(int inputs = 7) : TModTarget(inputs) {}
    void ReceivedModValues(int input) override { received.push_back(input); }
    std::vector<int> received;
};

// Value k = 0 of an envelope at t, through a fresh context.
inline float At(Envelope const& e, float t)
{
    EnvelopeContext ctx;
    return e.ValueAtTime(t, 0, &ctx, false);
}
} // namespace modtest
