#include "TFont.h"
#include "TMemo.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <memory>
#include <string>
#include <vector>

namespace {

// The width of a screen line of the memo, in the advances its glyph cache lays characters out with,
// measured again here from the line's characters.
int LineWidth(const TMemo& Memo, int Line) {
  const TPageLine& Shown = Memo.Layout().Lines[static_cast<std::size_t>(Line)];
  const QString Text = Memo.toPlainText();
  TGlyphCache Glyphs(Memo.font());
  int Width = 0;
  for (int I = Shown.Start, Units = 1; I < Shown.Start + Shown.Length; I += Units)
    Width += Glyphs.Advance(CodePointAt(Text, I, Units));
  return Width;
}

// Lines "line 0" .. "line <Count-1>" with LF breaks, far more than the memo shows at once.
std::string ManyLines(int Count, const std::string& Prefix = "line ") {
  std::string Text;
  for (int I = 0; I < Count; ++I) Text += Prefix + std::to_string(I) + "\n";
  return Text;
}

// A shown window holding the memo and a line edit beside it, so the memo can gain and lose focus.
class TMemoTest : public ::testing::Test {
protected:
  void SetUp() override {
    Window = std::make_unique<QWidget>();
    Window->resize(300, 240);
    Memo = new TMemo(Window.get());
    Other = new QLineEdit(Window.get());
    Memo->setGeometry(0, 0, 300, 200);
    Other->setGeometry(0, 210, 300, 25);
    Memo->SetReadOnly(true);
    Memo->OnChange = [this](QObject* Sender) {
      EXPECT_EQ(Sender, Memo);
      ++Changes;
    };
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
  }

  void Focus(QWidget* Widget) {
    Window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    Widget->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(Widget->hasFocus());
  }

  int ScrollValue() const { return Memo->verticalScrollBar()->value(); }

  // What the window shows of the text area once the events waiting are handled.
  QImage OnScreen() const {
    QApplication::processEvents();
    const QPoint Origin = Memo->viewport()->mapTo(Window.get(), QPoint(0, 0));
    return Window->screen()->grabWindow(Window->winId(), Origin.x(), Origin.y(), Memo->viewport()->width(),
                                        Memo->viewport()->height()).toImage();
  }

  // Gathers the regions its widget is asked to paint into Into.
  struct TPaints : QObject {
    QRegion& Into;
    explicit TPaints(QRegion& Region) : Into(Region) {}
    bool eventFilter(QObject*, QEvent* Event) override {
      if (Event->type() == QEvent::Paint) Into += static_cast<QPaintEvent*>(Event)->region();
      return false;
    }
  };

  std::unique_ptr<QWidget> Window;
  TMemo* Memo = nullptr;
  QLineEdit* Other = nullptr;
  int Changes = 0;
};

// ---- Whole-text assignment --------------------------------------------------------------------------

struct TextCase {
  const char* Name;
  std::string Assigned;
  std::string Held;  // Text() afterwards
  QString Shown;     // what the control displays, '\n' between lines
  TTextEncoding Encoding = TTextEncoding::Gb18030;
};

void PrintTo(const TextCase& Row, std::ostream* Out) { *Out << Row.Name; }

class TMemoTextRows : public TMemoTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TMemoTextRows, NormalisesLineBreaksAndEndsAtTheFirstNul) {
  const TextCase& Row = GetParam();
  Memo->SetEncoding(Row.Encoding);
  Memo->SetText(Row.Assigned);
  EXPECT_EQ(Memo->Text(), Row.Held);
  EXPECT_EQ(Memo->toPlainText(), Row.Shown) << Memo->toPlainText().toStdString();
}

const QString Bad(QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    TMemo, TMemoTextRows,
    ::testing::Values(
        TextCase{"LineFeeds", "a\nb\n", "a\r\nb\r\n", "a\nb\n"},
        TextCase{"CarriageReturns", "a\rb\r", "a\r\nb\r\n", "a\nb\n"},
        TextCase{"CarriageReturnLineFeeds", "a\r\nb", "a\r\nb", "a\nb"},
        TextCase{"LineFeedThenCarriageReturn", "a\n\rb", "a\r\n\r\nb", "a\n\nb"},
        TextCase{"CarriageReturnTwice", "a\r\r\nb", "a\r\n\r\nb", "a\n\nb"},
        TextCase{"OnlyALineFeed", "\n", "\r\n", "\n"},
        TextCase{"Chinese", "\xD6\xD0\n\xCE\xC4", "\xD6\xD0\r\n\xCE\xC4", QStringLiteral(u"中\n文")},
        // A line break is no trail byte: the lead byte before it is a bad byte, and the break a break.
        TextCase{"LeadByteBeforeLineFeed", "\x8B\nABC", "\x8B\r\nABC", Bad + "\nABC"},
        TextCase{"LeadByteBeforeCarriageReturnLineFeed", "\xD6\r\nx", "\xD6\r\nx", Bad + "\nx"},
        TextCase{"LeadByteAtTheEnd", "ab\xD6", "ab\xD6", "ab" + Bad},
        // 0x80 is a character of its own: the line feed after it is converted.
        TextCase{"EuroBeforeLineFeed", "\x80\n", "\x80\r\n", QStringLiteral(u"€\n")},
        TextCase{"NulInTheMiddle", std::string("ab\ncd\0ef\ngh", 11), "ab\r\ncd", "ab\ncd"},
        TextCase{"NulFirst", std::string("\0abc", 4), "", ""},
        // A NUL is no trail byte: the text ends after the lead byte.
        TextCase{"LeadByteBeforeNul", std::string("\xD6\0\nx", 4), "\xD6", Bad},
        TextCase{"FourByteCharacter", "\x95\x32\x82\x36\n", "\x95\x32\x82\x36\r\n", QStringLiteral(u"\U00020000\n")},
        // UTF-8: a line feed is never part of a character.
        TextCase{"Utf8LeadByteBeforeLineFeed", "\xE4\n\xE4\xB8\xAD", "\xE4\r\n\xE4\xB8\xAD", Bad + QStringLiteral(u"\n中"),
                 TTextEncoding::Utf8},
        // UTF-16: line breaks and NULs are whole code units; zero bytes inside units are text.
        TextCase{"Utf16LeNulHalves", std::string("a\0\n\0\x0A\x4E\r\0", 8), std::string("a\0\r\0\n\0\x0A\x4E\r\0\n\0", 12),
                 QStringLiteral(u"a\n上\n"), TTextEncoding::Utf16Le},
        TextCase{"Utf16BeCarriageReturnLineFeed", std::string("\0\r\0\n\x4E\x0A", 6), std::string("\0\r\0\n\x4E\x0A", 6),
                 QStringLiteral(u"\n上"), TTextEncoding::Utf16Be},
        TextCase{"Utf16ZeroUnitEndsTheText", std::string("\0a\0\0\0b", 6), std::string("\0a", 2), "a", TTextEncoding::Utf16Be}));

