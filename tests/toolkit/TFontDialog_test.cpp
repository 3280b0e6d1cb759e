#include "TFontDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDialog>
#include <QTimer>

#include <functional>

namespace {

const char* const ChineseFace = "WenQuanYi Zen Hei Mono"; // the face that draws "宋体" here
const char* const LatinFace = "DejaVu Sans";

// Runs the dialog and plays the user: Act gets the open dialog, picks a font and closes it.
bool RunDialog(TFontDialog& Dialog, const std::function<void(QFontDialog&)>& Act) {
  bool Found = false;
  QTimer::singleShot(0, [&] {
    auto* Open = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
    if (!Open) { // whatever else is open is closed, so Execute returns and the test fails below
      if (QWidget* Other = QApplication::activeModalWidget()) Other->close();
      return;
    }
    Found = true;
    Act(*Open);
  });
  const bool Confirmed = Dialog.Execute();
  EXPECT_TRUE(Found) << "no modal font dialog was open";
  return Confirmed;
}

QFont Pick(const char* Face, int Points) {
  QFont Font(QString::fromUtf8(Face));
  Font.setPointSize(Points);
  return Font;
}

TFont Start(const char* Face, int Height, TFontCharset Charset) {
  TFont Font;
  Font.PixelsPerInch = 96;
  Font.Name = Face;
  Font.Height = Height;
  Font.Charset = Charset;
  Font.Pitch = fpFixed;
  Font.Color = QColor(Qt::darkGreen);
  return Font;
}

TEST(TFontDialog, IsQtsOwnModalDialogStartingFromTheFont) {
  TFontDialog Dialog;
  Dialog.Font = Start(LatinFace, -16, ANSI_CHARSET);
  QFont Shown;
  bool Native = true;
  bool Modal = false;
  RunDialog(Dialog, [&](QFontDialog& Open) {
    Shown = Open.currentFont();
    Native = !Open.testOption(QFontDialog::DontUseNativeDialog);
    Modal = Open.isModal();
    Open.reject();
  });
  EXPECT_FALSE(Native);
  EXPECT_TRUE(Modal);
  EXPECT_EQ(Shown.family(), LatinFace);
  EXPECT_EQ(Shown.pointSize(), 12);
}

TEST(TFontDialog, CancelLeavesTheFontAsItWas) {
  TFontDialog Dialog;
  Dialog.Font = Start(LatinFace, -16, ANSI_CHARSET);
  const TFont Before = Dialog.Font;
  EXPECT_FALSE(RunDialog(Dialog, [](QFontDialog& Open) {
    Open.setCurrentFont(Pick(ChineseFace, 20));
    Open.reject();
  }));
  EXPECT_EQ(Dialog.Font, Before);
}

TEST(TFontDialog, AnotherFaceBringsItsNameAndCharset) {
  TFontDialog Dialog;
  Dialog.Font = Start(LatinFace, -16, ANSI_CHARSET);
  EXPECT_TRUE(RunDialog(Dialog, [](QFontDialog& Open) {
    Open.setCurrentFont(Pick(ChineseFace, 12));
    Open.accept();
  }));
  EXPECT_EQ(Dialog.Font.Name, ChineseFace);
  EXPECT_EQ(Dialog.Font.Charset, GB2312_CHARSET);
  EXPECT_EQ(Dialog.Font.Height, -16);
  // What the dialog cannot offer stays.
  EXPECT_EQ(Dialog.Font.Pitch, fpFixed);
  EXPECT_EQ(Dialog.Font.Color, QColor(Qt::darkGreen));

  EXPECT_TRUE(RunDialog(Dialog, [](QFontDialog& Open) {
    Open.setCurrentFont(Pick(LatinFace, 12));
    Open.accept();
  }));
  EXPECT_EQ(Dialog.Font.Name, LatinFace);
  EXPECT_EQ(Dialog.Font.Charset, ANSI_CHARSET);
}

struct SizeCase {
  const char* Name;
  const char* StartFace; // the chosen face differs at most in case
  int Points;
  int PixelsPerInch;
  int Height;
};

void PrintTo(const SizeCase& Row, std::ostream* Out) { *Out << Row.Name; }

class TFontDialogSizeRows : public ::testing::TestWithParam<SizeCase> {};

TEST_P(TFontDialogSizeRows, SameFaceAnotherSizeChangesHeightAndKeepsCharset) {
  const SizeCase& Row = GetParam();
  TFontDialog Dialog;
  Dialog.Font = Start(Row.StartFace, -16, DEFAULT_CHARSET);
  Dialog.Font.PixelsPerInch = Row.PixelsPerInch;
  EXPECT_TRUE(RunDialog(Dialog, [&](QFontDialog& Open) {
    Open.setCurrentFont(Pick(ChineseFace, Row.Points));
    Open.accept();
  }));
  EXPECT_EQ(Dialog.Font.Height, Row.Height);
  EXPECT_EQ(Dialog.Font.Charset, DEFAULT_CHARSET);
  EXPECT_EQ(Dialog.Font.Name, Row.StartFace);
  EXPECT_EQ(Dialog.Font.PixelsPerInch, Row.PixelsPerInch);
}

INSTANTIATE_TEST_SUITE_P(TFontDialog, TFontDialogSizeRows,
                         ::testing::Values(SizeCase{"Nine", ChineseFace, 9, 96, -12},
                                           SizeCase{"Fourteen", ChineseFace, 14, 96, -19},
                                           SizeCase{"TwelveAt120", ChineseFace, 12, 120, -20},
                                           SizeCase{"FaceInOtherCase", "wenquanyi zen hei mono", 20, 96, -27}));

struct StyleCase {
  const char* Name;
  const char* Face;
  const char* StyleName; // as the dialog lists it
  bool Underline, StrikeOut;
  TFontStyles Style;
};

void PrintTo(const StyleCase& Row, std::ostream* Out) { *Out << Row.Name; }

class TFontDialogStyleRows : public ::testing::TestWithParam<StyleCase> {};

TEST_P(TFontDialogStyleRows, StyleFollowsTheChosenStyleAndEffects) {
  const StyleCase& Row = GetParam();
  TFontDialog Dialog;
  Dialog.Font = Start(LatinFace, -16, ANSI_CHARSET);
  Dialog.Font.Style = fsItalic | fsUnderline; // whatever it was, the dialog's choice replaces it
  EXPECT_TRUE(RunDialog(Dialog, [&](QFontDialog& Open) {
    QFont Font = Pick(Row.Face, 12);
    Font.setStyleName(Row.StyleName);
    Font.setUnderline(Row.Underline);
    Font.setStrikeOut(Row.StrikeOut);
    Open.setCurrentFont(Font);
    Open.accept();
  }));
  EXPECT_EQ(Dialog.Font.Style, Row.Style);
}

INSTANTIATE_TEST_SUITE_P(
    TFontDialog, TFontDialogStyleRows,
    ::testing::Values(StyleCase{"Book", LatinFace, "Book", false, false, {}},
                      StyleCase{"BoldObliqueWithEffects", LatinFace, "Bold Oblique", true, true,
                                fsBold | fsItalic | fsUnderline | fsStrikeOut},
                      StyleCase{"Bold", LatinFace, "Bold", false, false, fsBold},
                      StyleCase{"Underline", LatinFace, "Book", true, false, fsUnderline},
                      // A Medium regular style is not bold.
                      StyleCase{"MediumRegular", ChineseFace, "Regular", false, false, {}}));

struct StartCase {
  const char* Name;
  const char* Face;
  TFontStyles Style;
  bool Bold, Italic;
};

void PrintTo(const StartCase& Row, std::ostream* Out) { *Out << Row.Name; }

class TFontDialogStartRows : public ::testing::TestWithParam<StartCase> {};

// Confirming at once gives back the style the dialog started with.
TEST_P(TFontDialogStartRows, StartsOnTheFontsOwnStyle) {
  const StartCase& Row = GetParam();
  TFontDialog Dialog;
  Dialog.Font = Start(Row.Face, -16, ANSI_CHARSET);
  Dialog.Font.Style = Row.Style;
  QFont Shown;
  EXPECT_TRUE(RunDialog(Dialog, [&](QFontDialog& Open) {
    Shown = Open.currentFont();
    Open.accept();
  }));
  EXPECT_EQ(Shown.bold(), Row.Bold);
  EXPECT_EQ(Shown.style() != QFont::StyleNormal, Row.Italic);
  EXPECT_EQ(Dialog.Font.Style, Row.Style);
  EXPECT_EQ(Dialog.Font.Height, -16);
  EXPECT_EQ(Dialog.Font.Name, Row.Face);
}

INSTANTIATE_TEST_SUITE_P(TFontDialog, TFontDialogStartRows,
                         ::testing::Values(StartCase{"Plain", LatinFace, {}, false, false},
                                           StartCase{"Bold", LatinFace, fsBold, true, false},
                                           StartCase{"Italic", LatinFace, fsItalic, false, true},
                                           StartCase{"BoldItalic", LatinFace, fsBold | fsItalic, true, true},
                                           StartCase{"SerifItalic", "DejaVu Serif", fsItalic, false, true},
                                           StartCase{"ChinesePlain", ChineseFace, {}, false, false}));

// The form's font: 宋体, not installed here, 14 pixels high, which is 10.5 points. The dialog shows it
// as the face that draws it, at 11 points; confirmed as it is, the font comes back unchanged, and
// with only another size, with that size alone.
TEST(TFontDialog, TheFaceAndSizeItStartsOnGiveBackTheFontsOwn) {
  TFontDialog Dialog;
  Dialog.Font = Start("宋体", -14, ANSI_CHARSET);
  const TFont Before = Dialog.Font;
  QFont Shown;
  EXPECT_TRUE(RunDialog(Dialog, [&](QFontDialog& Open) {
    Shown = Open.currentFont();
    Open.accept();
  }));
  EXPECT_EQ(Shown.family(), ChineseFace);
  EXPECT_EQ(Shown.pointSize(), 11);
  EXPECT_EQ(Dialog.Font, Before);

  EXPECT_TRUE(RunDialog(Dialog, [](QFontDialog& Open) {
    QFont Larger = Open.currentFont();
    Larger.setPointSize(12);
    Open.setCurrentFont(Larger);
    Open.accept();
  }));
  EXPECT_EQ(Dialog.Font.Name, "宋体");
  EXPECT_EQ(Dialog.Font.Charset, ANSI_CHARSET);
  EXPECT_EQ(Dialog.Font.Height, -16);
}

} // namespace
