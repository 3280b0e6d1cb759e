#include "TApplication.h"

#include "CheckedDivision.h"
#include "ModalAnswer.h"
#include "TFontDialog.h"
#include "TForm.h"
#include "TOpenDialog.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::string Title = "Pagorin高速文本文件浏览器";

// Runs Action when a User event reaches it: an event handler as the loop dispatches it.
class TEventHandler : public QObject {
public:
  explicit TEventHandler(std::function<void()> Action) : FAction(std::move(Action)) {}
  void Post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }

protected:
  bool event(QEvent* Event) override {
    if (Event->type() != QEvent::User) return QObject::event(Event);
    FAction();
    return true;
  }

private:
  std::function<void()> FAction;
};

// Posts an event whose handler runs Action, and lets the loop handle it.
void HandleInEvent(std::function<void()> Action) {
  TEventHandler Handler(std::move(Action));
  Handler.Post();
  QCoreApplication::sendPostedEvents(&Handler, QEvent::User);
}

class TApplicationTest : public ::testing::Test {
protected:
  void SetUp() override { Application->SetTitle(Title); }
  void TearDown() override {
    Application->SetReportHook(nullptr);
    Application->DestroyForms();
  }
};

} // namespace

using TApplicationGuard = TApplicationTest;

TEST_F(TApplicationGuard, ExceptionFromAButtonSlotIsShownCaptionedByTheTitleAndTheProgramGoesOn) {
  QWidget Window;
  Window.setWindowTitle("Pagorin文本文件浏览器--/novels/a.txt"); // the caption is not the title
  auto* Button = new QPushButton("Go", &Window);
  int Clicks = 0;
  QObject::connect(Button, &QPushButton::clicked, [&] {
    ++Clicks; // done before the throw: it stays done
    throw Exception("Disk is full");
  });
  Window.show();

  TErrorBoxAnswer First;
  QTest::mouseClick(Button, Qt::LeftButton);
  EXPECT_TRUE(First.Seen.Shown);
  EXPECT_EQ(First.Seen.Text, "Disk is full.");
  EXPECT_EQ(First.Seen.Caption, Title);
  EXPECT_EQ(First.Seen.Icon, QMessageBox::Critical);
  EXPECT_EQ(First.Seen.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(Clicks, 1);

  TErrorBoxAnswer Second;
  QTest::mouseClick(Button, Qt::LeftButton);
  EXPECT_TRUE(Second.Seen.Shown);
  EXPECT_EQ(Clicks, 2);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(TApplicationGuard, DivisionByZeroInAnEventHandlerIsShownWithAPeriod) {
  int Zero = 0;
  int Reached = 0;
  TErrorBoxAnswer Box;
  HandleInEvent([&] {
    Reached = 1;
    Reached = CheckedDivision(10, Zero);
    Reached = 3; // not reached: the exception ends the handler
  });
  EXPECT_EQ(Box.Seen.Text, "Division by zero.");
  EXPECT_EQ(Box.Seen.Caption, Title);
  EXPECT_EQ(Reached, 1);
}

TEST_F(TApplicationGuard, KindsOfExceptionAndTheirText) {
  struct TRow {
    const char* What;
    std::function<void()> Throw;
    const char* Shown;
  };
  const std::vector<TRow> Rows = {
      {"invalid operation", [] { throw EInvalidOperation("Cannot make a visible window modal"); },
       "Cannot make a visible window modal."},
      {"list error", [] { throw EListError("List index out of bounds (3)"); }, "List index out of bounds (3)"},
      {"foreign std::exception", [] { throw std::out_of_range("vector index"); }, "vector index."},
      {"not a std::exception", [] { throw 42; }, ""},
      {"empty message", [] { throw Exception(""); }, ""},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.What);
    TErrorBoxAnswer Box;
    HandleInEvent(Row.Throw);
    EXPECT_TRUE(Box.Seen.Shown);
    EXPECT_EQ(Box.Seen.Text, Row.Shown);
    EXPECT_EQ(Box.Seen.Caption, Title);
  }
}

TEST_F(TApplicationGuard, AbortIsSilentAndKeepsWhatTheHandlerDid) {
  int Reports = 0;
  Application->SetReportHook([&](const std::string&, const std::string&) { ++Reports; });
  int Reached = 0;
  TModalAnswer<QWidget> AnyModal([](QWidget* Window) { Window->close(); });
  HandleInEvent([&] {
    Reached = 1;
    throw EAbort();
  });
  EXPECT_EQ(Reached, 1);
  EXPECT_EQ(Reports, 0);
  EXPECT_EQ(AnyModal.Answered(), 0);
}

TEST_F(TApplicationGuard, MouseGrabIsReleasedBeforeTheBoxShows) {
  QWidget Grabber;
  Grabber.show();
  Grabber.grabMouse();
  ASSERT_EQ(QWidget::mouseGrabber(), &Grabber);
  QWidget* GrabberWhileUp = &Grabber;
  TErrorBoxAnswer Box;
  Box.Seen.WhileUp = [&] { GrabberWhileUp = QWidget::mouseGrabber(); };
  HandleInEvent([] { throw Exception("Lost"); });
  EXPECT_TRUE(Box.Seen.Shown);
  EXPECT_EQ(GrabberWhileUp, nullptr);
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(TApplicationGuard, OtherWindowsAreDisabledWhileTheBoxIsUpAndFocusReturns) {
  QWidget Window;
  auto* Edit = new QLineEdit(&Window);
  auto* Other = new QLineEdit(&Window);
  auto* Layout = new QVBoxLayout(&Window);
  Layout->addWidget(Edit);
  Layout->addWidget(Other);
  QWidget AlreadyDisabled;
  AlreadyDisabled.setEnabled(false);
  AlreadyDisabled.show();
  Window.show();
  Window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  Other->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), Other);

  bool WindowEnabledWhileUp = true;
  TErrorBoxAnswer Box;
  Box.Seen.WhileUp = [&] { WindowEnabledWhileUp = Window.isEnabled(); };
  HandleInEvent([] { throw Exception("Oops!"); });
  EXPECT_EQ(Box.Seen.Text, "Oops!");
  EXPECT_FALSE(WindowEnabledWhileUp);
  EXPECT_TRUE(Window.isEnabled());
  EXPECT_FALSE(AlreadyDisabled.isEnabled());
  QTRY_COMPARE(QApplication::activeWindow(), &Window);
  EXPECT_EQ(QApplication::focusWidget(), Other);
}