// Another encoding shows the bytes the control holds in it at once.
TEST_F(TMemoTest, NewEncodingShowsTheHeldBytesAnew) {
  Memo->SetText("\xC3\xA9\xC3\xA9");
  EXPECT_EQ(Memo->toPlainText(), QStringLiteral(u"茅茅"));
  Memo->SetEncoding(TTextEncoding::Utf8);
  EXPECT_EQ(Memo->toPlainText(), QStringLiteral(u"éé"));
  EXPECT_EQ(Memo->Text(), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(Changes, 1);
  // The same bytes again change nothing.
  Memo->SetText("\xC3\xA9\xC3\xA9");
  EXPECT_EQ(Changes, 1);
}

TEST_F(TMemoTest, NewTextPutsCaretAndViewAtTheTopAndFiresOnChangeOnce) {
  Memo->SetText(ManyLines(200));
  EXPECT_EQ(Changes, 1);
  Memo->SetSelection(500, 500);
  ASSERT_GT(ScrollValue(), 0);
  Memo->SetText(ManyLines(200, "row "));
  EXPECT_EQ(Changes, 2);
  EXPECT_EQ(Memo->SelStart(), 0);
  EXPECT_EQ(ScrollValue(), 0);
}

TEST_F(TMemoTest, SameTextKeepsSelectionCaretAndViewAndFiresNothing) {
  Memo->SetText(ManyLines(200));
  Memo->SetSelection(400, 420);
  Memo->verticalScrollBar()->setValue(37);
  Changes = 0;
  Memo->SetText(ManyLines(200));
  // The same text with CR LF breaks is the same text once normalised.
  std::string WithCrLf = ManyLines(200);
  for (std::size_t Pos = WithCrLf.find('\n'); Pos != std::string::npos; Pos = WithCrLf.find('\n', Pos + 2))
    WithCrLf.insert(Pos, "\r");
  Memo->SetText(WithCrLf);
  EXPECT_EQ(Changes, 0);
  EXPECT_EQ(Memo->SelStartShown(), 400);
  EXPECT_EQ(Memo->CaretPosition(), 420);
  EXPECT_EQ(ScrollValue(), 37);
}

TEST_F(TMemoTest, TextWithANulIsHandedOverAgainEachTime) {
  const std::string WithNul("ab\0cd", 5);
  Memo->SetText(WithNul);
  Memo->SetText(WithNul);
  EXPECT_EQ(Changes, 2);
  EXPECT_EQ(Memo->Text(), "ab");
  // What it holds, assigned without the NUL, is the same text.
  Memo->SetText("ab");
  EXPECT_EQ(Changes, 2);
}

TEST_F(TMemoTest, EmptyTextEmptiesTheControl) {
  Memo->SetText("abc\ndef");
  Memo->SetText("");
  EXPECT_EQ(Memo->toPlainText(), QString());
  EXPECT_EQ(Memo->Text(), "");
  EXPECT_EQ(Changes, 2);
  Memo->SetText("");
  EXPECT_EQ(Changes, 2);
}

TEST_F(TMemoTest, UserEditsFireOnChangeAndShowInText) {
  Memo->SetReadOnly(false);
  Memo->SetText("\xD6\xD0");
  Focus(Memo);
  Memo->SetSelStart(1);
  Changes = 0;
  QTest::keyClicks(Memo, "ab");
  QTest::keyClick(Memo, Qt::Key_Return);
  EXPECT_EQ(Changes, 3);
  EXPECT_EQ(Memo->Text(), "\xD6\xD0" "ab\r\n");
  Memo->SetText("\xD6\xD0" "ab\n");
  EXPECT_EQ(Changes, 3);
}

// ---- SelStart ---------------------------------------------------------------------------------------

TEST_F(TMemoTest, SelStartDropsTheSelection) {
  Memo->SetText("first line\nsecond line");
  Memo->selectAll();
  ASSERT_TRUE(Memo->HasSelection());
  Memo->SetSelStart(0);
  EXPECT_FALSE(Memo->HasSelection());
  EXPECT_EQ(Memo->CaretPosition(), 0);
  EXPECT_EQ(Memo->SelStart(), 0);
}

struct PositionCase {
  int Assigned;
  int DocumentPosition;
  int ReadBack;
};

class TMemoPositionRows : public TMemoTest, public ::testing::WithParamInterface<PositionCase> {};

// "ab", "cd", "", "ef": in the text each line break is CR LF, two positions.
TEST_P(TMemoPositionRows, CountsEachLineBreakAsTwo) {
  Memo->SetText("ab\ncd\n\nef");
  Memo->SetSelStart(GetParam().Assigned);
  EXPECT_EQ(Memo->CaretPosition(), GetParam().DocumentPosition);
  EXPECT_EQ(Memo->SelStart(), GetParam().ReadBack);
}

INSTANTIATE_TEST_SUITE_P(TMemo, TMemoPositionRows,
                         ::testing::Values(PositionCase{0, 0, 0}, PositionCase{2, 2, 2},
                                           PositionCase{3, 2, 2}, // between CR and LF: the end of the line
                                           PositionCase{4, 3, 4}, PositionCase{6, 5, 6}, PositionCase{8, 6, 8},
                                           PositionCase{10, 7, 10}, PositionCase{12, 9, 12},
                                           PositionCase{13, 9, 12}, PositionCase{1000, 9, 12},
                                           PositionCase{-5, 0, 0}));

TEST_F(TMemoTest, SelStartDoesNotScrollTheCaretIntoView) {
  Memo->SetText(ManyLines(200));
  Memo->SetSelStart(1000);
  EXPECT_EQ(Memo->SelStart(), 1000);
  EXPECT_EQ(ScrollValue(), 0);
  Memo->verticalScrollBar()->setValue(50);
  Memo->SetSelStart(0);
  EXPECT_EQ(ScrollValue(), 50);
}

// ---- Keys -------------------------------------------------------------------------------------------

struct KeyCase {
  const char* Name;
  Qt::Key QtKey;
  Qt::KeyboardModifiers Modifiers;
  std::uint16_t Vk;
  TShiftState Shift;
};

void PrintTo(const KeyCase& Row, std::ostream* Out) { *Out << Row.Name; }

class TMemoKeyRows : public TMemoTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(TMemoKeyRows, OnKeyDownGetsTheVirtualKeyCode) {
  const KeyCase& Row = GetParam();
  std::vector<std::pair<std::uint16_t, TShiftState>> Seen;
  Memo->OnKeyDown = [&](QObject* Sender, std::uint16_t& Key, TShiftState Shift) {
    EXPECT_EQ(Sender, Memo);
    Seen.emplace_back(Key, Shift);
  };
  // QTest::keyClick types only keys that have an ASCII character.
  QTest::sendKeyEvent(QTest::Click, Memo, Row.QtKey, QString(), Row.Modifiers);
  // The modifier keys go down first, each with its own code; the key itself comes last.
  ASSERT_FALSE(Seen.empty());
  EXPECT_EQ(Seen.back().first, Row.Vk);
  EXPECT_EQ(Seen.back().second, Row.Shift);
}

INSTANTIATE_TEST_SUITE_P(
    TMemo, TMemoKeyRows,
    ::testing::Values(KeyCase{"PageUp", Qt::Key_PageUp, Qt::NoModifier, 33, {}},
                      KeyCase{"PageDown", Qt::Key_PageDown, Qt::NoModifier, 34, {}},
                      KeyCase{"Space", Qt::Key_Space, Qt::NoModifier, 32, {}},
                      KeyCase{"ShiftSpace", Qt::Key_Space, Qt::ShiftModifier, 32, ssShift},
                      KeyCase{"End", Qt::Key_End, Qt::NoModifier, 35, {}},
                      KeyCase{"Home", Qt::Key_Home, Qt::NoModifier, 36, {}},
                      KeyCase{"Left", Qt::Key_Left, Qt::NoModifier, 37, {}},
                      KeyCase{"Up", Qt::Key_Up, Qt::NoModifier, 38, {}},
                      KeyCase{"Right", Qt::Key_Right, Qt::NoModifier, 39, {}},
                      KeyCase{"Down", Qt::Key_Down, Qt::NoModifier, 40, {}},
                      KeyCase{"Return", Qt::Key_Return, Qt::NoModifier, 13, {}},
                      KeyCase{"KeypadEnter", Qt::Key_Enter, Qt::KeypadModifier, 13, {}},
                      KeyCase{"Escape", Qt::Key_Escape, Qt::NoModifier, 27, {}},
                      KeyCase{"LetterA", Qt::Key_A, Qt::NoModifier, 65, {}},
                      KeyCase{"CtrlZ", Qt::Key_Z, Qt::ControlModifier, 90, ssCtrl},
                      KeyCase{"AltShiftX", Qt::Key_X, Qt::AltModifier | Qt::ShiftModifier, 88, ssAlt | ssShift},
                      KeyCase{"Digit0", Qt::Key_0, Qt::NoModifier, 48, {}},
                      KeyCase{"Digit9", Qt::Key_9, Qt::NoModifier, 57, {}},
                      KeyCase{"Keypad5", Qt::Key_5, Qt::KeypadModifier, 101, {}},
                      KeyCase{"F1", Qt::Key_F1, Qt::NoModifier, 112, {}},
                      KeyCase{"F12", Qt::Key_F12, Qt::NoModifier, 123, {}},
                      KeyCase{"Delete", Qt::Key_Delete, Qt::NoModifier, 46, {}},
                      KeyCase{"Comma", Qt::Key_Comma, Qt::NoModifier, 188, {}},
                      KeyCase{"ShiftedDigit", Qt::Key_Exclam, Qt::ShiftModifier, 49, ssShift},
                      KeyCase{"AltGr", Qt::Key_AltGr, Qt::NoModifier, 18, {}},
                      KeyCase{"Super", Qt::Key_Super_L, Qt::NoModifier, 91, {}},
                      // Keys with no code on a US layout come as Windows reports such a key.
                      KeyCase{"AccentedLetter", Qt::Key_Adiaeresis, Qt::NoModifier, 255, {}},
                      KeyCase{"DeadKey", Qt::Key_Dead_Circumflex, Qt::NoModifier, 255, {}}));

TEST_F(TMemoTest, ModifierKeysHaveTheirOwnCodes) {
  std::vector<std::uint16_t> Seen;
  Memo->OnKeyDown = [&](QObject*, std::uint16_t& Key, TShiftState) { Seen.push_back(Key); };
  QTest::keyClick(Memo, Qt::Key_X, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(Seen, (std::vector<std::uint16_t>{16, 17, 18, 88}));
}

TEST_F(TMemoTest, OnKeyDownRunsBeforeTheControlMovesForPageDown) {
  Memo->SetText(ManyLines(200));
  int CaretSeen = -1;
  int ScrollSeen = -1;
  Memo->OnKeyDown = [&](QObject*, std::uint16_t& Key, TShiftState) {
    EXPECT_EQ(Key, 34);
    CaretSeen = Memo->SelStart();
    ScrollSeen = ScrollValue();
  };
  QTest::keyClick(Memo, Qt::Key_PageDown);
  EXPECT_EQ(CaretSeen, 0);
  EXPECT_EQ(ScrollSeen, 0);
  EXPECT_GT(Memo->SelStart(), 0);
  EXPECT_GT(ScrollValue(), 0);
}

TEST_F(TMemoTest, ControlHandlesPageDownFromTheCaretTheHandlerLeft) {
  // The page command's way: the handler replaces the text and puts the caret at its start, then the
  // control pages down in the new text.
  Memo->SetText(ManyLines(200));
  Memo->SetSelStart(1500);
  std::string TextSeen;
  Memo->OnKeyDown = [&](QObject*, std::uint16_t&, TShiftState) {
    TextSeen = Memo->Text();
    Memo->SetText(ManyLines(200, "next "));
    Memo->SetSelStart(0);
  };
  QTest::keyClick(Memo, Qt::Key_PageDown);
  EXPECT_EQ(TextSeen.substr(0, 8), "line 0\r\n");
  EXPECT_EQ(Memo->Text().substr(0, 8), "next 0\r\n");
  const int Line = static_cast<int>(Memo->toPlainText().left(Memo->CaretPosition()).count(QLatin1Char('\n')));
  EXPECT_GT(Line, 0);
  EXPECT_LT(Line, 60); // one page on from the top of the new text, not from where the caret had been
}

TEST_F(TMemoTest, ClearingTheKeyKeepsItFromTheControl) {
  Memo->SetText(ManyLines(200));
  Memo->OnKeyDown = [](QObject*, std::uint16_t& Key, TShiftState) { Key = 0; };
  QKeyEvent Press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
  QApplication::sendEvent(Memo, &Press);
  EXPECT_TRUE(Press.isAccepted());
  EXPECT_EQ(Memo->SelStart(), 0);
  EXPECT_EQ(ScrollValue(), 0);
}

TEST_F(TMemoTest, AReplacedKeyReachesTheControlInstead) {
  Memo->SetText("abc\ndef");
  Memo->OnKeyDown = [](QObject*, std::uint16_t& Key, TShiftState) {
    if (Key == 34) Key = 35; // Page Down becomes End
  };
  QTest::keyClick(Memo, Qt::Key_PageDown);
  EXPECT_EQ(Memo->SelStart(), 3);
}

TEST_F(TMemoTest, AutoRepeatsFireOnKeyDownToo) {
  Memo->SetText(ManyLines(400));
  int Calls = 0;
  Memo->OnKeyDown = [&](QObject*, std::uint16_t&, TShiftState) { ++Calls; };
  QKeyEvent First(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier, QString(), false);
  QKeyEvent Repeat(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier, QString(), true);
  QApplication::sendEvent(Memo, &First);
  const int AfterFirst = Memo->SelStart();
  QApplication::sendEvent(Memo, &Repeat);
  EXPECT_EQ(Calls, 2);
  EXPECT_GT(Memo->SelStart(), AfterFirst);
}

TEST_F(TMemoTest, SpaceChangesNothingInAReadOnlyControl) {
  Memo->SetText(ManyLines(200));
  const std::string Before = Memo->Text();
  QTest::keyClick(Memo, Qt::Key_Space);
  EXPECT_EQ(Memo->Text(), Before);
  EXPECT_EQ(ScrollValue(), 0);
  EXPECT_EQ(Changes, 1);
}

TEST_F(TMemoTest, TabMovesTheFocusWithoutReachingTheHandler) {
  Memo->SetText("abc");
  int Calls = 0;
  Memo->OnKeyDown = [&](QObject*, std::uint16_t&, TShiftState) { ++Calls; };
  Focus(Memo);
  QTest::keyClick(Memo, Qt::Key_Tab);
  EXPECT_TRUE(Other->hasFocus());
  EXPECT_EQ(Calls, 0);
  EXPECT_EQ(Memo->Text(), "abc");
}

// ---- Look -------------------------------------------------------------------------------------------

int PixelsOfColor(const QImage& Image, QRgb Color) {
  int Count = 0;
  for (int Y = 0; Y < Image.height(); ++Y)
    for (int X = 0; X < Image.width(); ++X)
      if ((Image.pixel(X, Y) & 0xFFFFFF) == (Color & 0xFFFFFF)) ++Count;
  return Count;
}

TEST_F(TMemoTest, SelectionShowsOnlyWhileFocused) {
  Memo->SetText(ManyLines(5, "selected text "));
  Memo->selectAll();
  const QRgb Highlight = Memo->palette().color(QPalette::Active, QPalette::Highlight).rgb();
  Focus(Other);
  EXPECT_EQ(PixelsOfColor(Memo->grab().toImage(), Highlight), 0);
  Focus(Memo);
  EXPECT_GT(PixelsOfColor(Memo->grab().toImage(), Highlight), 100);
  Focus(Other);
  EXPECT_EQ(PixelsOfColor(Memo->grab().toImage(), Highlight), 0);
  Memo->SetHideSelection(false);
  EXPECT_GT(PixelsOfColor(Memo->grab().toImage(), Highlight), 100);
}

// A large font's selection: every selected row highlighted (also rows filled to the edge), its text
// in the highlighted text's colour on it, and ink reaching into the next row's highlight (the
// underscore, below a large font's line) drawn over that highlight, not under it.
TEST_F(TMemoTest, SelectionHighlightsEveryRowUnderItsTextAndCutsNoInk) {
  TFont Font;
  Font.Name = "宋体";
  Font.Height = -32;
  Memo->SetFont(Font);
  const QColor Ground(0xFF, 0xFF, 0xE0);  // not the highlighted text's white
  Memo->SetColor(Ground);
  Focus(Memo);
  std::string Hanzi;
  for (int I = 0; I < 14; ++I) Hanzi += "\xD6\xD0";
  const auto AllSelected = [&](const std::string& Middle) {
    Memo->SetText(Hanzi + "\r\n" + Middle + "\r\n" + Hanzi.substr(0, 16));
    Memo->selectAll();
    return Memo->viewport()->grab().toImage();
  };
  const QImage Image = AllSelected("package_name");
  const TPageLayout& Rows = Memo->Layout();
  ASSERT_EQ(Rows.Lines.size(), 4u);
  ASSERT_EQ(Rows.Lines[1].Start, Rows.Lines[0].Length);  // the first row is full: it wraps
  const QRgb Highlight = Memo->palette().color(QPalette::Active, QPalette::Highlight).rgb();
  const QRgb Lit = Memo->palette().color(QPalette::Active, QPalette::HighlightedText).rgb();
  const int Pitch = Memo->LinePitch();
  for (int Row = 0; Row < 4; ++Row) {
    const QImage Band = Image.copy(0, Row * Pitch, LineWidth(*Memo, Row), Pitch);
    EXPECT_GT(PixelsOfColor(Band, Highlight), Band.width() * Pitch / 3) << "row " << Row;
    EXPECT_EQ(PixelsOfColor(Band, Ground.rgb()), 0) << "row " << Row;
    EXPECT_GT(PixelsOfColor(Band, Lit), 0) << "row " << Row;
  }
  // The underscore reaches below its row into the next one's highlight: there it shows.
  const QRect Below = Memo->CharacterRect(Rows.Lines[2].Start + 7).translated(0, Pitch);
  EXPECT_NE(Image.copy(Below), AllSelected("package name").copy(Below));
}

// The text area paints its background itself: what the window shows after a shorter text is only that
// text, with no ink left of the page before it. In a column narrower than the window a new text draws
// the column alone, and the window still shows what a whole paint would, selection and caret included.
TEST_F(TMemoTest, ANewTextLeavesNoInkOfTheOldOneOnScreen) {
  QRegion Painted;
  TPaints Paints(Painted);
  Memo->viewport()->installEventFilter(&Paints);
  TLayoutSettings Column = TLayoutSettings::Book();
  Column.Margin = 10;
  Column.MaxColumns = 16;
  const QRgb Base = Memo->palette().color(QPalette::Base).rgb();
  for (const TLayoutSettings& Layout : {TLayoutSettings::Original(), Column}) {
    Memo->SetPageLayout(Layout);
    Focus(Memo);
    Memo->SetText(ManyLines(50, "old text 中文字，gjpqy "));
    Memo->SetSelection(3, 60);  // line breaks selected too, all in view
    const QImage Old = OnScreen();
    EXPECT_LT(PixelsOfColor(Old, Base), Old.width() * Old.height());
    Painted = QRegion();
    Memo->SetText(ManyLines(9, "新"));
    const QImage Shown = OnScreen();
    EXPECT_EQ(Painted.boundingRect().width() < Memo->viewport()->width(), !Layout.CountsBytes());
    EXPECT_EQ(Shown, Memo->viewport()->grab().toImage());
    Focus(Other);  // no caret
    Memo->SetText("");
    const QImage Empty = OnScreen();
    EXPECT_EQ(PixelsOfColor(Empty, Base), Empty.width() * Empty.height());
  }
}

// Focus repaints only what it shows (the caret, or a selection hidden without it), not the page; a part
// repainted leaves the window holding what a whole repaint would draw.
TEST_F(TMemoTest, FocusRepaintsItsMarksAloneAndAPartRepaintedMatchesAWholePaint) {
  QRegion Painted;
  TPaints Paints(Painted);
  Memo->viewport()->installEventFilter(&Paints);
  const auto WholePaint = [this] { return Memo->viewport()->grab().toImage(); };
  const auto Area = [](const QRegion& Region) {
    int Pixels = 0;
    for (const QRect& Part : Region) Pixels += Part.width() * Part.height();
    return Pixels;
  };
  // The main window's font: descenders reach past its 14-pixel lines.
  TFont Font;
  Font.Name = "宋体";
  Font.Height = -14;
  Memo->SetFont(Font);
  Focus(Other);
  const std::string Line = "gjpqy gjpqy 中文字 ";
  Memo->SetText(ManyLines(30, Line));
  Memo->SetSelStart(100);
  OnScreen();
  for (QWidget* Next : {static_cast<QWidget*>(Memo), static_cast<QWidget*>(Other)}) {
    Painted = QRegion();
    Focus(Next);
    const QImage Shown = OnScreen();
    EXPECT_LE(Area(Painted), Memo->LinePitch()) << "only the caret";
    EXPECT_EQ(Shown, WholePaint());
  }
  // The caret moved with nothing selected: its two places alone.
  Focus(Memo);
  OnScreen();
  Painted = QRegion();
  QTest::keyClick(Memo, Qt::Key_Down);
  const QImage Moved = OnScreen();
  EXPECT_LE(Area(Painted), 2 * Memo->LinePitch() * 2);
  EXPECT_EQ(Moved, WholePaint());
  Focus(Other);
  OnScreen();
  // A strip across the top row of line 5 holds descenders of line 4, as a window uncovered there would.
  Memo->viewport()->repaint(QRect(0, 5 * Memo->LinePitch(), Memo->viewport()->width(), 1));
  EXPECT_EQ(OnScreen(), WholePaint());
  Memo->SetSelection(3, 40);
  OnScreen();
  Focus(Memo);
  EXPECT_EQ(OnScreen(), WholePaint());
  Focus(Other);
  EXPECT_EQ(OnScreen(), WholePaint());
}

// What the control will likely be given next is asked for once each new text is painted, while the
// program waits, and not again for a mere repaint.
TEST_F(TMemoTest, AsksForTheTextAheadOnceForEachNewTextPainted) {
  int Asked = 0;
  Memo->OnTextAhead = [&Asked] {
    ++Asked;
    return std::string("\xD6\xD0\xCE\xC4");
  };
  Memo->SetText("first page");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Asked == 1; }, 2000));
  Memo->viewport()->repaint();
  QTest::qWait(30);
  EXPECT_EQ(Asked, 1);
  Memo->SetText("second page");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Asked == 2; }, 2000));
}

