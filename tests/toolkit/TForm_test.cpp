#include "TForm.h"

#include "ModalAnswer.h"
#include "TApplication.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <string>

namespace {

// Counts the title changes that reach a window.
class TTitleChanges : public QObject {
public:
  explicit TTitleChanges(QWidget* Window) { Window->installEventFilter(this); }
  int Count = 0;

protected:
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::WindowTitleChange) ++Count;
    return false;
  }
};

// Runs Action inside the next modal showing of a form, once it is up.
void WhileModal(std::function<void(TForm*)> Action, std::unique_ptr<TModalAnswer<TForm>>& Holder) {
  Holder = std::make_unique<TModalAnswer<TForm>>(std::move(Action));
}

QPoint Centred(QSize Area, QSize Outer) {
  return {std::max(0, (Area.width() - Outer.width()) / 2), std::max(0, (Area.height() - Outer.height()) / 2)};
}

class TFormTest : public ::testing::Test {
protected:
  void TearDown() override { Application->DestroyForms(); }
  std::unique_ptr<TModalAnswer<TForm>> Answer;
};

} // namespace

TEST(TFormCaption, SameTextSendsNothingNewTextIsHandedOn) {
  TForm Form;
  TTitleChanges Changes(&Form);
  Form.SetCaption(""); // the text a new form already has
  EXPECT_EQ(Changes.Count, 0);
  Form.SetCaption("Pagorin文本文件浏览器--/书/三国.txt");
  EXPECT_EQ(Changes.Count, 1);
  EXPECT_EQ(Form.windowTitle(), QString::fromUtf8("Pagorin文本文件浏览器--/书/三国.txt"));
  Form.SetCaption("Pagorin文本文件浏览器--/书/三国.txt");
  EXPECT_EQ(Changes.Count, 1);
  EXPECT_EQ(Form.Caption(), "Pagorin文本文件浏览器--/书/三国.txt");
}

TEST(TFormPlacement, FirstShowingCentresByPositionThenKeepsThePlace) {
  const QScreen* Screen = QGuiApplication::primaryScreen();
  ASSERT_NE(Screen, nullptr);
  struct TRow {
    const char* What;
    TForm::TPosition Position;
    QSize Size;
    QSize Area;
  };
  const TRow Rows[] = {
      {"screen centre", TForm::poScreenCenter, {300, 200}, Screen->size()},
      {"odd remainder truncates", TForm::poScreenCenter, {301, 203}, Screen->size()},
      {"desktop centre", TForm::poDesktopCenter, {268, 242}, Screen->virtualSize()},
      {"larger than the screen stays at 0", TForm::poScreenCenter,
       Screen->size() + QSize(300, 100), Screen->size()},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.What);
    TForm Form;
    Form.resize(Row.Size);
    Form.SetPosition(Row.Position);
    Form.ShowForm();
    EXPECT_EQ(Form.frameGeometry().topLeft(), Screen->geometry().topLeft() + Centred(Row.Area, Form.frameGeometry().size()));
    EXPECT_EQ(Form.Position(), TForm::poDesigned);
    Form.move(17, 23); // the user moves it
    Form.hide();
    Form.ShowForm();
    EXPECT_EQ(Form.pos(), QPoint(17, 23));
  }
}

TEST(TFormPlacement, DesignedPositionIsLeftAlone) {
  TForm Form;
  Form.resize(200, 100);
  Form.move(5, 9);
  Form.ShowForm();
  EXPECT_EQ(Form.pos(), QPoint(5, 9));
}

