#include "framework/String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{
std::string Bytes(String& s)
{
    // Every stored byte, the terminating zero included.
    return std::string(s.Lock(), static_cast<std::size_t>(s.GetLength() + 1));
}
} // namespace

TEST(StringTest, DefaultIsEmptyWithRoomFor128Bytes)
{
    String s;
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetCapacity(), 128);
    EXPECT_STREQ(s, "");
}

TEST(StringTest, ConstructionFromTextIsExact)
{
    String s("abc");
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(s.GetCapacity(), 4);
    EXPECT_STREQ(s, "abc");

    String copy(s);
    EXPECT_EQ(copy.GetCapacity(), 4);
    EXPECT_STREQ(copy, "abc");
    EXPECT_NE(static_cast<char const*>(copy), static_cast<char const*>(s));
}

TEST(StringTest, NullSourcesGiveTheEmptyText)
{
    String s(static_cast<char const*>(nullptr));
    EXPECT_STREQ(s, "");
    EXPECT_EQ(s.GetCapacity(), 1);

    String t("abc");
    t = static_cast<char const*>(nullptr);
    EXPECT_STREQ(t, "");
    t += static_cast<char const*>(nullptr);
    EXPECT_STREQ(t, "");
    EXPECT_TRUE(t == static_cast<char const*>(nullptr));
}

TEST(StringTest, AppendingGrowsTheCapacityAtLeastTwofold)
{
    String s("abc");
    s += "de";
    EXPECT_STREQ(s, "abcde");
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(s.GetCapacity(), 8);
    // More than double is needed: exactly that much.
    String t("ab");
    t += "0123456789";
    EXPECT_EQ(t.GetCapacity(), 13);

    // A long run of four-byte appends reallocates a logarithmic number of times.
    String block;
    int reallocations = 0;
    long capacity = block.GetCapacity();
    for (int i = 0; i < 100000; ++i)
    {
        block.Append("wxyz", 4);
        if (block.GetCapacity() != capacity) ++reallocations;
        capacity = block.GetCapacity();
    }
    EXPECT_EQ(block.GetLength(), 400000);
    EXPECT_LE(reallocations, 13);

    // Room to spare: no growth.
    String roomy;
    roomy += "xyz";
    EXPECT_EQ(roomy.GetCapacity(), 128);
    EXPECT_STREQ(roomy, "xyz");
}

TEST(StringTest, AppendingAStringWorksByLengthAndKeepsEmbeddedZeros)
{
    String block;
    block.Format("%c%c", 0, 'A'); // bytes 00 41, length 3
    ASSERT_EQ(block.GetLength(), 2);

    String s("x");
    s += block;
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(Bytes(s), std::string("x\0A\0", 4));
    EXPECT_STREQ(s, "x"); // read as C text, the embedded zero ends it
}

TEST(StringTest, AppendingTextGoesToTheFirstZero)
{
    String s("x");
    String block;
    block.Format("%c%c", 0, 'A');
    s += block; // x 00 A 00
    s += "b";
    EXPECT_STREQ(s, "xb");
    EXPECT_EQ(s.GetLength(), 2);
}

TEST(StringTest, SelfAppendAndSelfAssignment)
{
    String s("abc");
    s += s;
    EXPECT_STREQ(s, "abcabc");
    EXPECT_EQ(s.GetLength(), 6);

    // Growth frees the old buffer only after the copy.
    String t("0123456789");
    t += static_cast<char const*>(t);
    EXPECT_STREQ(t, "01234567890123456789");

    // Appending a part of itself, in place (no growth) and with growth.
    String u;
    u = "hello";
    u += static_cast<char const*>(u) + 3;
    EXPECT_STREQ(u, "hellolo");
    String v("hello");
    v += static_cast<char const*>(v) + 1;
    EXPECT_STREQ(v, "helloello");

    String w("abcdef");
    w = static_cast<char const*>(w) + 2;
    EXPECT_STREQ(w, "cdef");
    String& same = w;
    w = same;
    EXPECT_STREQ(w, "cdef");
}

TEST(StringTest, RepeatedSelfAppendDoublesTheText)
{
    String s("ab");
    for (int i = 0; i < 10; ++i)
        s += s;
    EXPECT_EQ(s.GetLength(), 2 << 10);
    EXPECT_GE(s.GetCapacity(), (2 << 10) + 1);
    for (long i = 0; i < s.GetLength(); ++i)
        ASSERT_EQ(s[i], i % 2 ? 'b' : 'a');
}

TEST(StringTest, AssignmentReallocatesOnlyForALongerText)
{
    String s("abcdef");
    char const* before = s;
    s = "ab";
    EXPECT_EQ(static_cast<char const*>(s), before);
    EXPECT_EQ(s.GetCapacity(), 7);
    EXPECT_STREQ(s, "ab");

    // Longer than the current length, even though the capacity would do.
    String t;
    t = "ab";
    t = "abcdefgh";
    EXPECT_EQ(t.GetCapacity(), 9);
    EXPECT_STREQ(t, "abcdefgh");

    String u("xy");
    String block;
    block.Format("%c%c", 'q', 0);
    u = block;
    EXPECT_EQ(u.GetLength(), 2);
    EXPECT_EQ(Bytes(u), std::string("q\0\0", 3));
}