// A window's image gets glyphs blended in directly; other devices (here an image with straight
// alpha) get Qt's glyph runs. Both put the same ink in the same place.
TEST_F(TMemoTest, GlyphsBlendedIntoAnImageLandWhereQtDrawsThem) {
  Memo->SetText(ManyLines(6, "\xD6\xD0\xCE\xC4 Page Wm "));
  QImage Blended(Memo->size(), QImage::Format_RGB32);
  Memo->render(&Blended);
  QImage Drawn(Memo->size(), QImage::Format_ARGB32);
  Memo->render(&Drawn);
  const auto Ink = [](const QImage& Image) {
    int Count = 0;
    QRect Box;
    for (int Y = 0; Y < Image.height(); ++Y)
      for (int X = 0; X < Image.width(); ++X)
        if (qGray(Image.pixel(X, Y)) < 128) {
          ++Count;
          Box |= QRect(X, Y, 1, 1);
        }
    return std::pair{Count, Box};
  };
  const auto [BlendedInk, BlendedBox] = Ink(Blended);
  const auto [DrawnInk, DrawnBox] = Ink(Drawn);
  ASSERT_GT(DrawnInk, 500);
  EXPECT_NEAR(BlendedInk, DrawnInk, DrawnInk / 8);
  EXPECT_LE((BlendedBox.topLeft() - DrawnBox.topLeft()).manhattanLength(), 2);
  EXPECT_LE((BlendedBox.bottomRight() - DrawnBox.bottomRight()).manhattanLength(), 2);
  // A repaint whose edges cut through glyphs blends the same pixels inside it as a whole one.
  const QRect Cut(BlendedBox.left() + 5, BlendedBox.top() + 3, BlendedBox.width() / 2 + 3, BlendedBox.height() / 2);
  QImage Part = Blended.copy();
  Part.fill(Qt::white);
  Memo->render(&Part, Cut.topLeft(), QRegion(Cut));
  EXPECT_EQ(Part.copy(Cut), Blended.copy(Cut));
}