TEST(TFormKeys, EnterClicksTheDefaultButtonAndEscapeDoesNothing) {
  TForm Form;
  auto* Plain = new QPushButton("Plain", &Form);
  auto* Default = new QPushButton("Default", &Form);
  Default->setDefault(true);
  int PlainClicks = 0;
  int DefaultClicks = 0;
  QObject::connect(Plain, &QPushButton::clicked, [&] { ++PlainClicks; });
  QObject::connect(Default, &QPushButton::clicked, [&] { ++DefaultClicks; });
  Form.show();
  QTest::keyClick(&Form, Qt::Key_Return);
  QTest::keyClick(&Form, Qt::Key_Enter);
  QTest::keyClick(&Form, Qt::Key_Escape);
  EXPECT_EQ(DefaultClicks, 2);
  EXPECT_EQ(PlainClicks, 0);
  EXPECT_TRUE(Form.isVisible());
  Default->setEnabled(false);
  QTest::keyClick(&Form, Qt::Key_Return);
  EXPECT_EQ(DefaultClicks, 2);
}

using TFormModal = TFormTest;

TEST_F(TFormModal, ButtonBoundToAResultEndsTheShowingWithIt) {
  TForm Form;
  auto* Button = new QPushButton("OK", &Form);
  Form.BindModalResult(Button, 1);
  int ResultSeenByClick = -1;
  QObject::connect(Button, &QPushButton::clicked, [&] { ResultSeenByClick = Form.ModalResult(); });
  WhileModal([&](TForm*) { QTest::mouseClick(Button, Qt::LeftButton); }, Answer);
  EXPECT_EQ(Form.ShowFormModal(), 1);
  EXPECT_EQ(ResultSeenByClick, 1);
  EXPECT_FALSE(Form.isVisible());
  EXPECT_FALSE(Form.IsModal());
}

TEST_F(TFormModal, AnyResultButZeroEndsTheShowing) {
  TForm Form;
  int ResultWhileUp = -1;
  WhileModal(
      [&](TForm* Up) {
        ResultWhileUp = Up->ModalResult();
        Up->SetModalResult(0);
        QTimer::singleShot(0, [Up] { Up->SetModalResult(7); });
      },
      Answer);
  EXPECT_EQ(Form.ShowFormModal(), 7);
  EXPECT_EQ(ResultWhileUp, 0);
}

