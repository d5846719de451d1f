// Filters run side by side (StereoFilter::FilterTogether, one filter per register lane) give
// every sample and every history value the float that each filter's own RenderStereo gives.

#include "dsp/StereoFilter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/Simd.h"
#include "framework/Random.h"

namespace
{

// Four differently set filters: types, cutoffs and resonances apart.
std::vector<std::unique_ptr<StereoFilter>> MakeFilters(int count)
{
    std::vector<std::unique_ptr<StereoFilter>> filters;
    for (int k = 0; k < count; ++k)
    {
        auto f = std::make_unique<StereoFilter>();
        f->SetSampleRate(44100.0f);
        f->enabled.SetBool(true);
        f->type = static_cast<float>(k % 3);
        f->cutoff = 300.0f + 1700.0f * static_cast<float>(k);
        f->resonance = 3.0f + 4.0f * static_cast<float>(k);
        filters.push_back(std::move(f));
    }
    return filters;
}

bool SameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void ExpectSameHistory(StereoFilter const& a, StereoFilter const& b)
{
    for (auto side : {&StereoFilter::GetLeft, &StereoFilter::GetRight})
    {
        FlexiFilter const& x = (a.*side)();
        FlexiFilter const& y = (b.*side)();
        EXPECT_TRUE(SameBits(x.x1, y.x1) && SameBits(x.x2, y.x2) && SameBits(x.y1, y.y1) &&
                    SameBits(x.y2, y.y2));
    }
}

} // namespace

TEST(FilterTogether, EveryPathLaneCountAndChunkLengthMatchesEachFilterAlone)
{
    for (Simd::Path path : {Simd::Path::SSE2, Simd::Path::AVX2})
    {
        if (!Simd::Force(path)) continue;
        SCOPED_TRACE(path == Simd::Path::AVX2 ? "AVX2" : "SSE2");
        for (int count = 1; count <= 4; ++count)
            for (long len : {1L, 3L, 4L, 7L, 32L})
            {
                SCOPED_TRACE(std::to_string(count) + " filters, chunks of " + std::to_string(len));
                auto alone = MakeFilters(count);
                auto together = MakeFilters(count);
                Random rng(static_cast<std::uint32_t>(count * 100 + len));
                const long total = 8 * len;
                std::vector<std::vector<float>> a(2 * count), b(2 * count);
                for (int c = 0; c < 2 * count; ++c)
                {
                    a[c].resize(static_cast<size_t>(total));
                    for (float& v : a[c])
                        v = rng.NextSignedFloat();
                    b[c] = a[c];
                }
                for (long pos = 0; pos < total; pos += len)
                {
                    // The cutoff moves between chunks: new coefficients for every chunk.
                    for (int k = 0; k < count; ++k)
                    {
                        const float cutoff = 400.0f + 50.0f * static_cast<float>(pos + k);
                        alone[k]->cutoff = cutoff;
                        together[k]->cutoff = cutoff;
                        float* l = a[2 * k].data() + pos;
                        float* r = a[2 * k + 1].data() + pos;
                        alone[k]->RenderStereo(l, r, l, r, len);
                    }
                    StereoFilter* f[4];
                    float* l[4];
                    float* r[4];
                    for (int k = 0; k < count; ++k)
                    {
                        ASSERT_TRUE(together[k]->BeginChunk(len));
                        f[k] = together[k].get();
                        l[k] = b[2 * k].data() + pos;
                        r[k] = b[2 * k + 1].data() + pos;
                    }
                    StereoFilter::FilterTogether(f, count, l, r, len);
                    for (int k = 0; k < count; ++k)
                        together[k]->EndChunk();
                }
                for (int c = 0; c < 2 * count; ++c)
                    for (long i = 0; i < total; ++i)
                        ASSERT_TRUE(SameBits(a[c][static_cast<size_t>(i)], b[c][static_cast<size_t>(i)]))
                            << "channel " << c << " sample " << i;
                for (int k = 0; k < count; ++k)
                    ExpectSameHistory(*alone[k], *together[k]);
            }
    }
    Simd::Unforce();
}

TEST(FilterTogether, ALaneThatTurnsInfiniteIsFlushedAloneAndAnOffFilterIsNotSetUp)
{
    auto filters = MakeFilters(3);
    std::vector<float> ch[6];
    for (auto& c : ch)
        c.assign(32, 0.25f);
    ch[2][5] = std::numeric_limits<float>::infinity(); // filter 1, left
    StereoFilter* f[3];
    float* l[3];
    float* r[3];
    for (int k = 0; k < 3; ++k)
    {
        ASSERT_TRUE(filters[k]->BeginChunk(32));
        f[k] = filters[k].get();
        l[k] = ch[2 * k].data();
        r[k] = ch[2 * k + 1].data();
    }
    StereoFilter::FilterTogether(f, 3, l, r, 32);
    for (int k = 0; k < 3; ++k)
        filters[k]->EndChunk();
    EXPECT_EQ(filters[1]->GetLeft().y1, 0.0f);
    EXPECT_NE(filters[1]->GetRight().y1, 0.0f);
    EXPECT_NE(filters[0]->GetLeft().y1, 0.0f);
    EXPECT_NE(filters[2]->GetLeft().y1, 0.0f);

    filters[0]->enabled.SetBool(false);
    EXPECT_FALSE(filters[0]->BeginChunk(32));
    EXPECT_FALSE(filters[1]->BeginChunk(0));
    EXPECT_FALSE(filters[1]->BeginChunk(StereoFilter::kChunk + 1));
}

TEST(SimdPath, SSE2IsAlwaysThereAndForcingAnUnsupportedPathChangesNothing)
{
    EXPECT_TRUE(Simd::Supported(Simd::Path::SSE2));
    EXPECT_TRUE(Simd::Force(Simd::Path::SSE2));
    EXPECT_EQ(Simd::Active(), Simd::Path::SSE2);
    if (!Simd::Supported(Simd::Path::AVX2))
    {
        EXPECT_FALSE(Simd::Force(Simd::Path::AVX2));
        EXPECT_EQ(Simd::Active(), Simd::Path::SSE2);
    }
    Simd::Unforce();
    EXPECT_EQ(Simd::Active(), Simd::Supported(Simd::Path::AVX2) ? Simd::Path::AVX2 : Simd::Path::SSE2);
}
