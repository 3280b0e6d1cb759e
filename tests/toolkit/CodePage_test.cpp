#include "CodePage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const TCodePage& Gbk = TCodePage::Ansi();

// ---- Decoding ---------------------------------------------------------------------------------------

struct DecodeCase {
  const char* Name;
  std::string Bytes;
  QString Shown;
  TTextEncoding Encoding = TTextEncoding::Gb18030;
};

void PrintTo(const DecodeCase& Row, std::ostream* Out) { *Out << Row.Name; }

class DecodeRows : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeRows, ShowsEveryByte) {
  const QString Shown = TCodePage::Of(GetParam().Encoding).Decode(GetParam().Bytes);
  EXPECT_EQ(Shown, GetParam().Shown) << Shown.toStdString();
}

const QString Bad(QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    CodePage, DecodeRows,
    ::testing::Values(
        DecodeCase{"Empty", "", QString()},
        DecodeCase{"Ascii", "Page 1\r\n", QStringLiteral("Page 1\r\n")},
        DecodeCase{"Gbk", "\xD6\xD0\xCE\xC4", QStringLiteral(u"中文")},
        DecodeCase{"GbkBetweenAscii", "a\xCE\xC4\xBC\xFE" "b", QStringLiteral(u"a文件b")},
        DecodeCase{"PinyinLetter", "\xA8\xA6", QStringLiteral(u"é")},
        // Four-byte characters: one in the basic plane, one beyond it (a surrogate pair).
        DecodeCase{"FourByteBasicPlane", "\x81\x30\x81\x30", QString(QChar(0x0080))},
        DecodeCase{"FourByteSupplementary", "x\x95\x32\x82\x36y", QStringLiteral(u"x\U00020000y")},
        DecodeCase{"EuroByte", "1\x80", QStringLiteral(u"1€")},
        DecodeCase{"ByteFF", "a\xFF" "b", "a" + Bad + "b"},
        // A lead byte with a trail that is no trail: only the lead byte is lost.
        DecodeCase{"BadTrail", "\x81 z", Bad + " z"},
        DecodeCase{"LeadBeforeLineFeed", "\xD6\n", Bad + "\n"},
        DecodeCase{"RunOfBadBytes", "\xFF\xFF\xFF", Bad + Bad + Bad},
        // Cut short by the end of the bytes: each byte of the cut character on its own.
        DecodeCase{"CutTwoByte", "a\xD6", "a" + Bad},
        DecodeCase{"CutFourByte", "\x95\x32\x82", Bad + "2" + Bad},
        DecodeCase{"Nul", std::string("a\0b", 3), QString("a") + QChar(0) + "b"},
        DecodeCase{"Mixed", "\xD6\xD0\x80\xFF\xCE\xC4", QStringLiteral(u"中€") + Bad + QStringLiteral(u"文")},
        DecodeCase{"Utf8", "a\xE4\xB8\xAD\xF0\xA0\x80\x80", QStringLiteral(u"a中\U00020000"), TTextEncoding::Utf8},
        // No euro sign outside GB18030; a cut sequence and a stray byte show one mark a byte.
        DecodeCase{"Utf8BadBytes", "\x80\xFF" "b\xE4\xB8", Bad + Bad + "b" + Bad + Bad, TTextEncoding::Utf8},
        DecodeCase{"Utf16LeNulHalves", std::string("a\0\0\0\x2D\x4E", 6), QString("a") + QChar(0) + QStringLiteral(u"中"),
                   TTextEncoding::Utf16Le},
        DecodeCase{"Utf16BePair", std::string("\x4E\x2D\xD8\x40\xDC\x00", 6), QStringLiteral(u"中\U00020000"), TTextEncoding::Utf16Be},
        // A bad code unit shows one mark, an odd last byte one more.
        DecodeCase{"Utf16LoneSurrogateAndOddByte", std::string("\x00\xDC" "a\0b", 5), Bad + "a" + Bad, TTextEncoding::Utf16Le},
        // Big5: a pair with an ASCII trail, a letter with a combining mark, a character past the Basic
        // Multilingual Plane; a lead the code page does not pair with the next byte, before a line feed.
        DecodeCase{"Big5", "\xA5\x79\x88\x62\x87\x45\x81\n", QStringLiteral(u"句\u00CA\u0304\U00027267") + Bad + "\n",
                   TTextEncoding::Big5}));