// A page is drawn in one pass, each line's band filled and its glyphs put on it at once. On a ground
// that is not one colour (here a gradient of one colour) it is cleared and the glyphs blended in; in a
// repaint of a region of several rectangles each is composed on its own, and nothing is drawn outside
// the region. All give the same pixels: Chinese, Latin reaching past its box and its line,
// punctuation, a tab, a selection, by day and by night.
TEST_F(TMemoTest, PageDrawnInOnePassMatchesItClearedAndBlended) {
  TFont Font;
  Font.Name = "宋体";
  Font.Height = -14;
  Memo->SetText(ManyLines(20, "gjpqy \xD6\xD0\xCE\xC4\xA3\xAC\xA1\xB0Wf\tffi|_ \xB5\xDA\xD2\xBB\xD5\xC2 "));
  Memo->SetHideSelection(false);
  Memo->SetSelection(45, 100);
  for (const bool Night : {false, true}) {
    const QColor Ground = Night ? QColor(0x1E, 0x1E, 0x24) : QColor(0xFF, 0xFF, 0xF0);
    if (Night) Font.Color = QColor(0xC8, 0xC8, 0xB4);
    Memo->SetFont(Font);
    const int Width = Memo->viewport()->width(), Height = Memo->viewport()->height();
    // The ground the memo inherits from its window.
    const auto Drawn = [&](const QBrush& Base, const QRegion& Region) {
      QPalette Colors = Window->palette();
      Colors.setBrush(QPalette::Base, Base);
      Window->setPalette(Colors);
      QImage Image(Width, Height, QImage::Format_RGB32);
      Image.fill(Qt::black);
      Memo->viewport()->render(&Image, QPoint(), Region);
      return Image;
    };
    QLinearGradient OneColour(0, 0, Width, 0);
    OneColour.setColorAt(0, Ground);
    OneColour.setColorAt(1, Ground);
    const QRegion Whole(0, 0, Width, Height);
    const QImage OnePass = Drawn(Ground, Whole);
    EXPECT_EQ(OnePass, Drawn(OneColour, Whole)) << (Night ? "night" : "day") << ", cleared and blended";
    // The lower rectangles' top cuts through a line; the strip between them is left as it was.
    const QRect Strip(Width / 3, Height / 2, 20, Height - Height / 2);
    const QImage InParts = Drawn(Ground, QRegion(0, 0, Width, Height) - QRegion(Strip));
    QImage Want = OnePass;
    for (int Y = Strip.top(); Y <= Strip.bottom(); ++Y)
      for (int X = Strip.left(); X <= Strip.right(); ++X) Want.setPixel(X, Y, qRgb(0, 0, 0));
    EXPECT_EQ(InParts, Want) << (Night ? "night" : "day") << ", in parts";
  }
}

