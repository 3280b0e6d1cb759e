#include "Exception.h"
#include "TScrollBar.h"
#include "toolkit/ScrollBarParts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>

#include <vector>

namespace {

// Records every OnChange with the position it saw, and every OnScroll.
struct TRecordedBar {
  TScrollBar Bar;
  std::vector<int> Changes;
  std::vector<TScrollCode> Codes;
  bool InsideAssignment = false;
  std::vector<bool> ChangedInside;

  TRecordedBar() {
    Bar.OnChange = [this](QObject* Sender) {
      EXPECT_EQ(Sender, &Bar);
      Changes.push_back(Bar.Position());
      ChangedInside.push_back(InsideAssignment);
    };
    Bar.OnScroll = [this](QObject*, TScrollCode Code, int&) { Codes.push_back(Code); };
  }

  void SetParams(int Position, int Min, int Max) {
    InsideAssignment = true;
    Bar.SetParams(Position, Min, Max);
    InsideAssignment = false;
  }
};

TEST(TScrollBar, DefaultsToZeroOfZeroToHundred) {
  TScrollBar Bar;
  EXPECT_EQ(Bar.Min(), 0);
  EXPECT_EQ(Bar.Max(), 100);
  EXPECT_EQ(Bar.Position(), 0);
  EXPECT_EQ(Bar.PageSize(), 0);
  EXPECT_EQ(Bar.SmallChange, 1);
  EXPECT_EQ(Bar.LargeChange, 1);
  EXPECT_EQ(Bar.Kind(), sbHorizontal);
  EXPECT_EQ(Bar.focusPolicy() & Qt::TabFocus, Qt::TabFocus);
}

struct RangeCase {
  const char* Name;
  int Position, Min, Max;                 // before
  int NewPosition, NewMin, NewMax;        // the assignment
  int WantPosition;                       // after
  std::vector<int> WantChanges;
};

class TScrollBarRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(TScrollBarRange, ClampsAndNotifiesInsideTheAssignment) {
  const RangeCase& Row = GetParam();
  TRecordedBar Recorded;
  Recorded.Bar.SetParams(Row.Position, Row.Min, Row.Max);
  Recorded.Changes.clear();
  Recorded.ChangedInside.clear();
  Recorded.SetParams(Row.NewPosition, Row.NewMin, Row.NewMax);
  EXPECT_EQ(Recorded.Bar.Position(), Row.WantPosition);
  EXPECT_EQ(Recorded.Bar.Min(), Row.NewMin);
  EXPECT_EQ(Recorded.Bar.Max(), Row.NewMax);
  EXPECT_EQ(Recorded.Changes, Row.WantChanges);
  for (bool Inside : Recorded.ChangedInside) EXPECT_TRUE(Inside);
  EXPECT_EQ(Recorded.Bar.value(), Row.WantPosition) << "the Qt widget mirrors the position";
  EXPECT_EQ(Recorded.Bar.maximum(), Row.NewMax);
}

void PrintTo(const RangeCase& Row, std::ostream* Out) { *Out << Row.Name; }

INSTANTIATE_TEST_SUITE_P(
    Rows, TScrollBarRange,
    ::testing::Values(RangeCase{"MaxBelowPosition", 50, 0, 100, 50, 0, 10, 10, {10}},
                      RangeCase{"SamePosition", 50, 0, 100, 50, 0, 100, 50, {}},
                      RangeCase{"PositionAboveMax", 50, 0, 100, 150, 0, 100, 100, {100}},
                      RangeCase{"PositionAlreadyAtMax", 100, 0, 100, 150, 0, 100, 100, {}},
                      RangeCase{"MinAbovePosition", 50, 0, 100, 50, 60, 100, 60, {60}},
                      RangeCase{"RangeChangeWithoutMove", 5, 0, 100, 5, 0, 501, 5, {}},
                      RangeCase{"BelowMin", 5, 0, 100, -3, 0, 100, 0, {0}},
                      RangeCase{"FullThirtyTwoBits", 0, 0, 100, 2147483647, 0, 2147483647, 2147483647,
                                {2147483647}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TScrollBar, PropertyAssignmentsRunTheSameRangeUpdate) {
  TRecordedBar Recorded;
  Recorded.Bar.SetPosition(50);
  Recorded.Bar.SetMax(10);
  Recorded.Bar.SetMin(10);
  Recorded.Bar.SetPosition(10);
  EXPECT_EQ(Recorded.Changes, (std::vector<int>{50, 10}));
  EXPECT_EQ(Recorded.Bar.Min(), 10);
}

TEST(TScrollBar, OutOfRangeRaisesAndChangesNothing) {
  TRecordedBar Recorded;
  Recorded.Bar.SetPosition(5);
  Recorded.Changes.clear();
  try {
    Recorded.Bar.SetMax(-1);
    FAIL() << "no exception";
  } catch (const EInvalidOperation& Error) {
    EXPECT_EQ(Error.Message(), "Scrollbar property out of range");
  }
  EXPECT_EQ(Recorded.Bar.Max(), 100);
  EXPECT_EQ(Recorded.Bar.Position(), 5);
  EXPECT_THROW(Recorded.Bar.SetMin(101), EInvalidOperation);
  EXPECT_EQ(Recorded.Bar.Min(), 0);

  Recorded.Bar.SetPageSize(20);
  EXPECT_THROW(Recorded.Bar.SetMax(10), EInvalidOperation);
  EXPECT_EQ(Recorded.Bar.Max(), 100);
  EXPECT_TRUE(Recorded.Changes.empty());
}

TEST(TScrollBar, PageSizeAboveMaxIsIgnoredAndNeverMoves) {
  TRecordedBar Recorded;
  Recorded.Bar.SetPosition(90);
  Recorded.Changes.clear();
  Recorded.Bar.SetPageSize(200);
  EXPECT_EQ(Recorded.Bar.PageSize(), 0);
  Recorded.Bar.SetPageSize(100);
  EXPECT_EQ(Recorded.Bar.PageSize(), 100);
  EXPECT_EQ(Recorded.Bar.Position(), 90);
  Recorded.Bar.SetPageSize(0);
  EXPECT_EQ(Recorded.Bar.PageSize(), 0);
  EXPECT_TRUE(Recorded.Changes.empty());
}

// A handler may assign the position of the bar that notifies it: the update runs again, nested.
TEST(TScrollBar, HandlerMayMoveTheBarAgain) {
  TScrollBar Bar;
  std::vector<int> Seen;
  Bar.OnChange = [&](QObject*) {
    Seen.push_back(Bar.Position());
    if (Bar.Position() == 30) Bar.SetPosition(40);
  };
  Bar.SetPosition(30);
  EXPECT_EQ(Seen, (std::vector<int>{30, 40}));
  EXPECT_EQ(Bar.Position(), 40);
}

TEST(TScrollBar, ScrollCodesMoveByTheirSteps) {
  TRecordedBar Recorded;
  Recorded.Bar.SetPosition(50);
  Recorded.Bar.SmallChange = 3;
  Recorded.Bar.LargeChange = 10;
  Recorded.Bar.Scroll(scLineDown, 0);
  EXPECT_EQ(Recorded.Bar.Position(), 53);
  Recorded.Bar.Scroll(scLineUp, 0);
  Recorded.Bar.Scroll(scPageUp, 0);
  EXPECT_EQ(Recorded.Bar.Position(), 40);
  Recorded.Bar.Scroll(scPageDown, 0);
  EXPECT_EQ(Recorded.Bar.Position(), 50);
  Recorded.Bar.Scroll(scBottom, 0);
  EXPECT_EQ(Recorded.Bar.Position(), 100);
  Recorded.Bar.Scroll(scLineDown, 0);  // clamped: nothing moves, nothing fires
  Recorded.Bar.Scroll(scTop, 0);
  Recorded.Bar.Scroll(scTrack, 77);
  Recorded.Bar.Scroll(scEndScroll, 0);
  EXPECT_EQ(Recorded.Changes, (std::vector<int>{50, 53, 50, 40, 50, 100, 0, 77}));
  EXPECT_EQ(Recorded.Codes.size(), 9u);
}

TEST(TScrollBar, OnScrollMayChangeTheNewPosition) {
  TScrollBar Bar;
  Bar.OnScroll = [](QObject*, TScrollCode, int& ScrollPos) { ScrollPos = 7; };
  Bar.Scroll(scLineDown, 0);
  EXPECT_EQ(Bar.Position(), 7);
  EXPECT_EQ(Bar.value(), 7);
}

// Real mouse and keys on a shown bar (offscreen): every action goes through the model.
class TScrollBarUser : public ::testing::Test {
protected:
  TScrollBarUser() {
    Recorded.Bar.SetKind(sbVertical);
    Recorded.Bar.resize(16, 300);
    Recorded.Bar.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Recorded.Bar));
  }

  QRect Part(QStyle::SubControl Control) { return ScrollBarPart(Recorded.Bar, Control); }

  void Mouse(QEvent::Type Type, QPoint At, Qt::MouseButtons Held) {
    const Qt::MouseButton Button = Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent Event(Type, QPointF(At), Recorded.Bar.mapToGlobal(QPointF(At)), Button, Held, Qt::NoModifier);
    QApplication::sendEvent(&Recorded.Bar, &Event);
  }

  // Presses on the thumb and moves down pixel by pixel until Stop says so; returns where it is.
  QPoint DragDown(const std::function<bool()>& Stop) {
    QPoint At = Part(QStyle::SC_ScrollBarSlider).center();
    Mouse(QEvent::MouseButtonPress, At, Qt::LeftButton);
    while (!Stop() && At.y() < 400) {
      At.ry() += 1;
      Mouse(QEvent::MouseMove, At, Qt::LeftButton);
    }
    return At;
  }

  TRecordedBar Recorded;
};

TEST_F(TScrollBarUser, DraggingOverFivePositionsFiresFiveTimesAndReleaseInPlaceNone) {
  Recorded.Bar.SetMax(10);
  const QPoint At = DragDown([&] { return Recorded.Bar.Position() == 5; });
  EXPECT_EQ(Recorded.Changes, (std::vector<int>{1, 2, 3, 4, 5}));
  Mouse(QEvent::MouseButtonRelease, At, Qt::NoButton);
  EXPECT_EQ(Recorded.Changes.size(), 5u);
  EXPECT_EQ(Recorded.Codes.back(), scPosition);
  EXPECT_EQ(Recorded.Bar.value(), 5);
}

TEST_F(TScrollBarUser, LargeRangeArrivesWholeAndReachesTheFarEnd) {
  Recorded.Bar.SetMax(200000);
  const QPoint At = DragDown([&] { return Recorded.Bar.Position() == 200000; });
  Mouse(QEvent::MouseButtonRelease, At, Qt::NoButton);
  EXPECT_EQ(Recorded.Bar.Position(), 200000);
  ASSERT_GE(Recorded.Changes.size(), 2u);
  EXPECT_GT(Recorded.Changes.end()[-2], 65535);
}

TEST_F(TScrollBarUser, ArrowAndTrackClicksMoveByOne) {
  Recorded.Bar.SetMax(50);
  QTest::mouseClick(&Recorded.Bar, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine).center());
  EXPECT_EQ(Recorded.Bar.Position(), 1);
  QTest::mouseClick(&Recorded.Bar, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddPage).center());
  EXPECT_EQ(Recorded.Bar.Position(), 2);
  QTest::mouseClick(&Recorded.Bar, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarSubLine).center());
  EXPECT_EQ(Recorded.Bar.Position(), 1);
  EXPECT_EQ(Recorded.Changes, (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(Recorded.Codes, (std::vector<TScrollCode>{scLineDown, scPageDown, scLineUp}));
}

// A move between inner positions repaints the old and new thumb only, and the screen then shows
// exactly what a whole repaint would; reaching an end repaints the whole bar (its arrow changes).
TEST_F(TScrollBarUser, AMoveRepaintsOnlyTheThumbsYetShowsTheWholeBarRight) {
  struct TRegions : QObject {
    QRegion Painted;
    bool eventFilter(QObject*, QEvent* Event) override {
      if (Event->type() == QEvent::Paint) Painted += static_cast<QPaintEvent*>(Event)->region();
      return false;
    }
  } Regions;
  TScrollBar& Bar = Recorded.Bar;
  Bar.SetParams(40, 0, 100);
  Bar.SetPageSize(10);
  QTest::qWait(20);
  Bar.installEventFilter(&Regions);
  Bar.SetPosition(60);
  QTest::qWait(20);
  EXPECT_LT(Regions.Painted.boundingRect().height(), Bar.height() / 2);
  const QImage Shown = Bar.screen()->grabWindow(Bar.winId()).toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(Shown, Bar.grab().toImage().convertToFormat(QImage::Format_RGB32));
  Regions.Painted = QRegion();
  Bar.SetPosition(100);
  QTest::qWait(20);
  EXPECT_EQ(Regions.Painted, QRegion(Bar.rect()));
}

// Qt's own value change outside an action (its context menu's "Scroll here") is a thumb release.
TEST_F(TScrollBarUser, QtMovingItsValueMovesThePosition) {
  Recorded.Bar.SetMax(50);
  static_cast<QAbstractSlider&>(Recorded.Bar).setValue(7);
  EXPECT_EQ(Recorded.Bar.Position(), 7);
  EXPECT_EQ(Recorded.Changes, (std::vector<int>{7}));
  EXPECT_EQ(Recorded.Codes, (std::vector<TScrollCode>{scPosition}));
}

TEST_F(TScrollBarUser, KeysWhileFocusedScroll) {
  Recorded.Bar.SetMax(50);
  Recorded.Bar.LargeChange = 5;
  Recorded.Bar.setFocus();
  QTest::keyClick(&Recorded.Bar, Qt::Key_Down);
  QTest::keyClick(&Recorded.Bar, Qt::Key_PageDown);
  EXPECT_EQ(Recorded.Bar.Position(), 6);
  QTest::keyClick(&Recorded.Bar, Qt::Key_End);
  EXPECT_EQ(Recorded.Bar.Position(), 50);
  QTest::keyClick(&Recorded.Bar, Qt::Key_Home);
  EXPECT_EQ(Recorded.Bar.Position(), 0);
  EXPECT_EQ(Recorded.Changes, (std::vector<int>{1, 6, 50, 0}));
}

}  // namespace
