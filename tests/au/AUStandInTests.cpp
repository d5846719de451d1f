// The stand-in platform layer: CoreFoundation objects, the String conversions to and from
// CFStrings, byte reversal and registration files.

#include <gtest/gtest.h>

#include <cstring>

#include "authost/AUHost.h"
#include "framework/EndianFix.h"
#include "framework/String.h"
#include "platform/au/CoreFoundation.h"

namespace
{
CFStringRef Make(char const* bytes, CFStringEncoding encoding)
{
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<std::uint8_t const*>(bytes),
                                   static_cast<CFIndex>(std::strlen(bytes)), encoding, false);
}
} // namespace

TEST(CFStrings, EncodingsAcceptWhatTheyCanExpress)
{
    struct Row
    {
        char const* bytes;
        CFStringEncoding encoding;
        char const* utf8; // null: refused
        CFIndex length;
    };
    for (Row const& row : {
             Row{"Gain", kCFStringEncodingASCII, "Gain", 4},
             Row{"caf\xC3\xA9", kCFStringEncodingASCII, nullptr, 0},
             Row{"caf\xC3\xA9", kCFStringEncodingUTF8, "caf\xC3\xA9", 4},
             Row{"\xF0\x9F\x8E\xB9", kCFStringEncodingUTF8, "\xF0\x9F\x8E\xB9", 2}, // two UTF-16 units
             Row{"bad\xC3", kCFStringEncodingUTF8, nullptr, 0},
             Row{"\xC0\xAF", kCFStringEncodingUTF8, nullptr, 0}, // overlong
             Row{"1 : X", kCFStringEncodingMacJapanese, "1 : X", 5},
             Row{"a\xE9z", kCFStringEncodingMacJapanese, "a?z", 3},
             Row{"x", 0x12345, nullptr, 0},
         })
    {
        CFStringRef s = Make(row.bytes, row.encoding);
        if (row.utf8 == nullptr)
        {
            EXPECT_EQ(s, nullptr) << row.bytes;
            continue;
        }
        ASSERT_NE(s, nullptr) << row.bytes;
        EXPECT_STREQ(CFStringGetUTF8Text(s), row.utf8);
        EXPECT_EQ(CFStringGetLength(s), row.length);
        EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
        CFRelease(s);
    }
}

TEST(CFStrings, CStringCopiesOnlyWhatFits)
{
    CFStringRef s = Make("Tune", kCFStringEncodingASCII);
    char buffer[8];
    EXPECT_TRUE(CFStringGetCString(s, buffer, 5, kCFStringEncodingASCII));
    EXPECT_STREQ(buffer, "Tune");
    EXPECT_FALSE(CFStringGetCString(s, buffer, 4, kCFStringEncodingASCII));
    EXPECT_STREQ(buffer, "");
    CFRelease(s);
    CFStringRef accented = Make("\xC3\xA9t\xC3\xA9", kCFStringEncodingUTF8);
    EXPECT_FALSE(CFStringGetCString(accented, buffer, 8, kCFStringEncodingASCII));
    EXPECT_TRUE(CFStringGetCString(accented, buffer, 8, kCFStringEncodingUTF8));
    CFRelease(accented);
}