// Screen readers read the page, the caret and the selection through the accessibility tree.
TEST_F(TMemoTest, AccessibilityTreeHoldsTheTextCaretAndSelection) {
  Memo->SetText("\xD6\xD0\xCE\xC4\nab");
  QAccessibleInterface* Accessible = QAccessible::queryAccessibleInterface(Memo);
  ASSERT_NE(Accessible, nullptr);
  EXPECT_EQ(Accessible->role(), QAccessible::EditableText);
  EXPECT_TRUE(Accessible->state().readOnly);
  QAccessibleTextInterface* Text = Accessible->textInterface();
  ASSERT_NE(Text, nullptr);
  EXPECT_EQ(Text->characterCount(), 5);
  EXPECT_EQ(Text->text(0, 5), QStringLiteral(u"中文\nab"));
  EXPECT_EQ(Accessible->text(QAccessible::Value), QStringLiteral(u"中文\nab"));
  Memo->SetSelStart(4); // after CR LF: the 'a'
  EXPECT_EQ(Text->cursorPosition(), 3);
  Text->setSelection(0, 1, 4);
  int Start = -1;
  int End = -1;
  Text->selection(0, &Start, &End);
  EXPECT_EQ(Text->selectionCount(), 1);
  EXPECT_EQ(std::pair(Start, End), std::pair(1, 4));
  EXPECT_EQ(Memo->SelStart(), 1);
  EXPECT_TRUE(Text->characterRect(3).isValid());
  EXPECT_EQ(Text->offsetAtPoint(Text->characterRect(3).topLeft() + QPoint(1, 1)), 3);
}

