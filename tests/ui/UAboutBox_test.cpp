#include "UAboutBox.h"

#include "TApplication.h"
#include "toolkit/ModalAnswer.h"

#include <gtest/gtest.h>

#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <functional>
#include <memory>

namespace {

class TAboutBoxTest : public ::testing::Test {
protected:
  void SetUp() override { Application->CreateForm(AboutBox); }
  void TearDown() override { Application->DestroyForms(); }

  // Shows the box modally; Act runs once it is up. Returns the modal result.
  int ShowWith(std::function<void(TForm*)> Act) {
    TModalAnswer<TForm> Answer(std::move(Act));
    const int Result = AboutBox->ShowFormModal();
    EXPECT_EQ(Answer.Answered(), 1);
    return Result;
  }
};

} // namespace

using TAboutBoxLayout = TAboutBoxTest;

TEST_F(TAboutBoxLayout, CaptionSizeAndFixedDialogFrame) {
  EXPECT_EQ(AboutBox->Caption(), "关于本软件");
  EXPECT_EQ(AboutBox->size(), QSize(298, 213));
  EXPECT_EQ(AboutBox->minimumSize(), QSize(298, 213));
  EXPECT_EQ(AboutBox->maximumSize(), QSize(298, 213));
  const Qt::WindowFlags Flags = AboutBox->windowFlags();
  EXPECT_EQ(AboutBox->windowType(), Qt::Dialog);
  EXPECT_TRUE(Flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(Flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
  EXPECT_FALSE(Flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(Flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(Flags.testFlag(Qt::WindowContextHelpButtonHint));
  EXPECT_EQ(AboutBox->Position(), TForm::poScreenCenter);
  EXPECT_FALSE(AboutBox->isVisible());
  EXPECT_EQ(AboutBox->palette().color(QPalette::Window), AboutBox->palette().color(QPalette::Button));
  AboutBox->show();
  EXPECT_EQ(AboutBox->centralWidget()->geometry(), QRect(0, 0, 298, 213)); // the client area
  AboutBox->hide();
}

TEST_F(TAboutBoxLayout, ControlsTextsAndFont) {
  struct TRow {
    QWidget* Control;
    QWidget* Parent;
    QPoint Place;
  };
  const TRow Rows[] = {
      {AboutBox->Panel1, AboutBox->centralWidget(), {8, 8}},
      {AboutBox->ProgramIcon, AboutBox->Panel1, {24, 24}},
      {AboutBox->ProductName, AboutBox->Panel1, {88, 16}},
      {AboutBox->Version, AboutBox->Panel1, {88, 40}},
      {AboutBox->Copyright, AboutBox->Panel1, {8, 80}},
      {AboutBox->Label1, AboutBox->Panel1, {8, 104}},
      {AboutBox->OKButton, AboutBox->centralWidget(), {111, 180}},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.Control->objectName().toStdString());
    EXPECT_EQ(Row.Control->parentWidget(), Row.Parent);
    EXPECT_EQ(Row.Control->pos(), Row.Place);
    // Only the button takes the focus by Tab.
    EXPECT_EQ(bool(Row.Control->focusPolicy() & Qt::TabFocus), Row.Control == AboutBox->OKButton);
  }
  EXPECT_EQ(AboutBox->Panel1->size(), QSize(281, 161));
  EXPECT_EQ(AboutBox->ProgramIcon->size(), QSize(33, 33));
  EXPECT_EQ(AboutBox->OKButton->size(), QSize(75, 25));
  EXPECT_EQ(AboutBox->ProductName->text(), QString::fromUtf8("Pagorin 文本文件小说浏览器"));
  EXPECT_EQ(AboutBox->Version->text(), QString::fromUtf8("Version 1.0 版本号 1.0"));
  EXPECT_EQ(AboutBox->OKButton->text(), QString::fromUtf8("关闭"));
  EXPECT_TRUE(AboutBox->OKButton->isDefault());
  for (QLabel* Notice : {AboutBox->Copyright, AboutBox->Label1}) {
    EXPECT_FALSE(Notice->text().isEmpty());
    EXPECT_FALSE(Notice->text().contains(QLatin1Char('\n')));
    // One line that fits the panel in the font actually used.
    EXPECT_LE(Notice->x() + Notice->width(), AboutBox->Panel1->contentsRect().right());
  }
  const QFont Font = AboutBox->OKButton->font();
  ASSERT_FALSE(Font.families().isEmpty());
  EXPECT_EQ(Font.families().first(), QString::fromUtf8("宋体"));
  EXPECT_TRUE(Font.families().contains(QStringLiteral("Noto Sans CJK SC")));
  EXPECT_EQ(Font.pixelSize(), 12);
}

TEST_F(TAboutBoxLayout, PictureIsOursScaledToFillTheControl) {
  AboutBox->show();
  const QImage Picture = AboutBox->ProgramIcon->grab().toImage();
  AboutBox->hide();
  ASSERT_EQ(Picture.size(), QSize(33, 33));
  const QColor Red(0xFF, 0x00, 0x00);
  const QColor Ground(0x00, 0x00, 0x80);
  EXPECT_EQ(Picture.pixelColor(0, 0), Red);
  EXPECT_EQ(Picture.pixelColor(32, 32), Red); // the border reaches the 33rd pixel: stretched
  EXPECT_EQ(Picture.pixelColor(32, 0), Red);
  EXPECT_EQ(Picture.pixelColor(4, 4), Ground);
}

using TAboutBoxModal = TAboutBoxTest;

TEST_F(TAboutBoxModal, CloseButtonClickAndEnterGiveOne) {
  EXPECT_EQ(ShowWith([](TForm*) { QTest::mouseClick(AboutBox->OKButton, Qt::LeftButton); }), 1);
  EXPECT_EQ(ShowWith([](TForm*) { QTest::keyClick(AboutBox->OKButton, Qt::Key_Return); }), 1);
  EXPECT_EQ(ShowWith([](TForm* Up) { QTest::keyClick(Up, Qt::Key_Enter); }), 1);
}

TEST_F(TAboutBoxModal, CaptionCloseButtonGivesTwo) {
  EXPECT_EQ(ShowWith([](TForm* Up) { Up->close(); }), 2);
}

TEST_F(TAboutBoxModal, EscapeLeavesItOpen) {
  bool OpenAfterEscape = false;
  EXPECT_EQ(ShowWith([&](TForm* Up) {
              QTest::keyClick(AboutBox->OKButton, Qt::Key_Escape);
              QTest::keyClick(Up, Qt::Key_Escape);
              QCoreApplication::processEvents();
              OpenAfterEscape = Up->isVisible() && Up->ModalResult() == 0;
              Up->close();
            }),
            2);
  EXPECT_TRUE(OpenAfterEscape);
}

TEST_F(TAboutBoxModal, HiddenNotDestroyedAndShownAgainWhereItWasLeft) {
  const QScreen* Screen = QGuiApplication::primaryScreen();
  ASSERT_NE(Screen, nullptr);
  QPointer<TAboutBox> Box(AboutBox);
  QPoint FirstPlace;
  QSize Outer;
  ShowWith([&](TForm* Up) {
    FirstPlace = Up->pos();
    Outer = Up->frameGeometry().size();
    Up->move(40, 30); // the user drags it
    Up->close();
  });
  EXPECT_FALSE(Box.isNull());
  EXPECT_FALSE(AboutBox->isVisible());
  const QSize Free = Screen->size() - Outer;
  EXPECT_EQ(FirstPlace, Screen->geometry().topLeft() + QPoint(Free.width() / 2, Free.height() / 2));

  QPoint SecondPlace;
  ShowWith([&](TForm* Up) {
    SecondPlace = Up->pos();
    QTest::mouseClick(AboutBox->OKButton, Qt::LeftButton);
  });
  EXPECT_EQ(SecondPlace, QPoint(40, 30));
}

TEST_F(TAboutBoxModal, MainWindowIsDisabledWhileItIsUp) {
  TForm Main;
  Main.show();
  bool MainEnabledWhileUp = true;
  ShowWith([&](TForm*) {
    MainEnabledWhileUp = Main.isEnabled();
    QTest::mouseClick(AboutBox->OKButton, Qt::LeftButton);
  });
  EXPECT_FALSE(MainEnabledWhileUp);
  EXPECT_TRUE(Main.isEnabled());
}