TEST(CFObjects, CountsAndDictionariesRetainTheirValues)
{
    long const live = CFLiveObjectCount();
    std::uint8_t const bytes[] = {1, 2, 3};
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, bytes, 3);
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFStringRef key = Make("block", kCFStringEncodingASCII);
    CFDictionarySetValue(d, key, data);
    EXPECT_EQ(CFGetRetainCount(data), 2);
    CFRelease(data);
    CFRelease(key);
    // Keys compare by text.
    auto const found = static_cast<CFDataRef>(CFDictionaryGetValue(d, CFSTR("block")));
    ASSERT_EQ(found, data);
    EXPECT_EQ(CFDataGetLength(found), 3);
    EXPECT_EQ(CFDataGetBytePtr(found)[2], 3);
    EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("other")), nullptr);

    SInt32 const n = -7;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &n);
    CFDictionarySetValue(d, CFSTR("block"), number); // replaces and releases the data
    CFRelease(number);
    EXPECT_EQ(CFDictionaryGetCount(d), 1);
    EXPECT_EQ(CFLiveObjectCount(), live + 3); // dictionary, key, number
    double real = 0.0;
    EXPECT_TRUE(CFNumberGetValue(number, kCFNumberFloat64Type, &real));
    EXPECT_EQ(real, -7.0);
    CFRelease(d);
    EXPECT_EQ(CFLiveObjectCount(), live);

    float const f = 1.5f;
    CFNumberRef fn = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat32Type, &f);
    SInt32 asInt = 0;
    EXPECT_FALSE(CFNumberGetValue(fn, kCFNumberSInt32Type, &asInt));
    CFRelease(fn);
    CFRelease(nullptr);
    EXPECT_EQ(CFGetTypeID(nullptr), 0u);
}

TEST(StringCF, ConversionsBothWays)
{
    String name("Osc : Level");
    CFStringRef s = name.GetCFStringRef();
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(CFStringGetUTF8Text(s), "Osc : Level");
    String back(s);
    EXPECT_EQ(back, "Osc : Level");
    EXPECT_EQ(back.GetLength(), 11);
    EXPECT_EQ(back.GetCapacity(), 12);
    CFRelease(s);

    // Text that is not ASCII gives an empty, terminated string.
    CFStringRef accented = Make("\xC3\xA9t\xC3\xA9", kCFStringEncodingUTF8);
    String empty(accented);
    EXPECT_EQ(empty, "");
    EXPECT_EQ(empty.GetLength(), 0);
    CFRelease(accented);
}

TEST(EndianFix, ReversesInPlace)
{
    struct Row
    {
        std::vector<char> in;
        std::vector<char> out;
    };
    for (Row row : {Row{{1, 2, 3, 4}, {4, 3, 2, 1}}, Row{{1, 2, 3}, {3, 2, 1}}, Row{{1, 2}, {2, 1}},
                    Row{{9}, {9}}, Row{{}, {}}})
    {
        _EndianFix(row.in.data(), static_cast<int>(row.in.size()));
        EXPECT_EQ(row.in, row.out);
    }
    char bytes[] = {5, 6};
    _EndianFix(bytes, 0);
    EXPECT_EQ(bytes[0], 5);
}

TEST(AURegistrationFile, ReadsAllSixKeysAndRefusesTheRest)
{
    AURegistration r;
    std::string error;
    ASSERT_TRUE(ParseRegistration("type aumu\nsubtype Trv1\nmanufacturer CvlA\nname Corvella Audio: Torvane\n"
                                  "version 65536\nentry TorvaneMacAUEntry\n",
                                  r, error))
        << error;
    EXPECT_EQ(r.description.componentType, ComponentCode("aumu"));
    EXPECT_EQ(r.description.componentSubType, ComponentCode("Trv1"));
    EXPECT_EQ(r.description.componentManufacturer, ComponentCode("CvlA"));
    EXPECT_EQ(r.name, "Corvella Audio: Torvane");
    EXPECT_EQ(r.version, 0x00010000u);
    EXPECT_EQ(r.entry, "TorvaneMacAUEntry");
    for (char const* bad :
         {"", "type aumu\n", "type aum\nsubtype Trv1\nmanufacturer CvlA\nname x\nversion 1\nentry e\n",
          "type aumu\nsubtype Trv1\nmanufacturer CvlA\nname x\nversion -1\nentry e\n",
          "type aumu\nsubtype Trv1\nmanufacturer CvlA\nname x\nversion 1\nentry e\ncolour red\n"})
    {
        EXPECT_FALSE(ParseRegistration(bad, r, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    AUHost host;
    EXPECT_FALSE(host.Open("/nonexistent/Missing.so"));
    EXPECT_NE(host.GetError().find("registration"), std::string::npos);
}