TEST_F(TApplicationGuard, ReportHookTakesThePlaceOfTheBox) {
  std::vector<std::string> HookTexts;
  std::string HookCaption;
  Application->SetReportHook([&](const std::string& Text, const std::string& Caption) {
    HookTexts.push_back(Text);
    HookCaption = Caption;
  });
  TModalAnswer<QWidget> AnyModal([](QWidget* Window) { Window->close(); });
  HandleInEvent([] { throw Exception("文件不存在"); });
  ASSERT_EQ(HookTexts.size(), 1u);
  EXPECT_EQ(HookTexts.front(), "文件不存在.");
  EXPECT_EQ(HookCaption, Title);
  EXPECT_EQ(HookTexts.back(), "文件不存在.");
  EXPECT_EQ(AnyModal.Answered(), 0);
}

TEST(TApplicationErrorBoxText, PeriodIsAddedAfterACharacterAboveThePeriod) {
  struct TRow {
    const char* Message;
    const char* Shown;
  };
  const TRow Rows[] = {
      {"Division by zero", "Division by zero."},
      {"Done.", "Done."},
      {"Oops!", "Oops!"},
      {"", ""},
      {"ends in a space ", "ends in a space "},
      {"(a remark)", "(a remark)"},
      {"1,", "1,"},
      {"x-", "x-"},
      {"a/b", "a/b."}, // "/" sorts right after "."
      {"3", "3."},
      {"文件不存在", "文件不存在."},  // a multi-byte character counts as one and sorts above "."
      {"路径：c:\\", "路径：c:\\."},
      {"。", "。."},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.Message);
    EXPECT_EQ(TApplication::ErrorBoxText(Row.Message), Row.Shown);
  }
}