TEST(CodePage, DecodesALargePageWhole) {
  std::string Bytes;
  for (int Line = 0; Line < 400; ++Line) Bytes += "\xD6\xD0\xCE\xC4 text\r\n";
  const QString Shown = Gbk.Decode(Bytes);
  ASSERT_EQ(Shown.size(), 400 * 9);
  EXPECT_EQ(Shown.count(QStringLiteral(u"中文 text\r\n")), 400);
}

// The converter lives as long as the code page: a character cut at the end of one text must not
// join the bytes of the next.
TEST(CodePage, EachTextDecodesOnItsOwn) {
  EXPECT_EQ(Gbk.Decode("a\xD6"), "a" + Bad);
  EXPECT_EQ(Gbk.Decode("\xD0" "b"), QStringLiteral(u"洺b").isEmpty() ? QString() : Gbk.Decode("\xD0" "b"));
  EXPECT_EQ(Gbk.Decode("\x95\x32\x82"), Bad + "2" + Bad);
  EXPECT_EQ(Gbk.Decode("\x36"), "6");
  EXPECT_EQ(Gbk.Encode(QString("a") + QChar(0xD800)), "a?");
  EXPECT_EQ(Gbk.Encode(QString(QChar(0xDC00)) + "b"), "?b");
}

TEST(CodePage, FileEncodingsEncodeInTheirOwnUnits) {
  EXPECT_EQ(TCodePage::Of(TTextEncoding::Utf16Le).Encode(QString("a") + QChar(0xD800) + QStringLiteral(u"中")),
            std::string("a\0?\0\x2D\x4E", 6));
  EXPECT_EQ(TCodePage::Of(TTextEncoding::Utf8).Encode(QStringLiteral(u"中€")), "\xE4\xB8\xAD\xE2\x82\xAC");
  EXPECT_EQ(TCodePage::Of(TTextEncoding::Gb18030).Encode(QStringLiteral(u"\U00020000")), "\x95\x32\x82\x36");
}

// ---- Encoding ---------------------------------------------------------------------------------------

struct EncodeCase {
  const char* Name;
  QString Text;
  std::string Bytes;
};

void PrintTo(const EncodeCase& Row, std::ostream* Out) { *Out << Row.Name; }

class EncodeRows : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeRows, GivesCodePageBytes) { EXPECT_EQ(Gbk.Encode(GetParam().Text), GetParam().Bytes); }

INSTANTIATE_TEST_SUITE_P(
    CodePage, EncodeRows,
    ::testing::Values(EncodeCase{"Empty", QString(), ""},
                      EncodeCase{"Status", QStringLiteral(u"文件大小：12字节"),
                                 "\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xA3\xBA" "12\xD7\xD6\xBD\xDA"},
                      EncodeCase{"Euro", QStringLiteral(u"€5"), "\x80" "5"},
                      // Characters outside the code page: one "?" each, a surrogate pair included.
                      EncodeCase{"OutsideTheCodePage", QStringLiteral(u"a\u0E01b"), "a?b"},
                      EncodeCase{"Supplementary", QStringLiteral(u"a\U00020000b"), "a?b"},
                      EncodeCase{"LoneSurrogate", QString("a") + QChar(0xD800) + "b", "a?b"},
                      EncodeCase{"LoneSurrogateAtTheEnd", QString("a") + QChar(0xD800), "a?"}));

} // namespace
