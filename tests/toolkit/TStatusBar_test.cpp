#include "TStatusBar.h"

#include "CodePage.h"
#include "Exception.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QSizeGrip>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

// Counts the paint passes of the widget it watches.
class TPaintCounter : public QObject {
public:
  int Paints = 0;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) ++Paints;
    return QObject::eventFilter(Watched, Event);
  }
};

// A shown main window whose status bar has the viewer's three panels.
class TStatusBarTest : public ::testing::Test {
protected:
  void SetUp() override {
    Window = std::make_unique<QMainWindow>();
    Bar = new TStatusBar(Window.get());
    Window->setStatusBar(Bar);
    Bar->AddPanel(50, "one");
    Bar->AddPanel(200, "two");
    Bar->AddPanel(50, "three");
    Window->resize(400, 300);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    QCoreApplication::processEvents();
  }

  QLabel* Label(int Index) const {
    return Bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly).at(Index);
  }

  std::unique_ptr<QMainWindow> Window;
  TStatusBar* Bar = nullptr;
};

// ---- Panels by index --------------------------------------------------------------------------------

class TStatusBarIndexRows : public TStatusBarTest, public ::testing::WithParamInterface<int> {};

TEST_P(TStatusBarIndexRows, IndexOutsideThePanelsRaisesListError) {
  try {
    Bar->Panels(GetParam());
    FAIL() << "no exception";
  } catch (const EListError& Error) {
    EXPECT_EQ(Error.Message(), "List index out of bounds (" + std::to_string(GetParam()) + ")");
  }
}

INSTANTIATE_TEST_SUITE_P(TStatusBar, TStatusBarIndexRows, ::testing::Values(-1, 3, 4, -2147483647 - 1));

TEST_F(TStatusBarTest, PanelsAreCountedFromZeroInTheOrderAdded) {
  ASSERT_EQ(Bar->PanelCount(), 3);
  EXPECT_EQ(Bar->Panels(0).Text(), "one");
  EXPECT_EQ(Bar->Panels(1).Text(), "two");
  EXPECT_EQ(Bar->Panels(2).Text(), "three");
  EXPECT_EQ(Bar->Panels(1).Width(), 200);
}

TEST(TStatusBar, ABarWithoutPanelsHasNoPanelZero) {
  TStatusBar Empty;
  EXPECT_THROW(Empty.Panels(0), EListError);
}

// ---- When a text shows ------------------------------------------------------------------------------

TEST_F(TStatusBarTest, FirstPaintShowsTheTextsGivenBefore) {
  EXPECT_EQ(Label(0)->text(), "one");
  EXPECT_EQ(Label(1)->text(), "two");
  EXPECT_EQ(Label(2)->text(), "three");
}

TEST_F(TStatusBarTest, NewTextShowsOnlyWhenTheBarPaints) {
  Bar->Panels(1).SetText("first");
  Bar->Panels(1).SetText("second");
  EXPECT_EQ(Bar->Panels(1).Text(), "second");
  EXPECT_EQ(Label(1)->text(), "two");
  Bar->repaint();
  EXPECT_EQ(Label(1)->text(), "second");
}

TEST_F(TStatusBarTest, TextSetInsideALongHandlerShowsAfterItReturns) {
  QString SeenInsideTheHandler;
  bool HandlerRan = false;
  QTimer::singleShot(0, Bar, [&] {
    Bar->Panels(1).SetText("\xD5\xFD\xD4\xDA\xB6\xC1"); // "正在读"
    SeenInsideTheHandler = Label(1)->text();
    HandlerRan = true;
  });
  while (!HandlerRan) QCoreApplication::processEvents();
  EXPECT_EQ(SeenInsideTheHandler, "two");
  QCoreApplication::processEvents();
  EXPECT_EQ(Label(1)->text(), QStringLiteral(u"正在读"));
}

// A new text, of any length, is drawn in one paint pass: no second one for the label or a layout.
TEST_F(TStatusBarTest, SameTextRequestsNoPaintANewOneExactlyOne) {
  TPaintCounter Counter, LabelCounter;
  Bar->installEventFilter(&Counter);
  Label(1)->installEventFilter(&LabelCounter);
  Bar->Panels(1).SetText("two");
  QTest::qWait(20);
  EXPECT_EQ(Counter.Paints, 0);
  Bar->Panels(1).SetText("a much longer text than the one before");
  QTest::qWait(20);
  EXPECT_EQ(Counter.Paints, 1);
  EXPECT_EQ(LabelCounter.Paints, 1);
  EXPECT_EQ(Label(1)->accessibleName(), "a much longer text than the one before");
}

TEST_F(TStatusBarTest, TextIsShownInTheCodePageUpToItsFirstNul) {
  Bar->Panels(1).SetText(std::string("\xCE\xC4\xBC\xFE\0tail", 9));
  Bar->repaint();
  EXPECT_EQ(Label(1)->text(), QStringLiteral(u"文件"));
  EXPECT_EQ(Bar->Panels(1).Text().size(), 9u);
}

TEST_F(TStatusBarTest, TextIsPlainNotMarkup) {
  Bar->Panels(1).SetText("<b>x</b>");
  Bar->repaint();
  EXPECT_EQ(Label(1)->textFormat(), Qt::PlainText);
  EXPECT_EQ(Label(1)->text(), "<b>x</b>");
}