// A screen reader reads the page row by row: the accessible text's lines are the rows on screen, those
// of a wrapped paragraph too, a row's line feed with it; before the first and after the last is none.
TEST_F(TMemoTest, AccessibleLinesAreTheRowsOnScreen) {
  std::string Paragraph;
  for (int I = 0; I < 60; ++I) Paragraph += "\xD6\xD0";  // 中, far wider than the control
  Memo->SetText(Paragraph + "\r\nab\r\n\r\n" + Paragraph.substr(0, 6));
  const QString Shown = Memo->toPlainText();
  const std::vector<TPageLine>& Rows = Memo->Layout().Lines;
  ASSERT_GE(Rows.size(), 5u);
  ASSERT_EQ(Rows[1].Start, Rows[0].Length);  // the paragraph wraps
  QAccessibleTextInterface* Text = QAccessible::queryAccessibleInterface(Memo)->textInterface();
  // The line Method gives at Offset is row Row: its text and its bounds.
  using TLineAt = QString (QAccessibleTextInterface::*)(int, QAccessible::TextBoundaryType, int*, int*) const;
  const auto Expect = [&](TLineAt Method, int Offset, int Row) {
    int Start = 0, End = 0;
    const QString Got = (Text->*Method)(Offset, QAccessible::LineBoundary, &Start, &End);
    const int From = Row < 0 || Row >= int(Rows.size()) ? -1 : Rows[Row].Start;
    const int To = From < 0 ? -1 : Row + 1 < int(Rows.size()) ? Rows[Row + 1].Start : int(Shown.size());
    EXPECT_EQ(std::pair(Start, End), std::pair(From, To)) << "offset " << Offset << ", row " << Row;
    EXPECT_EQ(Got, From < 0 ? QString() : Shown.mid(From, To - From)) << "offset " << Offset << ", row " << Row;
  };
  const TLineAt At = &QAccessibleTextInterface::textAtOffset;
  const TLineAt Before = &QAccessibleTextInterface::textBeforeOffset;
  const TLineAt After = &QAccessibleTextInterface::textAfterOffset;
  for (int Row = 0; Row < int(Rows.size()); ++Row) {
    for (const int Offset : {Rows[Row].Start, Rows[Row].Start + Rows[Row].Length / 2}) {
      Expect(At, Offset, Row);
      Expect(Before, Offset, Row - 1);
      Expect(After, Offset, Row + 1);
    }
  }
  Expect(At, int(Shown.size()), int(Rows.size()) - 1);
  Expect(At, int(Shown.size()) + 1, -1);
  Expect(After, -1, -1);
}

