#include "TFont.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRawFont>

#include <limits>

namespace {

const char* const ChineseText = "中文字体";

// ---- Rounding ---------------------------------------------------------------------------------------

struct MulDivCase {
  int Number, Numerator, Denominator, Result;
};

class MulDivRows : public ::testing::TestWithParam<MulDivCase> {};

TEST_P(MulDivRows, RoundsHalvesAwayFromZero) {
  const MulDivCase& Row = GetParam();
  EXPECT_EQ(MulDiv(Row.Number, Row.Numerator, Row.Denominator), Row.Result);
}

INSTANTIATE_TEST_SUITE_P(
    TFont, MulDivRows,
    ::testing::Values(MulDivCase{-16, 72, 96, -12}, MulDivCase{3, 1, 2, 2}, MulDivCase{-3, 1, 2, -2},
                      MulDivCase{3, 1, -2, -2}, MulDivCase{-3, -1, -2, -2}, MulDivCase{5, 1, 3, 2},
                      MulDivCase{4, 1, 3, 1}, MulDivCase{-4, 1, 3, -1},
                      // The product needs 64 bits; the quotient fits again.
                      MulDivCase{std::numeric_limits<int>::max(), 4, 8, 1073741824},
                      // No quotient, or one past 32 bits: -1.
                      MulDivCase{7, 1, 0, -1}, MulDivCase{std::numeric_limits<int>::max(), 2, 1, -1}));

// ---- Height and point size --------------------------------------------------------------------------

struct SizeCase {
  int Height, PixelsPerInch, Size;
};

class SizeFromHeightRows : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeFromHeightRows, PointsFollowFromPixelsPerInch) {
  TFont Font;
  Font.PixelsPerInch = GetParam().PixelsPerInch;
  Font.Height = GetParam().Height;
  EXPECT_EQ(Font.Size(), GetParam().Size);
}

INSTANTIATE_TEST_SUITE_P(TFont, SizeFromHeightRows,
                         ::testing::Values(SizeCase{-16, 96, 12}, SizeCase{-12, 96, 9},
                                           SizeCase{-14, 96, 11}, // 10.5 points, rounded up
                                           SizeCase{-13, 96, 10}, SizeCase{-20, 120, 12},
                                           SizeCase{16, 96, -12}, // a cell height gives a negative size
                                           SizeCase{0, 96, 0}));

class HeightFromSizeRows : public ::testing::TestWithParam<SizeCase> {};

TEST_P(HeightFromSizeRows, PixelsFollowFromPixelsPerInch) {
  TFont Font;
  Font.PixelsPerInch = GetParam().PixelsPerInch;
  Font.SetSize(GetParam().Size);
  EXPECT_EQ(Font.Height, GetParam().Height);
}

INSTANTIATE_TEST_SUITE_P(TFont, HeightFromSizeRows,
                         ::testing::Values(SizeCase{-12, 96, 9}, SizeCase{-16, 96, 12}, SizeCase{-13, 96, 10},
                                           SizeCase{-15, 96, 11}, SizeCase{-15, 120, 9}, SizeCase{0, 96, 0},
                                           SizeCase{12, 96, -9}));

TEST(TFont, TestsRunAt96PixelsPerInch) { EXPECT_EQ(TFont().PixelsPerInch, 96); }

// ---- Assignment -------------------------------------------------------------------------------------

TFont SampleSource() {
  TFont Source;
  Source.PixelsPerInch = 96;
  Source.Height = -14;
  Source.Name = "宋体";
  Source.Style = fsBold | fsUnderline;
  Source.Charset = GB2312_CHARSET;
  Source.Pitch = fpFixed;
  Source.Color = QColor(Qt::darkBlue);
  return Source;
}

TEST(TFont, AssignAtTheSamePixelsPerInchCopiesThePixelHeight) {
  TFont Target;
  Target.PixelsPerInch = 96;
  Target.Assign(SampleSource());
  EXPECT_EQ(Target, SampleSource());
}