// A text too wide for its panel ends in an ellipsis where it is cut, and reads whole in the panel's
// tooltip and to screen readers; one that fits shows whole, with no tooltip.
TEST_F(TStatusBarTest, TextTooWideIsCutWithAnEllipsisAndWholeInTheTooltip) {
  const QString Whole = QStringLiteral(u"找到“天地玄黄宇宙洪荒日月盈昃辰宿列张”：第1234567890字节（已从头继续）");
  Bar->Panels(1).SetText(TCodePage::Ansi().Encode(Whole));
  Bar->repaint();
  QLabel& Panel = *Label(1);
  EXPECT_EQ(Panel.toolTip(), Whole);
  EXPECT_EQ(Panel.accessibleName(), Whole);
  EXPECT_TRUE(Panel.text().endsWith(QChar(0x2026))) << Panel.text().toStdString();
  EXPECT_TRUE(Whole.startsWith(Panel.text().chopped(1)));
  EXPECT_LE(Panel.fontMetrics().horizontalAdvance(Panel.text()), Panel.contentsRect().width());
  Bar->Panels(1).SetText("short");
  Bar->repaint();
  EXPECT_EQ(Panel.text(), "short");
  EXPECT_EQ(Panel.toolTip(), "");
  EXPECT_EQ(Panel.accessibleName(), "short");
}

// ---- Where the panels are ---------------------------------------------------------------------------

struct EdgeCase {
  int BarWidth;
  std::vector<std::pair<int, int>> Spans; // left, right (exclusive) of each panel
};

class TStatusBarEdgeRows : public TStatusBarTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(TStatusBarEdgeRows, EdgesAreRunningSumsAndTheLastPanelRunsToTheEnd) {
  Window->resize(GetParam().BarWidth, 300);
  QCoreApplication::processEvents();
  ASSERT_EQ(Bar->width(), GetParam().BarWidth);
  for (int Index = 0; Index < 3; ++Index) {
    const QRect Shape = Label(Index)->geometry();
    EXPECT_EQ(Shape.left(), GetParam().Spans[Index].first) << "panel " << Index;
    EXPECT_EQ(Shape.left() + Shape.width(), GetParam().Spans[Index].second) << "panel " << Index;
  }
}

INSTANTIATE_TEST_SUITE_P(TStatusBar, TStatusBarEdgeRows,
                         ::testing::Values(EdgeCase{400, {{0, 50}, {50, 250}, {250, 400}}},
                                           EdgeCase{700, {{0, 50}, {50, 250}, {250, 700}}},
                                           // Narrower than the widths: panels are cut at the end.
                                           EdgeCase{200, {{0, 50}, {50, 200}, {200, 200}}}));

TEST_F(TStatusBarTest, WidthOfTheLastPanelDoesNotMatter) {
  Bar->Panels(2).SetWidth(10);
  EXPECT_EQ(Label(2)->geometry().right() + 1, Bar->width());
  Bar->Panels(0).SetWidth(80);
  EXPECT_EQ(Label(1)->geometry().left(), 80);
  EXPECT_EQ(Label(2)->geometry().left(), 280);
}

TEST_F(TStatusBarTest, AddedPanelTakesOverTheEnd) {
  Bar->AddPanel(30, "four");
  EXPECT_EQ(Label(2)->geometry().right() + 1, 300);
  EXPECT_EQ(Label(3)->geometry().left(), 300);
  EXPECT_EQ(Label(3)->geometry().right() + 1, Bar->width());
}

// ---- Look -------------------------------------------------------------------------------------------

TEST_F(TStatusBarTest, PanelsAreSunkenAndLeftJustified) {
  for (int Index = 0; Index < 3; ++Index) {
    EXPECT_EQ(Label(Index)->frameShadow(), QFrame::Sunken);
    EXPECT_GT(Label(Index)->frameWidth(), 0);
    EXPECT_TRUE(Label(Index)->alignment() & Qt::AlignLeft);
  }
  Bar->Panels(1).SetAlignment(taRightJustify);
  EXPECT_TRUE(Label(1)->alignment() & Qt::AlignRight);
  Bar->Panels(1).SetBevel(pbNone);
  EXPECT_EQ(Label(1)->frameWidth(), 0);
}

TEST_F(TStatusBarTest, SizeGripSitsAboveTheLastPanel) {
  auto* Grip = Bar->findChild<QSizeGrip*>();
  ASSERT_NE(Grip, nullptr);
  EXPECT_TRUE(Grip->isVisible());
  EXPECT_EQ(Bar->childAt(Grip->geometry().center()), Grip);
}

TEST_F(TStatusBarTest, NineteenPixelsHighWithASmallFont) {
  ASSERT_LE(QFontMetrics(Bar->font()).height(), 15);
  EXPECT_EQ(Bar->height(), 19);
}

TEST_F(TStatusBarTest, DrawsInTheStatusBarFontNotTheWindows) {
  QFont Large = Window->font();
  Large.setPixelSize(40);
  Large.setItalic(true);
  Window->setFont(Large);
  EXPECT_EQ(Bar->font(), QApplication::font("QStatusBar"));
  EXPECT_EQ(Label(1)->font(), Bar->font());
  EXPECT_FALSE(Label(1)->font().italic());
}

} // namespace