TEST(StringTest, Comparison)
{
    String a("abc");
    EXPECT_TRUE(a == "abc");
    EXPECT_TRUE(a != "abd");
    EXPECT_TRUE("abc" == a);
    EXPECT_TRUE(a == String("abc"));
    EXPECT_TRUE(a != String("ab"));
    String block;
    block.Format("abc%cdef", 0);
    EXPECT_TRUE(block == a); // the comparison ends at the first zero
}

TEST(StringTest, Concatenation)
{
    String a("foo");
    String b = a + String("bar");
    EXPECT_STREQ(b, "foobar");
    // The copy of a longer text replaces the default buffer by one of its exact size (4), which then
    // doubles.
    EXPECT_EQ(b.GetCapacity(), 8);
    EXPECT_STREQ(a, "foo");
}

TEST(StringTest, Format)
{
    String s;
    s.Format("%d-%s", 7, "ab");
    EXPECT_STREQ(s, "7-ab");
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(s.GetCapacity(), 128);

    std::string longText(200, 'z');
    s.Format("%s", longText.c_str());
    EXPECT_EQ(s.GetLength(), 200);
    EXPECT_EQ(s.GetCapacity(), 201);
    EXPECT_EQ(s.ToStdString(), longText);

    s.Format("%c", 0);
    EXPECT_EQ(s.GetLength(), 1);
    EXPECT_EQ(s[0], 0);

    String f = String::FormatString("%s=%.2f", "gain", 0.5);
    EXPECT_STREQ(f, "gain=0.50");
    EXPECT_EQ(f.GetCapacity(), 128);
    String big = String::FormatString("%0300d", 1);
    EXPECT_EQ(big.GetLength(), 300);
    EXPECT_EQ(big.GetCapacity(), 301);
}

TEST(StringTest, FormatReadsItsArgumentsOnceEachAfterSizing)
{
    // The arguments are consumed twice (once for the size, once for the text): both passes must see them.
    String s;
    s.Format("%s|%d|%s|%f|%s|%d|%s", "one", 2, "three", 4.0, "five", 6, "seven");
    EXPECT_STREQ(s, "one|2|three|4.000000|five|6|seven");
}

TEST(StringTest, FormatMayUseItsOwnText)
{
    String s("abc");
    s.Format("%s%s%s", static_cast<char const*>(s), static_cast<char const*>(s), static_cast<char const*>(s));
    EXPECT_STREQ(s, "abcabcabc");
    EXPECT_EQ(s.GetCapacity(), 10);

    String t;
    t.Format("%s", "name");
    t.Format("[%s]", static_cast<char const*>(t)); // in place, within the 128 bytes
    EXPECT_STREQ(t, "[name]");
    EXPECT_EQ(t.GetCapacity(), 128);
}

TEST(StringTest, ResizeKeepsOrDropsTheContent)
{
    String s("abcdef");
    s.Resize(20, true);
    EXPECT_EQ(s.GetCapacity(), 20);
    EXPECT_STREQ(s, "abcdef");
    EXPECT_EQ(s.GetLength(), 6);

    // Shrinking below the length cuts the text and keeps it terminated.
    s.Resize(4, true);
    EXPECT_EQ(s.GetCapacity(), 4);
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_STREQ(s, "abc");

    String t("abcdef");
    t.Resize(3, false);
    EXPECT_EQ(t.GetCapacity(), 3);
    EXPECT_STREQ(t, "");

    String u("abc");
    u.Resize(0, false);
    EXPECT_EQ(u.GetCapacity(), 1);
    EXPECT_STREQ(u, "");
}

TEST(StringTest, AppendBytesKeepsZeros)
{
    String s;
    unsigned char const raw[] = {1, 0, 2, 0};
    s.Append(raw, 4);
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(Bytes(s), std::string("\1\0\2\0\0", 5));

    String exact("a");
    exact.Append("bcd", 3);
    EXPECT_EQ(exact.GetCapacity(), 5);
    EXPECT_STREQ(exact, "abcd");
}

TEST(StringTest, StdStringConversions)
{
    String s(std::string("path/to/x"));
    EXPECT_STREQ(s, "path/to/x");
    EXPECT_EQ(s.GetLength(), 9);
    EXPECT_EQ(s.ToStdString(), "path/to/x");

    String block;
    block.Format("ab%ccd", 0);
    EXPECT_EQ(block.ToStdString(), "ab");

    String fromEmpty{std::string()};
    EXPECT_STREQ(fromEmpty, "");
    EXPECT_EQ(fromEmpty.GetLength(), 0);
}