TEST(CheckedDivision, QuotientsAndTheZeroDivisor) {
  EXPECT_EQ(CheckedDivision(7, 2), 3);
  EXPECT_EQ(CheckedDivision(-7, 2), -3);
  EXPECT_EQ(CheckedDivision<std::int64_t>(5'000'000'000, 1000), 5'000'000);
  EXPECT_EQ(CheckedDivision(std::numeric_limits<int>::min(), -1), std::numeric_limits<int>::min());
  EXPECT_THROW(CheckedDivision(7, 0), EDivByZero);
  try {
    CheckedDivision(0u, 0u);
    ADD_FAILURE() << "no exception";
  } catch (const EDivByZero& Error) {
    EXPECT_EQ(Error.Message(), "Division by zero");
  }
}

// ---- Creating forms, start-up and the run ----

namespace {

std::vector<std::string> Events;

class TLoggedForm : public TForm {
public:
  explicit TLoggedForm(std::string Name) : FName(std::move(Name)) { Events.push_back("made " + FName); }
  ~TLoggedForm() override { Events.push_back("destroyed " + FName); }

private:
  std::string FName;
};

class TFirstForm : public TLoggedForm {
public:
  TFirstForm() : TLoggedForm("first") {}
};
class TSecondForm : public TLoggedForm {
public:
  TSecondForm() : TLoggedForm("second") {}
};

TFirstForm* First = nullptr;
TSecondForm* Second = nullptr;

// A form whose construction fails half-way; it checks that its reference was set beforehand.
class TBrokenForm : public TForm {
public:
  TBrokenForm();
};
TBrokenForm* Broken = nullptr;
TBrokenForm::TBrokenForm() {
  Events.push_back(Broken == this ? "reference set" : "reference not set");
  throw Exception("Resource TBrokenForm not found");
}

struct TPlainObject {
  TPlainObject() { Events.push_back("made plain"); }
  ~TPlainObject() { Events.push_back("destroyed plain"); }
};
TPlainObject* Plain = nullptr;

} // namespace

using TApplicationForms = TApplicationTest;

TEST_F(TApplicationForms, FirstFormIsTheMainFormAndFormsAreDestroyedLastMadeFirst) {
  Events.clear();
  Application->CreateForm(Plain);
  EXPECT_EQ(Application->MainForm(), nullptr);
  Application->CreateForm(First);
  Application->CreateForm(Second);
  EXPECT_EQ(Application->MainForm(), First);
  EXPECT_FALSE(First->isVisible());
  Application->DestroyForms();
  EXPECT_EQ(Events, (std::vector<std::string>{"made plain", "made first", "made second", "destroyed second",
                                              "destroyed first", "destroyed plain"}));
  EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST_F(TApplicationForms, FormDeletedElsewhereIsNotDestroyedAgain) {
  Events.clear();
  Application->CreateForm(First);
  Application->CreateForm(Second);
  delete Second;
  Application->DestroyForms();
  EXPECT_EQ(Events,
            (std::vector<std::string>{"made first", "made second", "destroyed second", "destroyed first"}));
}

TEST_F(TApplicationForms, FailedStartUpIsReportedAndNoFurtherFormIsMade) {
  Events.clear();
  First = nullptr;
  Second = nullptr;
  TErrorBoxAnswer Box;
  // The entry point's pattern: the start-up steps guarded together.
  try {
    Application->CreateForm(Broken);
    Application->CreateForm(Second);
    Application->Run();
  } catch (...) {
    Application->HandleException(std::current_exception());
  }
  EXPECT_EQ(Events, std::vector<std::string>{"reference set"});
  EXPECT_EQ(Broken, nullptr);
  EXPECT_EQ(Second, nullptr);
  EXPECT_EQ(Application->MainForm(), nullptr);
  EXPECT_EQ(Box.Seen.Text, "Resource TBrokenForm not found.");
  EXPECT_EQ(Box.Seen.Caption, Title);
}

TEST_F(TApplicationForms, RunWithoutMainFormReturnsAtOnce) {
  EXPECT_EQ(Application->Run(), 0);
  EXPECT_FALSE(Application->Terminated());
}

TEST_F(TApplicationForms, RunShowsTheMainFormMaximizedUntilItIsClosed) {
  Application->CreateForm(First);
  Application->CreateForm(Second);
  First->SetWindowState(TForm::wsMaximized);
  bool ShownMaximized = false;
  bool SecondShown = true;
  QTimer::singleShot(0, [&] {
    ShownMaximized = First->isVisible() && First->isMaximized();
    SecondShown = Second->isVisible();
    First->CloseForm();
  });
  EXPECT_EQ(Application->Run(), 0);
  EXPECT_TRUE(ShownMaximized);
  EXPECT_FALSE(SecondShown);
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(TApplicationForms, RunShowsAMinimizedMainFormMinimized) {
  Application->CreateForm(First);
  First->SetWindowState(TForm::wsMinimized);
  bool ShownMinimized = false;
  QTimer::singleShot(0, [&] {
    ShownMinimized = First->isMinimized();
    First->CloseForm();
  });
  Application->Run();
  EXPECT_TRUE(ShownMinimized);
}

TEST_F(TApplicationForms, ClosingTheMainWindowEndsTheRun) {
  Application->CreateForm(First);
  QTimer::singleShot(0, [&] { First->close(); }); // the close box, Alt+F4
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_TRUE(First->isVisible()); // nothing is hidden or destroyed before shutdown
  Application->DestroyForms();
  EXPECT_FALSE(Application->Terminated());
}

TEST_F(TApplicationForms, TerminationDuringAModalShowingEndsItWithTwoAndEndsTheRun) {
  Application->CreateForm(First);
  Application->CreateForm(Second);
  int Result = -1;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(0, [] { Application->Terminate(); });
    Result = Second->ShowFormModal();
  });
  Application->Run();
  EXPECT_EQ(Result, 2);
  EXPECT_FALSE(Second->isVisible());
  EXPECT_TRUE(First->isEnabled());
  EXPECT_TRUE(Application->Terminated());
}

// At log-off a dialog the user left open must not keep the program up: it is cancelled, the handler
// that opened it goes on, and the run ends.
TEST_F(TApplicationForms, TerminationWhileADialogIsUpCancelsItAndEndsTheRun) {
  Application->CreateForm(First);
  bool Chosen = true;
  TModalAnswer<QFileDialog> Answer([](QFileDialog*) { Application->Terminate(); });
  QTimer::singleShot(0, [&] {
    TOpenDialog Dialog;
    Chosen = Dialog.Execute(First);
  });
  Application->Run();
  EXPECT_EQ(Answer.Answered(), 1);
  EXPECT_FALSE(Chosen);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(TApplicationForms, ErrorInAHandlerDuringTheRunIsReportedAndTheRunGoesOn) {
  Application->CreateForm(First);
  int Handled = 0;
  TErrorBoxAnswer Box;
  QTimer::singleShot(0, [&] {
    ++Handled;
    throw Exception("Division by zero");
  });
  // Once the box is answered, the program goes on: the user closes the main window.
  Box.Seen.WhileUp = [&] {
    QTimer::singleShot(0, [&] {
      ++Handled;
      First->CloseForm();
    });
  };
  Application->Run();
  EXPECT_EQ(Handled, 2);
  EXPECT_EQ(Box.Seen.Text, "Division by zero.");
}

// The title captions the error boxes but leaves window captions alone: on X11 a display name would
// be appended to every one of them.
TEST(TApplicationTitle, TitleLeavesWindowCaptionsAlone) {
  Application->SetTitle("Pagorin高速文本文件浏览器");
  EXPECT_EQ(Application->Title(), "Pagorin高速文本文件浏览器");
  EXPECT_NE(QGuiApplication::applicationDisplayName(), QString::fromUtf8("Pagorin高速文本文件浏览器"));
}

namespace {

// What a reader sees of a dialog in words: its caption, labels, buttons, group titles and tool tips.
QStringList WordsShown(QWidget* Dialog) {
  QStringList Words{Dialog->windowTitle()};
  for (QLabel* Label : Dialog->findChildren<QLabel*>())
    if (Label->isVisibleTo(Dialog)) Words << Label->text();
  for (QAbstractButton* Button : Dialog->findChildren<QAbstractButton*>())
    if (Button->isVisibleTo(Dialog)) Words << Button->text() << Button->toolTip();
  for (QGroupBox* Group : Dialog->findChildren<QGroupBox*>())
    if (Group->isVisibleTo(Dialog)) Words << Group->title();
  return Words;
}

// The words of Shown in Latin letters, once access keys such as "(&N)" and the program's own names
// (its filter, the typed file name) are taken out.
std::vector<std::string> EnglishIn(const QStringList& Shown, const QStringList& Own = {}) {
  std::vector<std::string> English;
  for (QString Words : Shown) {
    for (const QString& Name : Own) Words.remove(Name);
    Words.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    if (Words.contains(QRegularExpression(QStringLiteral("[A-Za-z]")))) English.push_back(Words.toStdString());
  }
  return English;
}

QString CancelText(QWidget* Dialog) {
  auto* Buttons = Dialog->findChild<QDialogButtonBox*>();
  return Buttons ? Buttons->button(QDialogButtonBox::Cancel)->text() : QString();
}

} // namespace

// Qt's own dialogs speak Chinese like the program, in whatever locale it runs (the tests run in C),
// down to the message the open dialog gives for a name that names no file.
TEST(TApplicationQtTexts, OpenAndFontDialogsAndTheirMessagesAreChinese) {
  TempDir Folder;
  Folder.Write("小说.txt", "abc");
  std::filesystem::create_directory(Folder.Path("旧书"));
  TOpenDialog Open;
  Open.Filter = "文本文件(*.Txt)|*.txt|所有文件(*.*)|*.*";
  Open.DefaultExt = "txt";
  Open.InitialDir = Folder.Path("");
  QStringList OpenWords, BoxWords;
  QString OpenCancel, NameLabel, NotFound, Size;
  TModalAnswer<QFileDialog> OpenAnswer([&](QFileDialog* Up) {
    OpenWords = WordsShown(Up);
    auto* Details = Up->findChild<QAbstractItemView*>(QStringLiteral("treeView"));
    const QModelIndex Root = Details->rootIndex();
    QTRY_COMPARE(Details->model()->rowCount(Root), 2);
    for (int Column = 1; Column < Details->model()->columnCount(Root); ++Column) {
      OpenWords << Details->model()->headerData(Column, Qt::Horizontal).toString();
      for (int Row = 0; Row < 2; ++Row) OpenWords << Details->model()->index(Row, Column, Root).data().toString();
    }
    for (int Row = 0; Row < 2; ++Row)
      if (Details->model()->index(Row, 0, Root).data().toString() == QStringLiteral("小说.txt"))
        Size = Details->model()->index(Row, 1, Root).data().toString();
    OpenCancel = CancelText(Up);
    NameLabel = Up->findChild<QLabel*>(QStringLiteral("fileNameLabel"))->text();
    TModalAnswer<QMessageBox> BoxAnswer([&](QMessageBox* Box) {
      BoxWords = WordsShown(Box);
      NotFound = Box->text();
      Box->button(QMessageBox::Ok)->click();
    });
    Up->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("缺失"));
    static_cast<QDialog*>(Up)->accept(); // QFileDialog::accept, which says the file is not there
    Up->reject();
  });
  EXPECT_FALSE(Open.Execute());

  TFontDialog Font;
  QStringList FontWords;
  QString FontCancel;
  TModalAnswer<QFontDialog> FontAnswer([&](QFontDialog* Up) {
    FontWords = WordsShown(Up);
    FontCancel = CancelText(Up);
    Up->reject();
  });
  EXPECT_FALSE(Font.Execute());

  EXPECT_EQ(OpenCancel.toStdString(), "取消");
  EXPECT_EQ(NameLabel.toStdString(), "文件名称(&N)：");
  EXPECT_EQ(Size.toStdString(), "3 字节");
  EXPECT_EQ(NotFound.toStdString(), "缺失.txt\n文件未找到。\n请检查指定的文件名是否正确。");
  EXPECT_EQ(FontCancel.toStdString(), "取消");
  EXPECT_EQ(FontWords.value(0).toStdString(), "选择字体");
  EXPECT_EQ(EnglishIn(OpenWords, Open.NameFilters(Open.Filter)), std::vector<std::string>());
  EXPECT_EQ(EnglishIn(BoxWords, {QStringLiteral("缺失.txt")}), std::vector<std::string>());
  EXPECT_EQ(EnglishIn(FontWords), std::vector<std::string>());
}
