#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/gfx/Images.h"

// cairo and fontconfig keep process-wide caches (faces, patterns, surfaces of the font cache)
// that a leak checker would report; they are released after the last test.
int main(int argc, char** argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    int result = RUN_ALL_TESTS();
    gfx::ReleaseProcessCaches();
    return result;
}