TEST_F(TMemoTest, PageViewDefaults) {
  EXPECT_EQ(Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_TRUE(Memo->tabChangesFocus());
  EXPECT_TRUE(Memo->HideSelection());
  EXPECT_EQ(Memo->frameShadow(), QFrame::Sunken);
  EXPECT_GT(Memo->frameWidth(), 0);
  EXPECT_FALSE(TMemo().ReadOnly());
}

TEST_F(TMemoTest, UnspacedChineseWrapsAtTheEdge) {
  std::string Line;
  for (int I = 0; I < 100; ++I) Line += "\xD6\xD0";
  Memo->SetText(Line);
  ASSERT_FALSE(Memo->toPlainText().contains(QLatin1Char('\n')));
  const int Lines = static_cast<int>(Memo->Layout().Lines.size());
  EXPECT_GT(Lines, 2);
  for (int I = 0; I < Lines; ++I) EXPECT_LE(LineWidth(*Memo, I), Memo->ClientWidth());
}

TEST_F(TMemoTest, ClientSizeIsInsideTheBorderWhateverTheFont) {
  const int Border = Memo->frameWidth();
  EXPECT_EQ(Memo->ClientWidth(), 300 - 2 * Border);
  EXPECT_EQ(Memo->ClientHeight(), 200 - 2 * Border);
  TFont Large;
  Large.Height = -40;
  Memo->SetFont(Large);
  EXPECT_EQ(Memo->ClientWidth(), 300 - 2 * Border);
  EXPECT_EQ(Memo->ClientHeight(), 200 - 2 * Border);
}

// ---- Font -------------------------------------------------------------------------------------------

TEST_F(TMemoTest, FontIsCopiedAndDrawn) {
  TFont Chosen;
  Chosen.PixelsPerInch = 96;
  Chosen.Height = -14;
  Chosen.Name = "宋体";
  Chosen.Color = QColor(Qt::darkRed);
  Memo->SetFont(Chosen);
  Chosen.Height = -30;
  EXPECT_EQ(Memo->Font().Height, -14);
  EXPECT_EQ(Memo->Font().Name, "宋体");
  EXPECT_EQ(Memo->font().pixelSize(), 14);
  EXPECT_EQ(Memo->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::darkRed));
}