TEST(TFont, AssignAcrossPixelsPerInchCarriesThePointSize) {
  TFont Source = SampleSource();
  Source.Height = -16; // 12 points at 96
  TFont Target;
  Target.PixelsPerInch = 120;
  Target.Assign(Source);
  EXPECT_EQ(Target.PixelsPerInch, 120);
  EXPECT_EQ(Target.Size(), 12);
  EXPECT_EQ(Target.Height, -20);
  EXPECT_EQ(Target.Name, Source.Name);
  EXPECT_EQ(Target.Style, Source.Style);
  EXPECT_EQ(Target.Charset, Source.Charset);
  EXPECT_EQ(Target.Pitch, Source.Pitch);
  EXPECT_EQ(Target.Color, Source.Color);
}

TEST(TFont, AssignAcrossPixelsPerInchGoesThroughWholePoints) {
  TFont Source = SampleSource(); // -14 at 96 is 10.5 points, which rounds to 11
  TFont Target;
  Target.PixelsPerInch = 144;
  Target.Assign(Source);
  EXPECT_EQ(Target.Height, -22);
}

// ---- The Qt font ------------------------------------------------------------------------------------

TEST(TFont, NegativeHeightIsTheEmHeightInPixels) {
  TFont Font;
  Font.Height = -16;
  const QFont Shown = Font.ToQFont();
  EXPECT_EQ(Shown.pixelSize(), 16);
  EXPECT_EQ(QFontInfo(Shown).pixelSize(), 16);
}

struct CellCase {
  const char* Name;
  int Height;
};

void PrintTo(const CellCase& Row, std::ostream* Out) { *Out << Row.Name; }

class CellHeightRows : public ::testing::TestWithParam<CellCase> {};

TEST_P(CellHeightRows, PositiveHeightIsTheLargestCellThatFits) {
  TFont Font;
  Font.Name = GetParam().Name;
  Font.Height = GetParam().Height;
  QFont Shown = Font.ToQFont();
  EXPECT_LE(QFontMetrics(Shown).height(), Font.Height);
  Shown.setPixelSize(Shown.pixelSize() + 1);
  EXPECT_GT(QFontMetrics(Shown).height(), Font.Height);
}

INSTANTIATE_TEST_SUITE_P(TFont, CellHeightRows,
                         ::testing::Values(CellCase{"DejaVu Sans", 12}, CellCase{"DejaVu Sans", 19},
                                           CellCase{"DejaVu Sans", 40}, CellCase{"宋体", 14},
                                           CellCase{"宋体", 33}));

TEST(TFont, ZeroHeightKeepsTheDefaultSize) {
  TFont Font;
  Font.Height = 0;
  EXPECT_EQ(Font.ToQFont().pointSizeF(), QFont().pointSizeF());
}

TEST(TFont, AbsurdHeightsStayDrawable) {
  TFont Font;
  Font.Height = std::numeric_limits<int>::min();
  EXPECT_GT(Font.ToQFont().pixelSize(), 0);
  Font.Height = std::numeric_limits<int>::max();
  EXPECT_GT(Font.ToQFont().pixelSize(), 0);
}

TEST(TFont, SongTiDrawsChineseWithAnInstalledChineseFace) {
  TFont Font;
  Font.Name = "宋体";
  Font.Height = -14;
  const QFont Shown = Font.ToQFont();
  const QString Face = QFontInfo(Shown).family();
  EXPECT_TRUE(Face.startsWith("WenQuanYi Zen Hei") || Face.contains("CJK SC") || Face == "SimSun" || Face == QStringLiteral(u"宋体"))
      << Face.toStdString();
  const QRawFont Raw = QRawFont::fromFont(Shown);
  for (const QChar Character : QString::fromUtf8(ChineseText)) EXPECT_TRUE(Raw.supportsCharacter(Character));
}

TEST(TFont, LatinFaceFallsBackToChineseFacesForChinese) {
  TFont Font;
  Font.Name = "DejaVu Sans";
  const QFont Shown = Font.ToQFont();
  EXPECT_EQ(QFontInfo(Shown).family(), "DejaVu Sans");
  EXPECT_TRUE(Shown.families().contains("WenQuanYi Zen Hei"));
}