TEST_F(TFormModal, CloseOperationAndCloseBoxGiveTwoAndOnlyHide) {
  for (bool ByCloseBox : {false, true}) {
    SCOPED_TRACE(ByCloseBox ? "close box" : "close operation");
    auto* Form = new TForm;
    QPointer<TForm> Alive(Form);
    Form->setAttribute(Qt::WA_DeleteOnClose);
    bool VisibleRightAfterClose = false;
    WhileModal(
        [&](TForm* Up) {
          if (ByCloseBox)
            Up->close();
          else
            Up->CloseForm();
          VisibleRightAfterClose = Up->isVisible();
        },
        Answer);
    EXPECT_EQ(Form->ShowFormModal(), 2);
    EXPECT_TRUE(VisibleRightAfterClose); // the modal loop hides it, not the close
    EXPECT_FALSE(Form->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(Alive.isNull());
    delete Form;
  }
}

TEST_F(TFormModal, VisibleDisabledOrAlreadyModalFormsAreRefused) {
  auto ExpectRefused = [](TForm& Form) {
    try {
      Form.ShowFormModal();
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidOperation& Error) {
      EXPECT_EQ(Error.Message(), "Cannot make a visible window modal");
    }
  };
  {
    SCOPED_TRACE("visible");
    TForm Form;
    Form.show();
    ExpectRefused(Form);
    EXPECT_TRUE(Form.isVisible());
  }
  {
    SCOPED_TRACE("disabled");
    TForm Form;
    Form.setEnabled(false);
    ExpectRefused(Form);
    EXPECT_FALSE(Form.isVisible());
  }
  {
    SCOPED_TRACE("already modal");
    TForm Form;
    bool Refused = false;
    WhileModal(
        [&](TForm* Up) {
          Up->hide(); // not even a hidden modal form can be shown modally again
          try {
            Up->ShowFormModal();
          } catch (const EInvalidOperation&) {
            Refused = true;
          }
          Up->SetModalResult(1);
        },
        Answer);
    EXPECT_EQ(Form.ShowFormModal(), 1);
    EXPECT_TRUE(Refused);
  }
}

TEST_F(TFormModal, OtherWindowsAreDisabledWhileUpAndExactlyThoseEnabledAfter) {
  TForm Main;
  TForm AlreadyDisabled;
  TForm Hidden;
  TForm Modal;
  Main.show();
  AlreadyDisabled.setEnabled(false);
  AlreadyDisabled.show();
  bool MainEnabledWhileUp = true;
  bool HiddenEnabledWhileUp = false;
  bool ModalEnabledWhileUp = false;
  bool ModalVisibleWhileUp = false;
  WhileModal(
      [&](TForm* Up) {
        MainEnabledWhileUp = Main.isEnabled();
        HiddenEnabledWhileUp = Hidden.isEnabled();
        ModalEnabledWhileUp = Up->isEnabled();
        ModalVisibleWhileUp = Up->isVisible();
        Up->CloseForm();
      },
      Answer);
  EXPECT_EQ(Modal.ShowFormModal(), 2);
  EXPECT_FALSE(MainEnabledWhileUp);
  EXPECT_TRUE(HiddenEnabledWhileUp);
  EXPECT_TRUE(ModalEnabledWhileUp);
  EXPECT_TRUE(ModalVisibleWhileUp);
  EXPECT_TRUE(Main.isEnabled());
  EXPECT_FALSE(AlreadyDisabled.isEnabled());
}

TEST_F(TFormModal, DisabledWindowBehindTheModalFormIgnoresItsCloseBox) {
  TForm* Main = nullptr;
  Application->CreateForm(Main);
  Main->show();
  TForm Modal;
  WhileModal(
      [&](TForm* Up) {
        Main->close();
        QCoreApplication::processEvents();
        Up->CloseForm();
      },
      Answer);
  Modal.ShowFormModal();
  QCoreApplication::processEvents();
  EXPECT_FALSE(Application->Terminated());
  EXPECT_TRUE(Main->isVisible());
}

TEST_F(TFormModal, FocusAndActiveWindowComeBackAfterwards) {
  TForm Main;
  auto* Edit = new QLineEdit(&Main);
  Main.setCentralWidget(Edit);
  Main.show();
  Main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Main));
  Edit->setFocus();
  TForm Modal;
  QWidget* ActiveWhileUp = nullptr;
  WhileModal(
      [&](TForm* Up) {
        if (QTest::qWaitForWindowActive(Up)) ActiveWhileUp = QApplication::activeWindow();
        Up->CloseForm();
      },
      Answer);
  Modal.ShowFormModal();
  EXPECT_EQ(ActiveWhileUp, &Modal);
  QTRY_COMPARE(QApplication::activeWindow(), &Main);
  EXPECT_EQ(QApplication::focusWidget(), Edit);
}

using TFormClose = TFormTest;

TEST_F(TFormClose, ClosingAnotherFormHidesItAndClosingTheMainFormTerminates) {
  TForm* Main = nullptr;
  TForm* Other = nullptr;
  Application->CreateForm(Main);
  Application->CreateForm(Other);
  Main->show();
  Other->show();
  Other->close();
  EXPECT_FALSE(Other->isVisible());
  QCoreApplication::processEvents();
  EXPECT_FALSE(Application->Terminated());
  Main->close();
  EXPECT_FALSE(Application->Terminated()); // the quit event is handled in its turn
  QCoreApplication::processEvents();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_TRUE(Main->isVisible());
}

TEST(TFormWindowState, FollowsTheUser) {
  TForm Form;
  Form.SetWindowState(TForm::wsMaximized);
  Form.ShowForm();
  EXPECT_TRUE(Form.isMaximized());
  Form.showNormal(); // the user restores it
  EXPECT_EQ(Form.WindowState(), TForm::wsNormal);
  Form.showMinimized();
  EXPECT_EQ(Form.WindowState(), TForm::wsMinimized);
}