TEST_F(TMemoTest, FontFromAnotherPixelsPerInchKeepsItsPointSize) {
  TFont Designed;
  Designed.PixelsPerInch = 120;
  Designed.Height = -20; // 12 points
  Memo->SetFont(Designed);
  EXPECT_EQ(Memo->Font().PixelsPerInch, 96);
  EXPECT_EQ(Memo->Font().Height, -16);
}

TEST_F(TMemoTest, WithoutAFontItShowsItsParents) {
  QFont Parents = Window->font();
  Parents.setPixelSize(23);
  Window->setFont(Parents);
  EXPECT_EQ(Memo->Font().Height, -23);
}

} // namespace

namespace {

// A full page, as the viewer measures it for a font of height -14 (lines of 14 pixels holding 28
// bytes per 196 pixels), fits the control: no line of it is pushed out of sight, whatever the line
// spacing of the face that draws it. Full-width Chinese and half-width letters fill a line alike.
TEST(TMemoPage, FullPageOfLinesFitsTheClientArea) {
  TMemo Memo;
  TFont Font;
  Font.Name = "宋体";
  Font.Height = -14;
  Memo.SetFont(Font);
  Memo.resize(400, 300);
  Memo.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Memo));
  const int Chars = Memo.ClientWidth() / 14;
  const int Lines = Memo.ClientHeight() / 14;
  for (const std::string& Cell : {std::string("\xD6\xD0"), std::string("Wm")}) {
    SCOPED_TRACE(Cell);
    std::string Line;
    for (int I = 0; I < Chars; ++I) Line += Cell;
    std::string Page;
    for (int I = 0; I < Lines - 1; ++I) Page += Line + "\r\n";
    Memo.SetText(Page);
    QCoreApplication::processEvents();
    const int Paragraphs = static_cast<int>(Memo.toPlainText().count(QLatin1Char('\n'))) + 1;
    EXPECT_EQ(Paragraphs, Lines);
    ASSERT_EQ(static_cast<int>(Memo.Layout().Lines.size()), Paragraphs) << "a line of the page wrapped";
    EXPECT_LE(static_cast<int>(Memo.Layout().Lines.size()) * Memo.LinePitch(), Memo.ClientHeight());
    EXPECT_EQ(Memo.verticalScrollBar()->maximum(), 0);
  }
  // Words run on where the line is full: a paragraph of Lines - 1 full lines takes no more.
  std::string Paragraph;
  while (Paragraph.size() < static_cast<std::size_t>((Lines - 1) * Chars * 2)) Paragraph += "Hello, world 123. ";
  Paragraph.resize((Lines - 1) * Chars * 2);
  Memo.SetText(Paragraph);
  QCoreApplication::processEvents();
  EXPECT_EQ(static_cast<int>(Memo.Layout().Lines.size()), Lines - 1);
  EXPECT_EQ(Memo.verticalScrollBar()->maximum(), 0);
}

}  // namespace

namespace {

// The right button's menu copies the selection and selects all; a read-only control offers no edits.
TEST_F(TMemoTest, ContextMenuCopiesAndSelectsAll) {
  Memo->SetText("first line\r\nsecond line\r\n");
  Memo->SetSelection(6, 10);
  const auto RightClick = [this](const QString& Chosen) {
    QStringList Offered;
    QTimer::singleShot(0, [&] {
      auto* Menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(Menu, nullptr);
      for (QAction* Action : Menu->actions())
        if (!Action->isSeparator()) Offered << Action->text() + (Action->isEnabled() ? "" : " (off)");
      for (QAction* Action : Menu->actions())
        if (Action->text() == Chosen) Action->trigger();
      Menu->close();
    });
    QContextMenuEvent Event(QContextMenuEvent::Mouse, QPoint(5, 5), Memo->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(Memo->viewport(), &Event);
    return Offered;
  };
  EXPECT_EQ(RightClick(QStringLiteral("复制(&C)")), (QStringList{QStringLiteral("复制(&C)"), QStringLiteral("全选(&A)")}));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("line"));
  RightClick(QStringLiteral("全选(&A)"));
  EXPECT_EQ(Memo->SelectedText(), QStringLiteral("first line\nsecond line\n"));
  Memo->SetSelection(0, 0);
  EXPECT_EQ(RightClick(QString()), (QStringList{QStringLiteral("复制(&C) (off)"), QStringLiteral("全选(&A)")}));
}

}  // namespace