TEST(TFont, DefaultIsThePlatformFace) {
  TFont Font;
  Font.Name = "Default";
  EXPECT_EQ(Font.ToQFont().families().value(0), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
}

struct StyleCase {
  TFontStyles Style;
  bool Bold, Italic, Underline, StrikeOut;
};

class StyleRows : public ::testing::TestWithParam<StyleCase> {};

TEST_P(StyleRows, StyleGoesBothWays) {
  const StyleCase& Row = GetParam();
  TFont Font;
  Font.Style = Row.Style;
  const QFont Shown = Font.ToQFont();
  EXPECT_EQ(Shown.bold(), Row.Bold);
  EXPECT_EQ(Shown.italic(), Row.Italic);
  EXPECT_EQ(Shown.underline(), Row.Underline);
  EXPECT_EQ(Shown.strikeOut(), Row.StrikeOut);
  EXPECT_EQ(TFont::FromQFont(Shown, 96).Style, Row.Style);
}

INSTANTIATE_TEST_SUITE_P(TFont, StyleRows,
                         ::testing::Values(StyleCase{{}, false, false, false, false},
                                           StyleCase{fsBold, true, false, false, false},
                                           StyleCase{fsItalic, false, true, false, false},
                                           StyleCase{fsUnderline, false, false, true, false},
                                           StyleCase{fsStrikeOut, false, false, false, true},
                                           StyleCase{fsBold | fsItalic | fsUnderline | fsStrikeOut, true, true,
                                                     true, true}));

struct WeightCase {
  QFont::Weight Weight;
  bool Bold;
};

class WeightRows : public ::testing::TestWithParam<WeightCase> {};

TEST_P(WeightRows, BoldFromDemiBoldUp) {
  QFont Qt("DejaVu Sans");
  Qt.setWeight(GetParam().Weight);
  EXPECT_EQ(TFont::FromQFont(Qt, 96).Style.testFlag(fsBold), GetParam().Bold);
}

INSTANTIATE_TEST_SUITE_P(TFont, WeightRows,
                         ::testing::Values(WeightCase{QFont::Light, false}, WeightCase{QFont::Normal, false},
                                           WeightCase{QFont::Medium, false}, WeightCase{QFont::DemiBold, true},
                                           WeightCase{QFont::Bold, true}, WeightCase{QFont::Black, true}));

struct FromQtCase {
  const char* Name;
  double Points; // 0: use Pixels
  int Pixels;
  int PixelsPerInch;
  int Height;
};

void PrintTo(const FromQtCase& Row, std::ostream* Out) { *Out << Row.Name; }

class FromQFontRows : public ::testing::TestWithParam<FromQtCase> {};

TEST_P(FromQFontRows, HeightIsThePixelHeightAtPixelsPerInch) {
  const FromQtCase& Row = GetParam();
  QFont Qt("DejaVu Serif");
  if (Row.Points > 0)
    Qt.setPointSizeF(Row.Points);
  else
    Qt.setPixelSize(Row.Pixels);
  const TFont Font = TFont::FromQFont(Qt, Row.PixelsPerInch);
  EXPECT_EQ(Font.Height, Row.Height);
  EXPECT_EQ(Font.PixelsPerInch, Row.PixelsPerInch);
  EXPECT_EQ(Font.Name, "DejaVu Serif");
}

INSTANTIATE_TEST_SUITE_P(TFont, FromQFontRows,
                         ::testing::Values(FromQtCase{"Nine", 9, 0, 96, -12}, FromQtCase{"Eleven", 11, 0, 96, -15},
                                           FromQtCase{"TenAndAHalf", 10.5, 0, 96, -14},
                                           FromQtCase{"NineAt120", 9, 0, 120, -15},
                                           FromQtCase{"PixelSize", 0, 17, 96, -17},
                                           FromQtCase{"PixelSizeIgnoresPixelsPerInch", 0, 17, 144, -17}));

} // namespace
