#include "platform/TextCodec.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

TEST(TextCodec, KnownGbkBytes)
{
    const std::string shen = "\xC9\xF2\xB9\xF3\xD2\xF8";
    EXPECT_EQ(GbkToUtf8(shen), "沈贵银");
    EXPECT_EQ(Utf8ToGbk("沈贵银"), shen);
    // A traditional character whose second byte is ASCII 'K'.
    EXPECT_EQ(Utf8ToGbk("鉑金"), "\xE3\x4B\xBD\xF0");
    std::string text = "\xE3\x4B\xBD\xF0 SGXPT";
    ToUtf8(text);
    EXPECT_EQ(text, "鉑金 SGXPT");
}

TEST(TextCodec, CatalogueNamesRoundTrip)
{
    for (const char* name :
         {"沈贵银",   "钯金",     "鉑金",     "现货白银", "美元人民币", "外汇欧元", "外汇英镑",
          "外汇日元", "外汇澳元", "外汇瑞郎", "外汇加元", "外汇纽元",   "现货黄金", "伦敦银",
          "人民币",   "欧罗美元", "英镑美元", "美元日圆", "澳元美元",   "美元瑞郎", "美元加元",
          "纽元美元", "伦敦金",   "半小时线", "日线",     "周线",       "月线"}) {
        const std::string gbk = Utf8ToGbk(name);
        EXPECT_EQ(gbk.find('?'), std::string::npos) << name;
        EXPECT_EQ(GbkToUtf8(gbk), name);
    }
}

TEST(TextCodec, AsciiEmptyAndLongInputPassThrough)
{
    EXPECT_EQ(GbkToUtf8(""), "");
    EXPECT_EQ(Utf8ToGbk(""), "");
    const std::string ascii = "LLGUSD,1923.50\r\n=[]\\";
    EXPECT_EQ(GbkToUtf8(ascii), ascii);
    EXPECT_EQ(Utf8ToGbk(ascii), ascii);
    // Longer than one conversion chunk.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "银a";
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk(many)), many);
}

TEST(TextCodec, BadGbkBecomesReplacementAndDecodingGoesOn)
{
    const std::string r(kReplacement);
    EXPECT_EQ(GbkToUtf8("a\xFF"
                        "b"),
              "a" + r + "b");
    EXPECT_EQ(GbkToUtf8("\xFF\xFF"), r + r);
    EXPECT_EQ(GbkToUtf8("\xC9\xF2\xB9"), "沈" + r); // truncated trailing lead byte
    EXPECT_EQ(GbkToUtf8("\xC9"), r);
    // Lead byte followed by a byte that cannot trail: only the lead is lost.
    EXPECT_EQ(GbkToUtf8("\xC9\x20z"), r + " z");
}

TEST(TextCodec, UnrepresentableOrMalformedUtf8BecomesQuestionMark)
{
    EXPECT_EQ(Utf8ToGbk("a😀b"), "a?b");      // one mark per character, not per byte
    EXPECT_EQ(Utf8ToGbk(kReplacement), "?"); // U+FFFD has no GBK form
    EXPECT_EQ(Utf8ToGbk("a\xFF"
                        "b\x80"),
              "a?b?");                               // stray bytes
    EXPECT_EQ(Utf8ToGbk("银\xE9\x93"), "\xD2\xF8?"); // character cut off at the end
    EXPECT_EQ(Utf8ToGbk("\xC0\xAF"
                        "x"),
              "??x"); // overlong form
}

} // namespace
} // namespace velmora
