#include "Beep.h"
#include "CodePage.h"
#include "ColourSchemes.h"
#include "PageText.h"
#include "ReadPage.h"
#include "TApplication.h"
#include "TFindBar.h"
#include "TChapterIndex.h"
#include "TChapterRulesDialog.h"
#include "TBookmarkWindow.h"
#include "TChapterWindow.h"
#include "TElidedLabel.h"
#include "TMemo.h"
#include "TScrollBar.h"
#include "TStatusBar.h"
#include "TToolBar.h"
#include "TempDir.h"
#include "toolkit/ModalAnswer.h"
#include "toolkit/RecordingBrowser.h"
#include "toolkit/ScrollBarParts.h"
#include "UAboutBox.h"
#include "UMain.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QTreeView>
#include <QHelpEvent>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

namespace {

std::string Gbk(const QString& Text) { return TCodePage::Ansi().Encode(Text); }

// A GBK novel-like text: each heading followed by paragraphs of Chinese lines, CR LF line ends.
std::string BookText(const QStringList& Headings) {
  const QString Words = QStringLiteral("天地玄黄宇宙洪荒日月盈昃辰宿列张寒来暑往秋收冬藏闰余成岁律吕调阳");
  QString Text;
  std::uint32_t Seed = 7;
  for (const QString& Heading : Headings) {
    Text += Heading + QStringLiteral("\r\n");
    for (int Paragraph = 0; Paragraph < 12; ++Paragraph) {
      Text += QStringLiteral("　　");
      Seed = Seed * 1103515245u + 12345u;
      const int Length = 20 + static_cast<int>(Seed >> 8) % 140;
      for (int I = 0; I < Length; ++I) Text += Words[static_cast<int>((Seed >> 4) + I * 7) % Words.size()];
      Text += QStringLiteral("。\r\n");
    }
  }
  return Gbk(Text);
}

// Headings 第1章 to 第N章.
std::string NovelText(int Chapters) {
  QStringList Headings;
  for (int Chapter = 1; Chapter <= Chapters; ++Chapter) Headings << QStringLiteral("第%1章").arg(Chapter);
  return BookText(Headings);
}

// Counts the beeps sounded while it lives, in place of the sound.
class TBeepCounter {
public:
  TBeepCounter() { SetBeepHook([this] { ++FCount; }); }
  ~TBeepCounter() { SetBeepHook(nullptr); }
  TBeepCounter(const TBeepCounter&) = delete;
  TBeepCounter& operator=(const TBeepCounter&) = delete;
  int Count() const { return FCount; }

private:
  int FCount = 0;
};

// What the text area shows for page bytes: the decoded text, each line break one line break.
QString Shown(const std::string& Page) {
  QString Text = TCodePage::Ansi().Decode(Page);
  Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return Text;
}

// Points the kept state (XDG_STATE_HOME, XDG_CONFIG_HOME) at folders of one test while it lives: a
// window reads the store when it is made, and nothing one test keeps reaches another.
class TKeptStateIn {
public:
  explicit TKeptStateIn(const TempDir& Dir)
      : FState(qgetenv("XDG_STATE_HOME")), FConfig(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(Dir.Path("kept-state")));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Dir.Path("kept-config")));
  }
  ~TKeptStateIn() {
    qputenv("XDG_STATE_HOME", FState);
    qputenv("XDG_CONFIG_HOME", FConfig);
  }
  TKeptStateIn(const TKeptStateIn&) = delete;
  TKeptStateIn& operator=(const TKeptStateIn&) = delete;

private:
  QByteArray FState, FConfig;
};

// The real main window and About box, shown offscreen, as a user meets them.
class MainWindow : public ::testing::Test {
protected:
  MainWindow() {
    AboutBox = &About;
    FrmMain = &Window;
    Window.resize(800, 600);
    Window.SetWindowState(TForm::wsNormal);
    Window.ShowForm();
    Window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&Window));
  }
  ~MainWindow() override {
    FrmMain = nullptr;
    AboutBox = nullptr;
  }

  void OpenThroughDialog(const std::string& Path) {
    TModalAnswer<QFileDialog> Answer([Path](QFileDialog* Dialog) {
      Dialog->selectFile(QString::fromStdString(Path));
      static_cast<QDialog*>(Dialog)->accept();  // QFileDialog's own accept, which checks the file
    });
    Window.MnuOpen->trigger();
    ASSERT_EQ(Answer.Answered(), 1);
  }

  void Key(int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) { QTest::keyClick(Window.Memo, Qt::Key(Key), Modifiers); }

  // A control of the 目录 window, by its name.
  template <class T> T* ChapterPart(const char* Name) {
    T* Part = Window.ChapterWin->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Part, nullptr) << Name;
    return Part;
  }

  // Setup > Font, choosing Points in the dialog.
  void ChooseFontSize(int Points) {
    TModalAnswer<QFontDialog> Answer([Points](QFontDialog* Dialog) {
      QFont Font = Dialog->currentFont();
      Font.setPointSize(Points);
      Dialog->setCurrentFont(Font);
      Dialog->accept();
    });
    Window.MnuFontSetup->trigger();
    ASSERT_EQ(Answer.Answered(), 1);
  }

  // The second status panel as drawn, after the bar has painted.
  QString Message() {
    Window.StsBar->repaint();
    QCoreApplication::processEvents();
    return TCodePage::Ansi().Decode(Window.StsBar->Panels(1).Text());
  }

  QToolButton* Button(QAction* Action) { return qobject_cast<QToolButton*>(Window.ToolBar->widgetForAction(Action)); }

  TempDir Dir;
  TKeptStateIn Kept{Dir};
  TAboutBox About;
  TFrmMain Window;
};

TEST_F(MainWindow, FirstDisplay) {
  EXPECT_EQ(Window.Caption(), "Pagorin高速文本文件浏览器");
  EXPECT_EQ(Window.Memo->toPlainText(), QStringLiteral("请打开文件...\n\n"));
  EXPECT_TRUE(Window.Memo->ReadOnly());
  EXPECT_EQ(QApplication::focusWidget(), Window.Memo);
  EXPECT_EQ(Window.StsBar->Panels(0).Text(), Gbk("就绪"));
  EXPECT_EQ(Window.StsBar->Panels(1).Text(), "");
  EXPECT_FALSE(Window.StsBar->Panels(2).Text().empty());
  EXPECT_EQ(Window.SclBar->Kind(), sbVertical);
  EXPECT_EQ(Window.SclBar->Min(), 0);
  EXPECT_EQ(Window.SclBar->Max(), 100);
  EXPECT_EQ(Window.SclBar->Position(), 0);
  EXPECT_EQ(Window.Memo->Font().Height, -14);
  EXPECT_EQ(Window.SclBar->width(), 16);
  EXPECT_EQ(Window.ToolBar->height(), 29);
  EXPECT_EQ(Window.StsBar->height(), 19);
  // The scroll bar runs down the right edge between the tool bar and the status bar.
  EXPECT_EQ(Window.SclBar->mapTo(&Window, QPoint(Window.SclBar->width(), 0)).x(), Window.width());
  EXPECT_EQ(Window.Memo->mapTo(&Window, QPoint(0, 0)).y(), Window.SclBar->mapTo(&Window, QPoint(0, 0)).y());
}

TEST_F(MainWindow, MenusCarryTheirCaptionsAndAccessKeys) {
  QStringList Titles;
  for (QAction* Menu : Window.MainMnu->actions()) Titles << Menu->text();
  EXPECT_EQ(Titles, (QStringList{"文件(&File)", "编辑(&Edit)", "转到(&Go)", "设置(&Setup)", "帮助(&Help)"}));
  auto Texts = [](QMenu* Menu) {
    QStringList Items;
    for (QAction* Item : Menu->actions()) Items << (Item->isSeparator() ? QStringLiteral("-") : Item->text());
    return Items;
  };
  EXPECT_EQ(Texts(Window.MnuFile), (QStringList{"打开文件(&Open)", "-", "退出本软件(&Exit)"}));
  EXPECT_EQ(Texts(Window.MnuEdit), (QStringList{"复制(&Copy)", "全选(Select &All)", "-", "查找(&Find)...",
                                                "查找下一个(Find &Next)", "查找上一个(Find &Previous)"}));
  EXPECT_EQ(Window.MnuCopy->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
  EXPECT_EQ(Window.MnuFind->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
  EXPECT_EQ(Window.MnuFindNext->shortcut(), QKeySequence(QStringLiteral("F3")));
  EXPECT_EQ(Window.MnuFindPrevious->shortcut(), QKeySequence(QStringLiteral("Shift+F3")));
  EXPECT_TRUE(Window.N4->isSeparator());
  EXPECT_EQ(Texts(Window.MnuGo), (QStringList{"转到位置(&Go To)...", "-", "目录(&Table of Contents)...",
                                              "上一章(P&revious Chapter)", "下一章(Ne&xt Chapter)", "-",
                                              "自动翻页(&Auto Turn)", "-", "继续上次阅读(Re&sume)",
                                              "添加书签(Add &Bookmark)", "书签(Book&marks)..."}));
  EXPECT_EQ(Window.MnuResume->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
  EXPECT_EQ(Window.MnuAddBookmark->shortcut(), QKeySequence(QStringLiteral("Ctrl+D")));
  EXPECT_EQ(Window.MnuBookmarks->shortcut(), QKeySequence(QStringLiteral("Ctrl+B")));
  EXPECT_TRUE(Window.N8->isSeparator());
  EXPECT_EQ(Window.MnuAutoTurn->shortcut(), QKeySequence(QStringLiteral("F5")));
  EXPECT_TRUE(Window.N7->isSeparator());
  EXPECT_EQ(Window.MnuGoTo->shortcut(), QKeySequence(QStringLiteral("Ctrl+G")));
  EXPECT_EQ(Window.MnuContents->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
  EXPECT_TRUE(Window.N5->isSeparator());
  EXPECT_EQ(Texts(Window.MnuSetup), (QStringList{"字体设置(&Font Setup)", "放大字体(Zoom &In)", "缩小字体(Zoom &Out)",
                                                 "文本编码(&Encoding)", "-", "全屏显示(F&ull Screen)",
                                                 "配色(&Colours)", "版式(&Layout)...", "-",
                                                 "记住阅读位置和设置(&Remember)", "清除阅读记录(Clear Reading &History)"}));
  EXPECT_TRUE(Window.MnuRemember->isChecked());
  EXPECT_TRUE(Window.N9->isSeparator());
  EXPECT_EQ(Texts(Window.MnuColours), (QStringList{"跟随桌面(&Desktop)", "纸张(&Paper)", "夜间(&Night)"}));
  EXPECT_EQ(Window.MnuZoomIn->shortcuts(), (QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+=")),
                                                                 QKeySequence(QStringLiteral("Ctrl++"))}));
  EXPECT_EQ(Window.MnuZoomOut->shortcut(), QKeySequence(QStringLiteral("Ctrl+-")));
  EXPECT_EQ(Window.MnuFullScreen->shortcut(), QKeySequence(QStringLiteral("F11")));
  EXPECT_EQ(Texts(Window.MnuEncoding), (QStringList{"自动检测", "-", "GB18030", "Big5", "UTF-8", "UTF-16LE", "UTF-16BE"}));
  EXPECT_TRUE(Window.MnuEncodingAuto->isChecked());
  EXPECT_EQ(Texts(Window.MnuHelp), (QStringList{"访问本软件网站(&Web)", "-", "关于本软件(&About)"}));
  EXPECT_TRUE(Window.N1->isSeparator());
  EXPECT_TRUE(Window.N2->isSeparator());
  EXPECT_TRUE(Window.N3->isSeparator());
  EXPECT_TRUE(Window.N6->isSeparator());
  // Two items of one menu on one access key only move the highlight between them: neither runs.
  for (QMenu* Menu : Window.findChildren<QMenu*>()) {
    QSet<QChar> Keys;
    for (QAction* Item : Menu->actions()) {
      const qsizetype Amp = Item->text().indexOf('&');
      if (Amp < 0) continue;
      const QChar Key = Item->text()[Amp + 1].toLower();
      EXPECT_FALSE(Keys.contains(Key)) << Item->text().toStdString();
      Keys.insert(Key);
    }
  }
}

// The glyphs: black outline, red fill, transparent elsewhere; the down arrow is the up arrow mirrored.
TEST_F(MainWindow, ToolButtonsShowOnlyTheirArrowGlyphs) {
  for (QAction* Action : {Window.TBUp, Window.TBDown}) {
    QToolButton* Tool = Button(Action);
    ASSERT_NE(Tool, nullptr);
    EXPECT_EQ(Tool->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_EQ(Tool->size(), QSize(23, 22));
  }
  // No hint either: Qt would show the action's text ("TBUp") as one.
  QToolButton* UpButton = Button(Window.TBUp);
  const QPoint Middle = UpButton->rect().center();
  QHelpEvent Hover(QEvent::ToolTip, Middle, UpButton->mapToGlobal(Middle));
  QApplication::sendEvent(UpButton, &Hover);
  EXPECT_FALSE(QToolTip::isVisible());
  EXPECT_EQ(Button(Window.TBUp)->x(), 0);
  EXPECT_EQ(Button(Window.TBDown)->x(), 23);
  const QImage Up = Window.ImageList1[0].pixmap(16, 16).toImage();
  const QImage Down = Window.ImageList1[1].pixmap(16, 16).toImage();
  ASSERT_EQ(Up.size(), QSize(16, 16));
  EXPECT_EQ(Up.pixelColor(7, 0), QColor(0, 0, 0));
  EXPECT_EQ(Up.pixelColor(7, 2), QColor(255, 0, 0));
  EXPECT_EQ(Up.pixelColor(3, 9), QColor(0, 0, 0));
  EXPECT_EQ(Up.pixelColor(7, 9), QColor(255, 0, 0));
  EXPECT_EQ(Up.pixelColor(0, 0).alpha(), 0);
  EXPECT_EQ(Up.pixelColor(12, 8).alpha(), 0);
  for (int Row = 0; Row < 16; ++Row)
    for (int Column = 0; Column < 16; ++Column)
      ASSERT_EQ(Down.pixelColor(Column, Row), Up.pixelColor(Column, 15 - Row)) << Column << "," << Row;
}

TEST_F(MainWindow, StatusPanelEdgesStayAtFiftyAndTwoHundredFifty) {
  for (int Width : {400, 900}) {
    Window.resize(Width, 500);
    QCoreApplication::processEvents();
    const QList<QLabel*> Panels = Window.StsBar->findChildren<QLabel*>();
    ASSERT_EQ(Panels.size(), 3);
    const QLabel* Third = Panels[2];
    EXPECT_EQ(Third->mapTo(Window.StsBar, QPoint(0, 0)).x(), 250);
    EXPECT_GT(Third->width(), Width - 250 - 40) << "runs to the size grip at the right end";
    EXPECT_EQ(Window.StsBar->Panels(0).Text(), Gbk("就绪"));
  }
}

TEST_F(MainWindow, KeysAndButtonsDoNothingBeforeAFileIsOpen) {
  const QString Before = Window.Memo->toPlainText();
  Key(Qt::Key_PageDown);
  Key(Qt::Key_Space);
  Key(Qt::Key_PageUp);
  Button(Window.TBDown)->click();
  Button(Window.TBUp)->click();
  Window.SclBar->Scroll(scTrack, 40);
  EXPECT_EQ(Window.Memo->toPlainText(), Before);
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(Window.StsBar->Panels(0).Text(), Gbk("就绪"));
  EXPECT_EQ(Window.SclBar->Position(), 40);
}

TEST_F(MainWindow, OpenAndPageWithKeysAndButtons) {
  const std::string Novel = NovelText(30);
  const std::string Path = Dir.Write("小说.txt", Novel);
  OpenThroughDialog(Path);
  EXPECT_EQ(Window.Caption(), "Pagorin文本文件浏览器--" + Path);
  EXPECT_EQ(Message().toStdString(), "文件大小：" + std::to_string(Novel.size()) + "字节");
  const TFileOffset First = Window.Viewer.PageEnd();
  ASSERT_GT(First, 0);
  EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(0, First)));
  EXPECT_EQ(Window.Viewer.CharsPerLine(), std::abs(Window.Memo->ClientWidth() / 14));

  Key(Qt::Key_PageDown);  // crosses into scroll step 1: the jump status
  EXPECT_EQ(Message(), "当前翻页Position=1");
  EXPECT_EQ(Window.SclBar->Position(), 1);
  // The text area then handles Page Down itself from the caret at the start; the page fits, so it
  // is still seen from its first line.
  EXPECT_EQ(Window.Memo->verticalScrollBar()->value(), 0);
  const TFileOffset Second = Window.Viewer.PageEnd();
  EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(First, Second - First)));

  Key(Qt::Key_Space);
  Key(Qt::Key_Space, Qt::ShiftModifier);
  Key(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(Window.Viewer.History().count(), 4);
  const TFileOffset Start = Window.Viewer.PageStart();
  EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(Start, Window.Viewer.PageEnd() - Start)));

  Key(Qt::Key_PageUp);
  EXPECT_EQ(Window.Viewer.History().count(), 3);
  Button(Window.TBUp)->click();
  Button(Window.TBUp)->click();
  Button(Window.TBUp)->click();
  EXPECT_EQ(Window.Viewer.History().count(), 0);
  EXPECT_EQ(Window.SclBar->Position(), 0);
  EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(0, First)));
  TBeepCounter Beeps;
  Button(Window.TBUp)->click();
  EXPECT_EQ(Beeps.Count(), 1);
  EXPECT_EQ(Message(), "当前回滚记录数为：0");
  Button(Window.TBDown)->click();
  EXPECT_EQ(Window.Viewer.History().count(), 1);
  EXPECT_EQ(Window.SclBar->Position(), 1);
}

// A UTF-8, a UTF-16 (zero bytes in most code units), a GBK and a Big5 novel each read right from the
// first page, the tool bar saying which encoding was detected; the menu's choice decodes the page on
// screen anew and lasts until the next file.
TEST_F(MainWindow, EachEncodingReadsRightAndTheMenuDecodesThePageAnew) {
  const QString Novel = TCodePage::Ansi().Decode(NovelText(3));
  // The same in traditional characters, which Big5 holds.
  QString Traditional = Novel;
  const QString Simplified = QStringLiteral("黄张来闰余岁吕调阳"), Full = QStringLiteral("黃張來閏餘歲呂調陽");
  for (int I = 0; I < Simplified.size(); ++I) Traditional.replace(Simplified[I], Full[I]);
  const std::string Utf8 = Novel.toUtf8().toStdString();
  const struct {
    const char* Name;
    std::string Bytes;
    TTextEncoding Encoding;
    QString Text;
  } Files[] = {{"utf8.txt", Utf8, TTextEncoding::Utf8, Novel},
               {"utf16le.txt", "\xFF\xFE" + TCodePage::Of(TTextEncoding::Utf16Le).Encode(Novel), TTextEncoding::Utf16Le, Novel},
               {"utf16be.txt", "\xFE\xFF" + TCodePage::Of(TTextEncoding::Utf16Be).Encode(Novel), TTextEncoding::Utf16Be, Novel},
               {"gbk.txt", NovelText(3), TTextEncoding::Gb18030, Novel},
               {"big5.txt", TCodePage::Of(TTextEncoding::Big5).Encode(Traditional), TTextEncoding::Big5, Traditional}};
  for (const auto& File : Files) {
    OpenThroughDialog(Dir.Write(File.Name, File.Bytes));
    EXPECT_EQ(Window.Memo->Encoding(), File.Encoding) << File.Name;
    EXPECT_EQ(Window.LblEncoding->Text(), QString(RulesOf(File.Encoding).MenuName) + QStringLiteral("（自动检测）"));
    const QString Page = Window.Memo->toPlainText();
    EXPECT_GT(Page.size(), 100) << File.Name;
    QString Expected = File.Text;
    Expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_TRUE(Expected.startsWith(Page)) << File.Name << ": " << Page.left(40).toStdString();
  }

  OpenThroughDialog(Dir.Path("utf8.txt"));
  Key(Qt::Key_PageDown);
  const QString InUtf8 = Window.Memo->toPlainText();
  const TFileOffset Start = Window.Viewer.PageStart(), End = Window.Viewer.PageEnd();
  Window.MnuEncodingOf(TTextEncoding::Gb18030)->trigger();
  EXPECT_TRUE(Window.MnuEncodingOf(TTextEncoding::Gb18030)->isChecked());
  EXPECT_EQ(Window.LblEncoding->Text(), QStringLiteral("GB18030"));
  EXPECT_EQ(Window.MnuEncoding->title(), QStringLiteral("文本编码(&Encoding)：GB18030"));
  // The page is read again from its start, its lines now counted as GB18030 bytes.
  TFileOffset GbEnd = -1;
  const std::string Bytes = ReadPage(Dir.Path("utf8.txt"), Start, Window.Viewer.LinesPerPage(),
                                     Window.Viewer.CharsPerLine(), GbEnd, TTextEncoding::Gb18030);
  TMemo Reference;
  Reference.SetText(ShownText(Dir.Path("utf8.txt"), TTextEncoding::Gb18030, Start, Bytes, false).Text);
  EXPECT_EQ(Window.Memo->toPlainText(), Reference.toPlainText());
  EXPECT_NE(Window.Memo->toPlainText(), InUtf8);
  EXPECT_EQ(Window.Viewer.PageStart(), Start);
  EXPECT_EQ(Window.Viewer.PageEnd(), GbEnd);
  EXPECT_NE(GbEnd, End);
  EXPECT_EQ(Window.Viewer.History().count(), 1);
  Window.MnuEncodingAuto->trigger();
  EXPECT_EQ(Window.Memo->toPlainText(), InUtf8);
  Window.MnuEncodingOf(TTextEncoding::Utf16Be)->trigger();
  OpenThroughDialog(Dir.Path("gbk.txt"));
  EXPECT_TRUE(Window.MnuEncodingAuto->isChecked());
  EXPECT_EQ(Window.Memo->Encoding(), TTextEncoding::Gb18030);
}

TEST_F(MainWindow, AnyKeyDropsTheSelectionAndPutsTheCaretAtTheStart) {
  OpenThroughDialog(Dir.Write("select.txt", NovelText(2)));
  Window.Memo->selectAll();
  ASSERT_TRUE(Window.Memo->HasSelection());
  Key(Qt::Key_Right);  // unbound: the caret goes to the start first, then the control moves it
  EXPECT_FALSE(Window.Memo->HasSelection());
  EXPECT_EQ(Window.Memo->CaretPosition(), 1);
  Key(Qt::Key_A);
  EXPECT_EQ(Window.Memo->SelStart(), 0);
  // Keys that have no virtual-key code of their own too.
  for (const int Other : {Qt::Key_Adiaeresis, Qt::Key_Dead_Acute, Qt::Key_AltGr, Qt::Key_Super_L}) {
    Window.Memo->selectAll();
    QTest::sendKeyEvent(QTest::Click, Window.Memo, Qt::Key(Other), QString(), Qt::NoModifier);
    EXPECT_FALSE(Window.Memo->HasSelection()) << Other;
    EXPECT_EQ(Window.Memo->SelStart(), 0) << Other;
  }
  EXPECT_EQ(Window.Viewer.History().count(), 0);
}

TEST_F(MainWindow, DraggingTheScrollBarShowsAPageForEveryPosition) {
  const std::string Novel = NovelText(30);
  OpenThroughDialog(Dir.Write("drag.txt", Novel));
  QPoint At = ScrollBarPart(*Window.SclBar, QStyle::SC_ScrollBarSlider).center();
  auto Send = [&](QEvent::Type Type, Qt::MouseButton Button, Qt::MouseButtons Held) {
    QMouseEvent Event(Type, QPointF(At), Window.SclBar->mapToGlobal(QPointF(At)), Button, Held, Qt::NoModifier);
    QApplication::sendEvent(Window.SclBar, &Event);
  };
  Send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
  std::vector<QString> Messages;
  while (Window.SclBar->Position() < 3 && At.y() < Window.SclBar->height()) {
    At.ry() += 1;
    const int Before = Window.SclBar->Position();
    Send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
    if (Window.SclBar->Position() != Before) Messages.push_back(Message());
  }
  Send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(Messages, (std::vector<QString>{"当前翻页Position=1", "当前翻页Position=2", "当前翻页Position=3"}));
  const TFileOffset Start = 3 * Window.Viewer.PageBytes();
  EXPECT_EQ(Window.Viewer.PageStart(), Start);
  EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(Start, Window.Viewer.PageEnd() - Start)));
  EXPECT_EQ(Window.Viewer.History().count(), 0);
}

TEST_F(MainWindow, FontSetupThroughTheDialog) {
  const std::string Novel = NovelText(10);
  OpenThroughDialog(Dir.Write("font.txt", Novel));
  const int LinesBefore = Window.Viewer.LinesPerPage();
  ChooseFontSize(21);  // 28 pixels at 96 pixels per inch
  EXPECT_EQ(Window.Memo->Font().Height, -28);
  EXPECT_EQ(Window.Viewer.LinesPerPage(), Window.Memo->ClientHeight() / 28);
  EXPECT_LT(Window.Viewer.LinesPerPage(), LinesBefore);
  EXPECT_EQ(Message().toStdString(), "文件大小：" + std::to_string(Novel.size()) + "字节");
  EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(0, Window.Viewer.PageEnd())));

  const QString Shown = Message();
  TModalAnswer<QFontDialog> Cancel([](QFontDialog* Dialog) { Dialog->reject(); });
  Window.MnuFontSetup->trigger();
  ASSERT_EQ(Cancel.Answered(), 1);
  EXPECT_EQ(Message(), Shown);
  EXPECT_EQ(Window.Memo->Font().Height, -28);
}

TEST_F(MainWindow, AboutBoxKeepsTheMainWindowFromInput) {
  bool MainEnabledWhileUp = true;
  TModalAnswer<TAboutBox> Answer([&](TAboutBox* Modal) {
    EXPECT_EQ(Modal, &About);
    MainEnabledWhileUp = Window.isEnabled();
    QTest::keyClick(Window.Memo, Qt::Key_PageDown);  // refused: the main window is disabled
    QTest::keyClick(&About, Qt::Key_Return);
  });
  Window.MnuAbout->trigger();
  ASSERT_EQ(Answer.Answered(), 1);
  EXPECT_FALSE(MainEnabledWhileUp);
  EXPECT_FALSE(About.isVisible());
  EXPECT_TRUE(Window.isEnabled());
  EXPECT_EQ(About.ModalResult(), 1);
  EXPECT_EQ(Message(), "");
}

// Entering and leaving full screen is the reader asking for another page size: the page is measured
// again and read again from where it starts, at the new size.
// Under a layout a page is one screen: its rows are those the text area shows of it, the last of them
// whole, and the next page's first row would be the one below the column. Every encoding, both a
// book's page and one of the reader's own, paging on and back.
TEST_F(MainWindow, ALaidOutPageFillsTheScreenExactlyInEveryEncoding) {
  const QString Novel = TCodePage::Ansi().Decode(NovelText(12));
  QString Traditional = Novel;
  const QString Simplified = QStringLiteral("黄张来闰余岁吕调阳"), Full = QStringLiteral("黃張來閏餘歲呂調陽");
  for (int I = 0; I < Simplified.size(); ++I) Traditional.replace(Simplified[I], Full[I]);
  const struct {
    const char* Name;
    std::string Bytes;
  } Files[] = {{"utf8.txt", Novel.toUtf8().toStdString()},
               {"utf16le.txt", "\xFF\xFE" + TCodePage::Of(TTextEncoding::Utf16Le).Encode(Novel)},
               {"utf16be.txt", "\xFE\xFF" + TCodePage::Of(TTextEncoding::Utf16Be).Encode(Novel)},
               {"gbk.txt", NovelText(12)},
               {"big5.txt", TCodePage::Of(TTextEncoding::Big5).Encode(Traditional)}};
  TLayoutSettings Own;
  Own.LineSpacing = 1.2;
  Own.ParagraphSpacing = 1.0;
  Own.Margin = 10;
  Own.BreakRules = true;
  for (const TLayoutSettings& Layout : {TLayoutSettings::Book(), Own}) {
    Window.Viewer.SetPageLayout(Layout);
    for (const auto& File : Files) {
      SCOPED_TRACE(File.Name);
      OpenThroughDialog(Dir.Write(File.Name, File.Bytes));
      TMemo& Memo = *Window.Memo;
      const auto ShowsAWholeScreen = [&] {
        const TRowGeometry Geometry = RowGeometryOf(Layout, Memo.LinePitch(), Memo.ClientWidth(), Memo.ClientHeight(),
                                                    Memo.Advance(U'\u4E00'));
        const int Bottom = Geometry.Top + Geometry.Height;
        const std::vector<TPageLine> Rows = Memo.Layout().Lines;
        ASSERT_GT(Rows.size(), 5u);
        EXPECT_LE(Rows.back().Top + Memo.LinePitch(), Bottom);
        EXPECT_EQ(Memo.verticalScrollBar()->maximum(), 0);
        // The text area given this page and the next lays out this page's rows, then one that is cut.
        TMemo Both;
        Both.SetFont(Memo.Font());
        Both.SetEncoding(Memo.Encoding());
        Both.SetPageLayout(Layout);
        Both.resize(Memo.size());
        Both.show();
        ASSERT_EQ(Both.ClientWidth(), Memo.ClientWidth());
        ASSERT_EQ(Both.ClientHeight(), Memo.ClientHeight());
        Both.SetText(Memo.Text() + Window.Viewer.NextPageText());
        const std::vector<TPageLine>& More = Both.Layout().Lines;
        ASSERT_GT(More.size(), Rows.size());
        for (std::size_t Row = 0; Row < Rows.size(); ++Row) {
          EXPECT_EQ(More[Row].Start, Rows[Row].Start);
          EXPECT_EQ(More[Row].Length, Rows[Row].Length);
          EXPECT_EQ(More[Row].Top, Rows[Row].Top);
        }
        EXPECT_GT(More[Rows.size()].Top + Memo.LinePitch(), Bottom);
      };
      // Four pages on, two back: the scroll steps they cross re-read pages from where those start.
      for (const int Step : {Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageUp,
                             Qt::Key_PageUp}) {
        ShowsAWholeScreen();
        Key(Step);
      }
      // A font step and full screen fit the page anew.
      Window.MnuZoomIn->trigger();
      ShowsAWholeScreen();
      Window.MnuZoomOut->trigger();
      if (std::string_view(File.Name) != "gbk.txt") continue;
      Window.MnuFullScreen->trigger();
      QTRY_COMPARE(Window.geometry(), Window.screen()->geometry());
      ShowsAWholeScreen();
      Key(Qt::Key_Escape);
      QTRY_VERIFY(!Window.isFullScreen());
    }
  }
}

// Setup > 版式: a preset or the reader's own values apply on OK, from the page's start; Cancel keeps all.
TEST_F(MainWindow, LayoutDialogSetsThePageFromItsStart) {
  OpenThroughDialog(Dir.Write("layout.txt", NovelText(12)));
  Key(Qt::Key_PageDown);
  const TFileOffset Start = Window.Viewer.PageStart();
  const TFileOffset OriginalEnd = Window.Viewer.PageEnd();
  const auto Answer = [this](const std::function<void(QDialog*)>& Set, bool Confirm) {
    TModalAnswer<QDialog> Answered([&](QDialog* Dialog) {
      Set(Dialog);
      Confirm ? Dialog->accept() : Dialog->reject();
    });
    Window.MnuLayout->trigger();
    ASSERT_EQ(Answered.Answered(), 1);
  };
  const auto Click = [](const char* Name) {
    return [Name](QDialog* Dialog) { Dialog->findChild<QPushButton*>(Name)->click(); };
  };
  Answer(Click("Book"), true);
  EXPECT_EQ(Window.Viewer.PageLayout(), TLayoutSettings::Book());
  EXPECT_EQ(Window.Memo->PageLayout(), TLayoutSettings::Book());
  EXPECT_EQ(Window.Viewer.PageStart(), Start);
  EXPECT_LT(Window.Viewer.PageEnd(), OriginalEnd);
  Answer([](QDialog* Dialog) { Dialog->findChild<QSpinBox*>("MaxColumns")->setValue(0); }, false);
  EXPECT_EQ(Window.Viewer.PageLayout(), TLayoutSettings::Book());
  Answer([](QDialog* Dialog) { Dialog->findChild<QSpinBox*>("MaxColumns")->setValue(0); }, true);
  TLayoutSettings Wide = TLayoutSettings::Book();
  Wide.MaxColumns = 0;
  EXPECT_EQ(Window.Viewer.PageLayout(), Wide);
  Answer(Click("Original"), true);
  EXPECT_EQ(Window.Viewer.PageLayout(), TLayoutSettings::Original());
  EXPECT_EQ(Window.Viewer.PageStart(), Start);
  EXPECT_EQ(Window.Viewer.PageEnd(), OriginalEnd);
}

TEST_F(MainWindow, FullScreenFitsThePageToTheWholeScreenAndBack) {
  const std::string Novel = NovelText(30);
  Window.resize(600, 400);
  QCoreApplication::processEvents();
  OpenThroughDialog(Dir.Write("full.txt", Novel));
  Key(Qt::Key_PageDown);
  const TFileOffset Start = Window.Viewer.PageStart();
  const int Lines = Window.Viewer.LinesPerPage();
  const auto FitsTheTextArea = [&] {
    EXPECT_EQ(Window.Viewer.LinesPerPage(), Window.Memo->ClientHeight() / 14);
    EXPECT_EQ(Window.Viewer.CharsPerLine(), Window.Memo->ClientWidth() / 14);
    EXPECT_EQ(Window.Viewer.PageStart(), Start);
    EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(Start, Window.Viewer.PageEnd() - Start)));
  };

  Window.MnuFullScreen->trigger();
  QTRY_COMPARE(Window.geometry(), Window.screen()->geometry());
  EXPECT_TRUE(Window.MnuFullScreen->isChecked());
  EXPECT_GT(Window.Viewer.LinesPerPage(), Lines);
  FitsTheTextArea();
  EXPECT_EQ(Window.Viewer.History().count(), 1);

  Key(Qt::Key_Escape);
  QTRY_COMPARE(Window.size(), QSize(600, 400));
  EXPECT_FALSE(Window.isFullScreen());
  EXPECT_FALSE(Window.MnuFullScreen->isChecked());
  EXPECT_EQ(Window.Viewer.LinesPerPage(), Lines);
  FitsTheTextArea();
}

// A notch of the wheel over the page turns it as Page Down and Page Up do, a touchpad's small steps
// once they add up to a notch; with Ctrl, and with Ctrl+= and Ctrl+-, the font takes a step and the
// page is fitted from where it starts. Full screen (F11) shows the page alone, fitted to it; the menus
// come over its top at the screen's edge and the find bar over its foot, neither moving it; F11 again
// brings the bars back.
TEST_F(MainWindow, WheelTurnsPagesAndStepsTheFontFullScreenShowsOnlyThePage) {
  const std::string Novel = NovelText(30);
  Window.resize(600, 400);
  QCoreApplication::processEvents();
  OpenThroughDialog(Dir.Write("wheel.txt", Novel));
  ASSERT_TRUE(QTest::qWaitFor([&] {
    Window.activateWindow();
    return QApplication::activeWindow() == &Window;
  }, 5000));
  const auto Wheel = [&](int Delta, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
    const QPointF At(40, 40);
    QWheelEvent Event(At, Window.Memo->viewport()->mapToGlobal(At), QPoint(), QPoint(0, Delta), Qt::NoButton,
                      Modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Window.Memo->viewport(), &Event);
  };
  const auto ShowsItsPage = [&] {
    const TFileOffset Start = Window.Viewer.PageStart();
    EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(Start, Window.Viewer.PageEnd() - Start)));
  };
  const auto Fitted = [&](int Pixels) {
    EXPECT_EQ(Window.Memo->Font().Height, -Pixels);
    EXPECT_EQ(Window.Viewer.LinesPerPage(), Window.Memo->ClientHeight() / Pixels);
    EXPECT_EQ(Window.Viewer.CharsPerLine(), Window.Memo->ClientWidth() / Pixels);
    ShowsItsPage();
  };
  const TFileOffset First = Window.Viewer.PageEnd();
  Wheel(-120);
  EXPECT_EQ(Window.Viewer.PageStart(), First);
  Wheel(120);
  EXPECT_EQ(Window.Viewer.PageStart(), 0);
  EXPECT_EQ(Window.Viewer.History().count(), 0);
  for (int Step = 0; Step < 2; ++Step) Wheel(-50);
  EXPECT_EQ(Window.Viewer.PageStart(), 0);
  Wheel(-50);  // 150 units: a notch, and 30 toward the next
  EXPECT_EQ(Window.Viewer.PageStart(), First);
  Wheel(-210);
  EXPECT_EQ(Window.Viewer.History().count(), 3);
  ShowsItsPage();

  const TFileOffset Start = Window.Viewer.PageStart();
  Wheel(120, Qt::ControlModifier);
  Fitted(16);
  QTest::keyClick(Window.Memo, Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(Window.Memo, Qt::Key_Minus, Qt::ControlModifier);
  Fitted(12);
  QTest::keyClick(Window.Memo, Qt::Key_Equal, Qt::ControlModifier);
  Fitted(14);
  EXPECT_EQ(Window.Viewer.PageStart(), Start);
  EXPECT_EQ(Window.Viewer.History().count(), 3);
  EXPECT_EQ(Message().toStdString(), "文件大小：" + std::to_string(Novel.size()) + "字节");

  const int Lines = Window.Viewer.LinesPerPage();
  QTest::keyClick(Window.Memo, Qt::Key_F11);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window.geometry() == Window.screen()->geometry(); }));
  for (QWidget* Bar : std::initializer_list<QWidget*>{Window.MainMnu, Window.ToolBar, Window.StsBar})
    EXPECT_FALSE(Bar->isVisible());
  EXPECT_EQ(Window.centralWidget()->geometry(), Window.rect());
  EXPECT_GT(Window.Viewer.LinesPerPage(), Lines);
  Fitted(14);
  const QSize Page = Window.Memo->size();
  const TFileOffset End = Window.Viewer.PageEnd();
  QTest::mouseMove(Window.windowHandle(), QPoint(300, 0));
  EXPECT_TRUE(Window.MenuBarOverPage());
  QTest::mouseMove(Window.windowHandle(), QPoint(300, 300));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Window.MenuBarOverPage(); }));
  QTest::keyClick(Window.windowHandle(), Qt::Key_Alt);
  EXPECT_TRUE(Window.MenuBarOverPage());
  EXPECT_EQ(Window.Memo->size(), Page);
  QTest::keyClick(Window.Memo, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(Window.FindBar->isVisible());
  EXPECT_TRUE(Window.FindBar->Field->hasFocus());
  EXPECT_EQ(Window.ToolBar->geometry().bottom(), Window.rect().bottom());
  QTest::keyClick(Window.FindBar->Field, Qt::Key_Escape);
  EXPECT_FALSE(Window.ToolBar->isVisible());
  EXPECT_EQ(Window.Memo->size(), Page);
  EXPECT_EQ(Window.Viewer.PageEnd(), End);

  QTest::keyClick(Window.Memo, Qt::Key_F11);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window.size() == QSize(600, 400); }));
  for (QWidget* Bar : std::initializer_list<QWidget*>{Window.MainMnu, Window.ToolBar, Window.StsBar})
    EXPECT_TRUE(Bar->isVisible());
  EXPECT_FALSE(Window.MenuBarOverPage());
  EXPECT_EQ(Window.Viewer.LinesPerPage(), Lines);
  Fitted(14);
  EXPECT_EQ(Window.Viewer.PageStart(), Start);
}

// Go > Auto turn (F5) turns a page every N seconds, N in the status; + and - change N and keep it
// running. It stops at the end of the file, and at any key, click, command or loss of the focus,
// which then does what it does.
TEST_F(MainWindow, AutoTurnPagesUntilTheEndOrAnyInput) {
  const std::string Novel = NovelText(3);
  Window.resize(600, 400);
  QCoreApplication::processEvents();
  OpenThroughDialog(Dir.Write("auto.txt", Novel));
  ASSERT_TRUE(QTest::qWaitFor([&] {
    Window.activateWindow();
    return QApplication::activeWindow() == &Window;
  }, 5000));
  QTest::keyClick(Window.Memo, Qt::Key_F5);
  EXPECT_TRUE(Window.MnuAutoTurn->isChecked());
  EXPECT_EQ(Message(), QStringLiteral("自动翻页：每20秒一页（+快 -慢）"));
  EXPECT_EQ(Window.TmrAutoTurn->interval(), 20000);
  const struct {
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    int Seconds;
  } Paces[] = {{Qt::Key_Plus, Qt::ShiftModifier, 15}, {Qt::Key_Equal, Qt::NoModifier, 12},
               {Qt::Key_Minus, Qt::KeypadModifier, 15}, {Qt::Key_Minus, Qt::NoModifier, 20}};
  for (const auto& Pace : Paces) {
    QTest::keyClick(Window.windowHandle(), Pace.Key, Pace.Modifiers);
    EXPECT_EQ(Window.AutoTurnSeconds(), Pace.Seconds);
    EXPECT_EQ(Window.TmrAutoTurn->interval(), Pace.Seconds * 1000);
    EXPECT_TRUE(Window.TmrAutoTurn->isActive());
  }
  for (int Step = 0; Step < 30; ++Step) QTest::keyClick(Window.windowHandle(), Qt::Key_Minus);
  EXPECT_EQ(Message(), QStringLiteral("自动翻页：每60秒一页（+快 -慢）"));
  EXPECT_EQ(Window.Viewer.PageStart(), 0);

  Window.TmrAutoTurn->setInterval(10);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window.Viewer.History().count() == 1; }));
  EXPECT_TRUE(Window.TmrAutoTurn->isActive());
  EXPECT_EQ(Message(), QStringLiteral("自动翻页：每60秒一页（+快 -慢）"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window.TmrAutoTurn->isActive(); }));
  EXPECT_EQ(Window.Viewer.PageEnd(), static_cast<TFileOffset>(Novel.size()));
  EXPECT_FALSE(Window.MnuAutoTurn->isChecked());
  EXPECT_EQ(Message(), QStringLiteral("自动翻页已停止：已到文件末尾"));
  TBeepCounter Beeps;
  Window.MnuAutoTurn->trigger();  // nothing more to turn
  EXPECT_EQ(Beeps.Count(), 1);
  EXPECT_FALSE(Window.MnuAutoTurn->isChecked());

  QWidget Elsewhere;
  // Each stop, and how far back in the history it leaves the page (a page key does its own turn).
  const struct {
    const char* What;
    std::function<void()> Stop;
    int Back;
  } Stops[] = {
      {"key", [&] { QTest::keyClick(Window.windowHandle(), Qt::Key_Right); }, 0},
      {"page key", [&] { QTest::keyClick(Window.windowHandle(), Qt::Key_PageUp); }, 1},
      {"click", [&] { QTest::mouseClick(Window.windowHandle(), Qt::LeftButton, {}, QPoint(100, 100)); }, 0},
      {"command", [&] { Window.MnuSelectAll->trigger(); }, 0},
      {"the same item", [&] { QTest::keyClick(Window.Memo, Qt::Key_F5); }, 0},
      {"focus lost", [&] {
         Elsewhere.show();
         Elsewhere.activateWindow();
         ASSERT_TRUE(QTest::qWaitFor([&] { return !Window.isActiveWindow(); }));
       }, 0},
  };
  for (const auto& Row : Stops) {
    SCOPED_TRACE(Row.What);
    Window.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &Window; }));
    QTest::keyClick(Window.Memo, Qt::Key_PageUp);  // away from the file's end
    Window.MnuAutoTurn->trigger();
    ASSERT_TRUE(Window.TmrAutoTurn->isActive());
    EXPECT_EQ(Message(), QStringLiteral("自动翻页：每60秒一页（+快 -慢）"));
    const int Steps = Window.Viewer.History().count();
    Row.Stop();
    EXPECT_FALSE(Window.TmrAutoTurn->isActive());
    EXPECT_FALSE(Window.MnuAutoTurn->isChecked());
    EXPECT_EQ(Window.Viewer.History().count(), Steps - Row.Back);
  }
}

TEST_F(MainWindow, ResizingDoesNotReadThePageAgain) {
  OpenThroughDialog(Dir.Write("resize.txt", NovelText(10)));
  const TFileOffset End = Window.Viewer.PageEnd();
  const int Lines = Window.Viewer.LinesPerPage();
  Window.resize(500, 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(Window.Viewer.PageEnd(), End);
  EXPECT_EQ(Window.Viewer.LinesPerPage(), Lines);
  EXPECT_EQ(Window.SclBar->height(), Window.Memo->height());
}

// Tab moves between the text area and the scroll bar only; there keys scroll instead of paging.
TEST_F(MainWindow, TabMovesTheFocusBetweenTextAreaAndScrollBar) {
  OpenThroughDialog(Dir.Write("focus.txt", NovelText(10)));
  // After the dialog, the keys go to the text area again.
  QTRY_COMPARE(QApplication::focusWidget(), Window.Memo);
  Key(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), Window.SclBar);
  QTest::keyClick(Window.SclBar, Qt::Key_PageDown);
  EXPECT_EQ(Window.SclBar->Position(), 1);
  EXPECT_EQ(Message(), "当前翻页Position=1");
  EXPECT_EQ(Window.Viewer.History().count(), 0);
  QTest::keyClick(Window.SclBar, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Window.Memo);
  QTest::keyClick(Window.Memo, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), Window.SclBar);
}

TEST_F(MainWindow, WebItemOpensTheProductPageAndChangesNothingElse) {
  TRecordingBrowser Browser;
  Window.MnuWeb->trigger();
  ASSERT_EQ(Browser.Opened.size(), 1);
  EXPECT_EQ(Browser.Opened.first(), QUrl(QString::fromUtf8(TFrmMain::WebAddress)));
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(Window.Memo->toPlainText(), QStringLiteral("请打开文件...\n\n"));
}

// Where the desktop has no browser (offscreen there is none), the item says so, with a beep.
TEST_F(MainWindow, WebItemWithoutABrowserBeepsAndSaysSo) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "a desktop's browser would open";
  TBeepCounter Beeps;
  Window.MnuWeb->trigger();
  EXPECT_EQ(Beeps.Count(), 1);
  EXPECT_EQ(Message(), QStringLiteral("无法打开网页：没有可用的浏览器"));
}

// As the program runs them: the main window opens maximized, and File > Exit ends the run exactly as
// the window's close box does.
TEST(MainWindowProgram, OpensMaximizedAndExitEndsTheRunLikeTheCloseBox) {
  for (const bool ByMenu : {true, false}) {
    SCOPED_TRACE(ByMenu ? "File > Exit" : "close box");
    Application->CreateForm(FrmMain);
    Application->CreateForm(AboutBox);
    bool Maximized = false;
    QTimer::singleShot(0, [&] {
      Maximized = FrmMain->isMaximized();
      if (ByMenu)
        FrmMain->MnuExit->trigger();
      else
        FrmMain->close();
    });
    Application->Run();
    EXPECT_TRUE(Maximized);
    EXPECT_TRUE(Application->Terminated());
    Application->DestroyForms();
    FrmMain = nullptr;
    AboutBox = nullptr;
  }
}

}  // namespace

namespace {

// The font dialog's smallest and largest sizes: a page of thousands of tiny lines, and a font taller
// than the text area (no whole line fits: one-byte pages). Both stay stable pages that step on.
TEST_F(MainWindow, ExtremeFontSizesGiveStablePages) {
  const std::string Novel = NovelText(400);
  OpenThroughDialog(Dir.Write("extreme.txt", Novel));
  for (const int Points : {1, 512}) {
    SCOPED_TRACE(Points);
    ChooseFontSize(Points);
    const int Pixels = -Window.Memo->Font().Height;
    EXPECT_EQ(Window.Viewer.LinesPerPage(), Window.Memo->ClientHeight() / Pixels);
    for (int Step = 0; Step < 3; ++Step) {
      const TFileOffset Start = Window.Viewer.PageStart();
      const TFileOffset Bytes = Window.Viewer.PageEnd() - Start;
      EXPECT_GE(Bytes, 1);
      EXPECT_LE(Bytes, std::max<TFileOffset>(1, (Window.Viewer.LinesPerPage() - 1) * 2 * Window.Viewer.CharsPerLine()));
      // A page of one or two bytes may hold no whole character of the novel, and then shows none.
      if (Bytes >= 4) {
        EXPECT_FALSE(Window.Memo->toPlainText().isEmpty());
      }
      Window.repaint();
      Key(Qt::Key_PageDown);
      EXPECT_GT(Window.Viewer.PageStart(), Start);
    }
  }
}

}  // namespace

namespace {

// Names as readers have them: Chinese, spaces, a leading dash, a line break, and a link to the file.
TEST_F(MainWindow, AnyFileNameOpensAndShowsInTheCaption) {
  const std::string Text = Gbk(QStringLiteral("第一章\r\n"));
  const std::filesystem::path Folder = std::filesystem::path(Dir.Path("")) / "我的 小说";
  std::filesystem::create_directory(Folder);
  std::filesystem::create_symlink(Dir.Write("real.txt", Text), Folder / "link.txt");
  for (const std::string Name : {"三体 第一部.txt", "-n.txt", "two\nlines.txt", "link.txt"}) {
    SCOPED_TRACE(Name);
    const std::string Path = (Folder / Name).string();
    if (Name != "link.txt") std::ofstream(Path, std::ios::binary) << Text;
    OpenThroughDialog(Path);
    EXPECT_EQ(Window.Viewer.FileName(), Path);
    EXPECT_EQ(Window.Caption(), "Pagorin文本文件浏览器--" + Path);
    EXPECT_EQ(Window.Memo->toPlainText(), QStringLiteral("第一章\n"));
  }
}

}  // namespace

// Ctrl+F opens the find bar over the page without changing the text area; Return finds and shows the
// match highlighted while the bar keeps the focus; F3 finds again; Escape closes the bar; Ctrl+C
// copies the match; Ctrl+A then selects the page.
TEST_F(MainWindow, FindBarFindsHighlightsAndCopies) {
  std::string Text = NovelText(40);
  const std::string Word = Gbk(QStringLiteral("第3章"));
  OpenThroughDialog(Dir.Write("find.txt", Text));
  const QSize Area = Window.Memo->size();
  // Offscreen, the window is not made active again when the open dialog goes: ask for it.
  ASSERT_TRUE(QTest::qWaitFor([&] {
    Window.activateWindow();
    return QApplication::activeWindow() == &Window;
  }, 5000));
  QTest::keyClick(Window.Memo, Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(Window.FindBar->isVisible());
  EXPECT_EQ(Window.Memo->size(), Area);
  EXPECT_TRUE(Window.FindBar->Field->hasFocus());
  Window.FindBar->Field->setText(QStringLiteral("第3章"));
  QTest::keyClick(Window.FindBar->Field, Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window.Viewer.Searching(); }, 10000));
  QCoreApplication::processEvents();
  const TFileOffset Hit = static_cast<TFileOffset>(Text.find(Word));
  EXPECT_EQ(Window.Viewer.PageStart(), Hit);  // the heading is a line of its own
  EXPECT_EQ(Window.Memo->SelectedText(), QStringLiteral("第3章"));
  EXPECT_TRUE(Window.FindBar->Field->hasFocus());
  EXPECT_TRUE(Message().startsWith(QStringLiteral("找到“第3章”")));
  // The page keys turn the page from the field too (the selection goes with the page it was on).
  const int Steps = Window.Viewer.History().count();
  QTest::keyClick(Window.FindBar->Field, Qt::Key_PageDown);
  EXPECT_EQ(Window.Viewer.History().count(), Steps + 1);
  EXPECT_GT(Window.Viewer.PageStart(), Hit);
  QTest::keyClick(Window.FindBar->Field, Qt::Key_PageUp);
  EXPECT_EQ(Window.Viewer.History().count(), Steps);
  EXPECT_TRUE(Window.FindBar->Field->hasFocus());
  QTest::keyClick(Window.FindBar->Field, Qt::Key_Return);  // the match again
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window.Viewer.Searching(); }, 10000));
  QCoreApplication::processEvents();
  QTest::keyClick(Window.FindBar->Field, Qt::Key_Escape);
  EXPECT_FALSE(Window.FindBar->isVisible());
  EXPECT_TRUE(Window.Memo->hasFocus());
  QTest::keyClick(Window.Memo, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("第3章"));
  QTest::keyClick(Window.Memo, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(Window.Memo->SelectedText().size(), Window.Memo->toPlainText().size());
  // F3 goes on to the next heading; 上一页 comes back to the page before it.
  QTest::keyClick(Window.Memo, Qt::Key_F3);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window.Viewer.Searching(); }, 10000));
  QCoreApplication::processEvents();
  EXPECT_EQ(Window.Viewer.PageStart(), Hit);  // "第3章" again: the only one, found after wrapping
  EXPECT_TRUE(Message().contains(QStringLiteral("已从头继续")));
}

// A query longer than a line edit takes by default (32,767 characters) is searched for whole, not its
// start; the message quotes a little of it and shows the hit's offset within the status panel.
TEST_F(MainWindow, LongQueryIsSearchedForWholeAndTheOffsetShows) {
  const std::string Query(40000, 'a');
  OpenThroughDialog(Dir.Write("long.txt", std::string(32767, 'a') + "b\r\n" + Query + "\r\n"));
  Window.MnuFind->trigger();
  QGuiApplication::clipboard()->setText(QString::fromStdString(Query));
  QTest::keyClick(Window.FindBar->Field, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Window.FindBar->Field->text().size(), 40000);
  QTest::keyClick(Window.FindBar->Field, Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window.Viewer.Searching(); }, 10000));
  EXPECT_EQ(Message(), QStringLiteral("找到“aaaaaa…”：第32770字节"));
  EXPECT_EQ(Window.StsBar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly).at(1)->text(), Message());  // not cut
}

// Go To offers the share of the page on screen and jumps to what the reader types; the tool bar
// right of the arrows shows the share of every page.
TEST_F(MainWindow, GoToJumpsAndTheToolBarSaysWhere) {
  const std::string Text = NovelText(40);
  OpenThroughDialog(Dir.Write("goto.txt", Text));
  EXPECT_EQ(Window.LblWhere->text(), QStringLiteral("0.0%"));
  EXPECT_GT(Window.LblWhere->mapTo(&Window, QPoint(0, 0)).x(), Button(Window.TBDown)->mapTo(&Window, QPoint(0, 0)).x());
  QString Offered;
  TModalAnswer<QInputDialog> Answer([&](QInputDialog* Dialog) {
    Offered = Dialog->textValue();
    Dialog->setTextValue(QStringLiteral("50%"));
    Dialog->accept();
  });
  Window.MnuGoTo->trigger();
  ASSERT_EQ(Answer.Answered(), 1);
  EXPECT_EQ(Offered, QStringLiteral("0.0%"));
  const TFileOffset Half = static_cast<TFileOffset>(Text.size()) / 2;
  EXPECT_EQ(Window.Viewer.PageStart(), static_cast<TFileOffset>(Text.rfind('\n', static_cast<std::size_t>(Half)) + 1));
  EXPECT_EQ(Window.LblWhere->text().toStdString(), Window.Viewer.Where());
  Key(Qt::Key_PageUp);  // back to the page left
  EXPECT_EQ(Window.Viewer.PageStart(), 0);
  EXPECT_EQ(Window.LblWhere->text(), QStringLiteral("0.0%"));
}

// The table of contents lists the headings once asked for, in a window of its own; the filter narrows
// them, Return jumps to one and the tool bar names it.
TEST_F(MainWindow, TableOfContentsFiltersAndJumps) {
  const std::string Text = NovelText(40);
  OpenThroughDialog(Dir.Write("novel.txt", Text));
  EXPECT_EQ(Window.Viewer.Chapters().State(), TChapterIndex::TState::NotScanned);
  const QSize Area = Window.Memo->size();
  // Its clear button's icon is looked up in the icon themes when it first opens, not at start.
  EXPECT_FALSE(ChapterPart<QLineEdit>("FilterField")->isClearButtonEnabled());
  Window.MnuContents->trigger();
  EXPECT_TRUE(ChapterPart<QLineEdit>("FilterField")->isClearButtonEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return ChapterPart<QTreeView>("List")->model()->rowCount() == 40; }, 10000));
  EXPECT_EQ(Window.Memo->size(), Area);
  EXPECT_EQ(ChapterPart<QLabel>("StatusLabel")->text(), QStringLiteral("共 40 章"));
  EXPECT_FALSE(ChapterPart<QTreeView>("List")->rootIsDecorated());  // a book without volumes: a plain list
  EXPECT_EQ(ChapterPart<QTreeView>("List")->currentIndex().row(), 0);  // the page on screen: 第1章
  ChapterPart<QLineEdit>("FilterField")->setText(QStringLiteral("3"));
  emit ChapterPart<QLineEdit>("FilterField")->textEdited(QStringLiteral("3"));
  QAbstractItemModel* Rows = ChapterPart<QTreeView>("List")->model();
  ASSERT_EQ(Rows->rowCount(), 13);  // 第3章, 第13章, 第23章 and 第30章 to 第39章
  EXPECT_EQ(Rows->index(1, 0).data().toString(), QStringLiteral("第13章"));
  ChapterPart<QTreeView>("List")->setCurrentIndex(Rows->index(1, 0));
  QTest::keyClick(ChapterPart<QTreeView>("List"), Qt::Key_Return);
  EXPECT_FALSE(Window.ChapterWin->isVisible());
  EXPECT_EQ(Window.Viewer.PageStart(), static_cast<TFileOffset>(Text.find(Gbk(QStringLiteral("第13章")))));
  EXPECT_EQ(Window.LblChapter->Text(), QStringLiteral("第13章"));
  QAccessibleInterface* Title = QAccessible::queryAccessibleInterface(Window.LblChapter);  // a screen reader's view
  ASSERT_NE(Title, nullptr);
  EXPECT_EQ(Title->role(), QAccessible::StaticText);
  Window.MnuNextChapter->trigger();
  EXPECT_EQ(Window.LblChapter->Text(), QStringLiteral("第14章"));
  EXPECT_EQ(Title->text(QAccessible::Name), QStringLiteral("第14章"));

  // The window left open lists the next file's headings, through the filter still typed.
  Window.MnuContents->trigger();
  OpenThroughDialog(Dir.Write("short.txt", NovelText(3)));
  const auto Listed = [&] { return ChapterPart<QLabel>("StatusLabel")->text() == QStringLiteral("共 3 章"); };
  ASSERT_TRUE(QTest::qWaitFor(Listed, 10000));
  ASSERT_EQ(Rows->rowCount(), 1);
  EXPECT_EQ(Rows->index(0, 0).data().toString(), QStringLiteral("第3章"));
}

// 规则 shows the rule in use, and which one 自动识别 chose for the book. A rule the reader adds in
// 编辑规则 is checked first (one with a fault is refused, says where, and the list stays), then used;
// another rule picked is used too. Each, and another encoding, finds the headings anew: the list
// empties at once, through the filter too, the view paints at every moment, and it fills again.
TEST_F(MainWindow, TableOfContentsFindsTheHeadingsAnewWithTheRuleAddedOrPicked) {
  TErrorBoxAnswer Box;
  QStringList Headings;
  for (int Chapter = 1; Chapter <= 40; ++Chapter) Headings << QStringLiteral("%1 归乡").arg(Chapter, 3, 10, QLatin1Char('0'));
  OpenThroughDialog(Dir.Write("numbered.txt", BookText(Headings)));
  Window.MnuContents->trigger();
  QAbstractItemModel* Rows = ChapterPart<QTreeView>("List")->model();
  const auto Found = [&] { return Window.Viewer.Chapters().State() == TChapterIndex::TState::Done; };
  ASSERT_TRUE(QTest::qWaitFor(Found, 10000));
  EXPECT_EQ(Rows->rowCount(), 40);
  EXPECT_EQ(ChapterPart<QComboBox>("RuleBox")->currentText(), QStringLiteral("自动识别（数字编号）"));

  std::string Refused;
  int RowsMeanwhile = -1;
  TModalAnswer<TChapterRulesDialog> Answer([&](TChapterRulesDialog* Dialog) {
    QTest::mouseClick(Dialog->AddButton, Qt::LeftButton);
    Dialog->PatternField->setPlainText(QStringLiteral("^0(\\d"));
    QTest::mouseClick(Dialog->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    Refused = Dialog->FaultLabel->text().toStdString();
    RowsMeanwhile = Dialog->isVisible() ? Rows->rowCount() : -1;
    Dialog->PatternField->setPlainText(QStringLiteral("."));  // every line: 40 headings and 12 paragraphs each
    QTest::mouseClick(Dialog->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
  });
  QTest::mouseClick(ChapterPart<QPushButton>("EditRulesButton"), Qt::LeftButton);
  ASSERT_EQ(Answer.Answered(), 1);
  EXPECT_EQ(Refused, "规则“我的规则”：正则表达式第 6 个字符处缺少“)”");
  EXPECT_EQ(RowsMeanwhile, 40);
  EXPECT_EQ(ChapterPart<QComboBox>("RuleBox")->currentText(), QStringLiteral("我的规则"));
  EXPECT_EQ(Rows->rowCount(), 0);
  ChapterPart<QTreeView>("List")->viewport()->repaint();
  ASSERT_TRUE(QTest::qWaitFor(Found, 10000));
  EXPECT_EQ(Rows->rowCount(), 40 * 13);

  ChapterPart<QLineEdit>("FilterField")->setText(QStringLiteral("01"));
  emit ChapterPart<QLineEdit>("FilterField")->textEdited(ChapterPart<QLineEdit>("FilterField")->text());
  ASSERT_EQ(Rows->rowCount(), 11);
  Window.MnuEncodingOf(TTextEncoding::Gb18030)->trigger();
  EXPECT_EQ(Rows->rowCount(), 0);
  ChapterPart<QTreeView>("List")->viewport()->repaint();
  ASSERT_TRUE(QTest::qWaitFor(Found, 10000));
  ASSERT_EQ(Rows->rowCount(), 11);
  EXPECT_EQ(Rows->index(10, 0).data().toString(), QStringLiteral("019 归乡"));

  ChapterPart<QComboBox>("RuleBox")->setCurrentIndex(2);
  emit ChapterPart<QComboBox>("RuleBox")->activated(2);
  EXPECT_EQ(Rows->rowCount(), 0);
  ASSERT_TRUE(QTest::qWaitFor(Found, 10000));
  EXPECT_EQ(Rows->rowCount(), 11);  // the headings alone
  EXPECT_EQ(ChapterPart<QComboBox>("RuleBox")->currentText(), QStringLiteral("数字编号"));
  EXPECT_EQ(Window.Viewer.ChapterRuleInUse(), 1u);
  EXPECT_FALSE(Box.Seen.Shown) << Box.Seen.Text;
}

// A book with volumes lists them with their chapters under them, unfolded whenever the window opens;
// a volume folds (Left) and unfolds (Right). The filter finds a chapter under its volume, and the tool
// bar names both; the page's chapter is current in its volume. Return on a volume shows its page.
TEST_F(MainWindow, TableOfContentsGroupsChaptersUnderTheirVolumes) {
  const QStringList Headings = {QStringLiteral("楔子"),        QStringLiteral("第一卷 龙城"), QStringLiteral("第一章 少年"),
                                QStringLiteral("第二章 出城"), QStringLiteral("第二卷 风云"), QStringLiteral("第一章 入京"),
                                QStringLiteral("第二章 风起"), QStringLiteral("第三章 夜雨")};
  const std::string Text = BookText(Headings);
  OpenThroughDialog(Dir.Write("volumes.txt", Text));
  Window.MnuContents->trigger();
  QTreeView& List = *ChapterPart<QTreeView>("List");
  QAbstractItemModel& Rows = *List.model();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window.Viewer.Chapters().State() == TChapterIndex::TState::Done; }, 10000));
  ASSERT_EQ(Rows.rowCount(), 3);  // 楔子 and the two volumes
  const QModelIndex First = Rows.index(1, 0), Second = Rows.index(2, 0);
  EXPECT_EQ(Rows.rowCount(Rows.index(0, 0)), 0);
  EXPECT_EQ(Rows.rowCount(First), 2);
  ASSERT_EQ(Rows.rowCount(Second), 3);
  EXPECT_EQ(Rows.index(1, 0, Second).data().toString(), QStringLiteral("第二章 风起"));
  EXPECT_TRUE(List.rootIsDecorated());
  EXPECT_TRUE(List.isExpanded(First) && List.isExpanded(Second));

  ChapterPart<QLineEdit>("FilterField")->setText(QStringLiteral("风起"));
  emit ChapterPart<QLineEdit>("FilterField")->textEdited(ChapterPart<QLineEdit>("FilterField")->text());
  ASSERT_EQ(Rows.rowCount(), 1);
  const QModelIndex Volume = Rows.index(0, 0);
  EXPECT_EQ(Volume.data().toString(), QStringLiteral("第二卷 风云"));
  ASSERT_EQ(Rows.rowCount(Volume), 1);
  EXPECT_TRUE(List.isExpanded(Volume));
  QTest::keyClick(ChapterPart<QLineEdit>("FilterField"), Qt::Key_Return);  // the first that passes: the chapter, not its volume
  EXPECT_EQ(Window.Viewer.PageStart(), static_cast<TFileOffset>(Text.find(Gbk(QStringLiteral("第二章 风起")))));
  EXPECT_EQ(Window.LblChapter->Text(), QStringLiteral("第二卷 风云 · 第二章 风起"));

  ChapterPart<QLineEdit>("FilterField")->clear();
  emit ChapterPart<QLineEdit>("FilterField")->textEdited(QString());
  Window.MnuContents->trigger();
  EXPECT_EQ(List.currentIndex(), Rows.index(1, 0, Second));
  EXPECT_TRUE(List.currentIndex().data(Qt::FontRole).value<QFont>().bold());
  QTest::keyClick(&List, Qt::Key_Left);  // to its volume
  QTest::keyClick(&List, Qt::Key_Left);
  EXPECT_FALSE(List.isExpanded(Second));
  QTest::keyClick(&List, Qt::Key_Right);
  EXPECT_TRUE(List.isExpanded(Second));
  const QRect Arrow = List.visualRect(First);
  QTest::mouseClick(List.viewport(), Qt::LeftButton, {}, QPoint(Arrow.left() - List.indentation() / 2, Arrow.center().y()));
  EXPECT_FALSE(List.isExpanded(First));
  QTest::keyClick(&List, Qt::Key_Escape);
  Window.MnuContents->trigger();
  EXPECT_TRUE(List.isExpanded(First));
  EXPECT_EQ(List.currentIndex(), Rows.index(1, 0, Second));

  List.setCurrentIndex(First);
  QTest::keyClick(&List, Qt::Key_Return);
  EXPECT_EQ(Window.Viewer.PageStart(), static_cast<TFileOffset>(Text.find(Gbk(QStringLiteral("第一卷 龙城")))));
  EXPECT_EQ(Window.LblChapter->Text(), QStringLiteral("第一卷 龙城"));
}

// The list opens with the page's chapter current, selected and in view, also when its heading is
// found after the window opened; a row the reader chose himself stays until the window opens again.
TEST_F(MainWindow, TableOfContentsOpensAtThePagesChapter) {
  OpenThroughDialog(Dir.Write("long.txt", NovelText(2000)));  // headings far beyond the scan's first block
  Window.Viewer.GoTo("50%");
  Window.MnuContents->trigger();
  QTreeView& List = *ChapterPart<QTreeView>("List");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window.Viewer.Chapters().State() == TChapterIndex::TState::Done; }, 20000));
  const auto AtPage = [&] {
    const QModelIndex Row = List.currentIndex();
    const std::optional<std::size_t> Chapter = Window.Viewer.ChapterOnScreen();
    return Chapter && Row.row() == static_cast<int>(*Chapter) && List.selectionModel()->isSelected(Row) &&
           List.viewport()->rect().contains(List.visualRect(Row));
  };
  EXPECT_GT(Window.Viewer.ChapterOnScreen().value_or(0), 900u);
  EXPECT_TRUE(AtPage());
  QTest::keyClick(&List, Qt::Key_Home);
  Window.MnuNextChapter->trigger();
  EXPECT_EQ(List.currentIndex().row(), 0);
  QTest::keyClick(&List, Qt::Key_Escape);
  ASSERT_FALSE(Window.ChapterWin->isVisible());
  Window.MnuContents->trigger();
  EXPECT_TRUE(AtPage());
}

namespace {

// Files as a file manager drops them: local paths in the drag's URLs.
bool Drop(TFrmMain& Window, const std::vector<std::string>& Paths) {
  QMimeData Data;
  QList<QUrl> Urls;
  for (const std::string& Path : Paths) Urls << QUrl::fromLocalFile(QString::fromStdString(Path));
  Data.setUrls(Urls);
  QDragEnterEvent Enter(QPoint(10, 10), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Window, &Enter);
  if (!Enter.isAccepted()) return false;
  QDropEvent Dropped(QPointF(10, 10), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Window, &Dropped);
  QCoreApplication::processEvents();
  return Dropped.isAccepted();
}

// A file dropped on the window opens as File > Open opens it; a folder or several files change
// nothing but the message, with a beep; what is not a file is not taken at all.
TEST_F(MainWindow, ADroppedFileOpens) {
  const std::string Novel = NovelText(3);
  const std::string First = Dir.Write("first.txt", Novel);
  ASSERT_TRUE(Drop(Window, {First}));
  EXPECT_EQ(Window.Caption(), "Pagorin文本文件浏览器--" + First);
  EXPECT_EQ(Message().toStdString(), "文件大小：" + std::to_string(Novel.size()) + "字节");
  EXPECT_EQ(Window.Memo->toPlainText(), Shown(Novel.substr(0, Window.Viewer.PageEnd())));
  EXPECT_EQ(Window.OpenDlg.FileName, First);

  const QString Page = Window.Memo->toPlainText();
  const struct {
    std::vector<std::string> Paths;
    const char* Message;
  } Refused[] = {{{Dir.Path("")}, "不能打开文件夹"},
                 {{Dir.Write("second.txt", "2"), Dir.Write("third.txt", "3")}, "一次只能打开一个文件"}};
  for (const auto& Row : Refused) {
    SCOPED_TRACE(Row.Message);
    TBeepCounter Beeps;
    Drop(Window, Row.Paths);
    EXPECT_EQ(Beeps.Count(), 1);
    EXPECT_EQ(Message(), QString::fromUtf8(Row.Message));
    EXPECT_EQ(Window.Viewer.FileName(), First);
    EXPECT_EQ(Window.Memo->toPlainText(), Page);
  }

  QMimeData Web;
  Web.setUrls({QUrl(QStringLiteral("https://example.com/novel.txt"))});
  QDragEnterEvent Enter(QPoint(10, 10), Qt::CopyAction, &Web, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Window, &Enter);
  EXPECT_FALSE(Enter.isAccepted());
}

// The colours a reader sees on the page: the most common one (the ground) and the one farthest from
// it (the text, where a glyph or the caret covers whole pixels).
std::pair<QColor, QColor> PageColours(TMemo& Memo) {
  QCoreApplication::processEvents();  // a new desktop palette reaches the windows as posted events
  const QImage Page = Memo.viewport()->grab().toImage();
  std::map<QRgb, int> Count;
  for (int Y = 0; Y < Page.height(); ++Y)
    for (int X = 0; X < Page.width(); ++X) ++Count[Page.pixel(X, Y)];
  const QRgb Ground = std::max_element(Count.begin(), Count.end(), [](auto& A, auto& B) { return A.second < B.second; })->first;
  const auto Distance = [Ground](QRgb Colour) {
    return std::abs(qRed(Colour) - qRed(Ground)) + std::abs(qGreen(Colour) - qGreen(Ground)) +
           std::abs(qBlue(Colour) - qBlue(Ground));
  };
  QRgb Text = Ground;
  for (const auto& [Colour, Times] : Count)
    if (Distance(Colour) > Distance(Text)) Text = Colour;
  return {QColor(Ground), QColor(Text)};
}

// The contrast ratio of two colours as WCAG 2 reckons it, 1 to 21.
double Contrast(const QColor& A, const QColor& B) {
  const auto Luminance = [](const QColor& Colour) {
    const auto Linear = [](double Channel) {
      return Channel <= 0.04045 ? Channel / 12.92 : std::pow((Channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * Linear(Colour.redF()) + 0.7152 * Linear(Colour.greenF()) + 0.0722 * Linear(Colour.blueF());
  };
  const double Lighter = std::max(Luminance(A), Luminance(B)), Darker = std::min(Luminance(A), Luminance(B));
  return (Lighter + 0.05) / (Darker + 0.05);
}

// The page is drawn in the desktop's colours, also when they change while it runs. 纸张 and 夜间 colour
// the whole window at once, not only the page: menus, bars, the scroll bar, the find bar, the chapter
// list, the About box and a dialog opened meanwhile; the text and the selection (which shows a found
// match) read well on each ground. 跟随桌面 brings the desktop's colours back.
TEST_F(MainWindow, ColourSchemesColourTheWholeWindow) {
  struct TBackToDesktop {
    ~TBackToDesktop() { SetColourScheme(TColourScheme::Desktop); }
  } BackToDesktop;
  OpenThroughDialog(Dir.Write("colours.txt", NovelText(1)));
  const QPalette Desktop = QApplication::palette();
  EXPECT_TRUE(Window.MnuColourDesktop->isChecked());
  auto [Ground, Text] = PageColours(*Window.Memo);
  EXPECT_EQ(Ground, Desktop.color(QPalette::Base));
  EXPECT_EQ(Text, Desktop.color(QPalette::Text));

  QPalette Dark = Desktop;
  Dark.setColor(QPalette::Base, QColor(0x20, 0x22, 0x28));
  Dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xD8));
  Dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
  Dark.setColor(QPalette::WindowText, QColor(0xE0, 0xE0, 0xD8));
  QApplication::setPalette(Dark);
  std::tie(Ground, Text) = PageColours(*Window.Memo);
  EXPECT_EQ(Ground, Dark.color(QPalette::Base));
  EXPECT_EQ(Text, Dark.color(QPalette::Text));
  QApplication::setPalette(Desktop);

  const struct {
    QAction* Item;
    bool Night;
  } Rows[] = {{Window.MnuColourPaper, false}, {Window.MnuColourNight, true}, {Window.MnuColourPaper, false}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Item->text().toStdString());
    Row.Item->trigger();
    EXPECT_TRUE(Row.Item->isChecked());
    std::tie(Ground, Text) = PageColours(*Window.Memo);
    if (Row.Night) {
      EXPECT_LT(Ground.lightness(), 48);
      EXPECT_GT(Text.lightness(), 160);
    } else {  // warm paper, dark brown ink
      EXPECT_GT(Ground.lightness(), 200);
      EXPECT_TRUE(Ground.hue() >= 20 && Ground.hue() <= 60 && Ground.saturation() > 20) << Ground.name().toStdString();
      EXPECT_LT(Text.lightness(), 80);
      EXPECT_TRUE(Text.hue() >= 15 && Text.hue() <= 45) << Text.name().toStdString();
    }
    EXPECT_GE(Contrast(Ground, Text), 7);
    const QPalette Page = Window.Memo->palette();
    EXPECT_GE(Contrast(Page.color(QPalette::Highlight), Page.color(QPalette::HighlightedText)), 4.5);
    EXPECT_GE(Contrast(Page.color(QPalette::Highlight), Ground), 1.5);  // a selection stands out

    const QPalette Scheme = QApplication::palette();
    EXPECT_NE(Scheme.color(QPalette::Window), Desktop.color(QPalette::Window));
    for (QWidget* Part : std::initializer_list<QWidget*>{Window.MainMnu, Window.MnuSetup, Window.ToolBar, Window.StsBar,
                                                         Window.SclBar, Window.FindBar->Field, Window.ChapterWin,
                                                         ChapterPart<QTreeView>("List"), Window.LblChapter}) {
      SCOPED_TRACE(Part->metaObject()->className());
      const QPalette Colours = Part->palette();
      EXPECT_EQ(Colours.color(QPalette::Active, QPalette::Window), Scheme.color(QPalette::Window));
      EXPECT_EQ(Colours.color(QPalette::Active, QPalette::WindowText), Scheme.color(QPalette::WindowText));
      EXPECT_EQ(Colours.color(QPalette::Active, QPalette::Base), Ground);
    }
    EXPECT_EQ(About.palette().color(QPalette::Window), Scheme.color(QPalette::Button));
    QColor DialogFace;
    TModalAnswer<QFontDialog> Cancel([&](QFontDialog* Dialog) {
      DialogFace = Dialog->palette().color(QPalette::Window);
      Dialog->reject();
    });
    Window.MnuFontSetup->trigger();
    EXPECT_EQ(DialogFace, Scheme.color(QPalette::Window));
  }
  // The font chosen meanwhile keeps the scheme's colours.
  ChooseFontSize(12);
  EXPECT_EQ(PageColours(*Window.Memo).second, Text);

  Window.MnuColourDesktop->trigger();
  std::tie(Ground, Text) = PageColours(*Window.Memo);
  EXPECT_EQ(Ground, Desktop.color(QPalette::Base));
  EXPECT_EQ(Text, Desktop.color(QPalette::Text));
  EXPECT_EQ(Window.MainMnu->palette().color(QPalette::Window), Desktop.color(QPalette::Window));
  EXPECT_EQ(About.palette().color(QPalette::Window), Desktop.color(QPalette::Button));
}

}  // namespace

namespace {

// A window as the program makes it at start, in the kept state the test has pointed at.
std::unique_ptr<TFrmMain> StartWindow() {
  auto Started = std::make_unique<TFrmMain>();
  Started->resize(800, 600);
  Started->SetWindowState(TForm::wsNormal);
  Started->ShowForm();
  Started->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(Started.get()));
  return Started;
}

// Close the program at 37% of a novel, start it again, open the novel: its first page, then 继续阅读
// and Ctrl+R bring the page back (Page Up goes back to the first); the bookmarks, the font and the
// layout come back too; the bookmarks list newest first, Return jumps to one and closes the list, Delete removes one.
TEST_F(MainWindow, TheNextRunOffersThePlaceLeftAndKeepsBookmarksFontAndLayout) {
  const std::string Novel = Dir.Write("novel.txt", NovelText(80));
  TFileOffset Left = 0, Marked = 0;
  std::string Where;
  {
    std::unique_ptr<TFrmMain> First = StartWindow();
    First->OpenFile(Novel);
    First->Viewer.GoTo("37%");
    Marked = First->Viewer.PageStart();
    First->MnuAddBookmark->trigger();
    QTest::keyClick(First->Memo, Qt::Key_PageDown);
    First->MnuAddBookmark->trigger();
    First->MnuZoomIn->trigger();
    TModalAnswer<QDialog> Book([](QDialog* Dialog) {
      Dialog->findChild<QPushButton*>("Book")->click();
      Dialog->accept();
    });
    First->MnuLayout->trigger();
    ASSERT_EQ(Book.Answered(), 1);
    Left = First->Viewer.PageStart();
    Where = First->Viewer.Where();
  }  // the program ends
  std::unique_ptr<TFrmMain> Next = StartWindow();
  EXPECT_EQ(Next->Memo->Font().Height, -16);
  EXPECT_EQ(Next->Viewer.PageLayout(), TLayoutSettings::Book());
  Next->OpenFile(Novel);
  EXPECT_EQ(Next->Viewer.PageStart(), 0);
  ASSERT_TRUE(Next->TBResumeShown->isVisible());
  EXPECT_EQ(Next->TBResume->text(), QString::fromStdString("继续阅读 " + Where));
  Next->TBResume->click();
  EXPECT_EQ(Next->Viewer.PageStart(), Left);
  EXPECT_FALSE(Next->TBResumeShown->isVisible());
  QTest::keyClick(Next->Memo, Qt::Key_PageUp);
  EXPECT_EQ(Next->Viewer.PageStart(), 0);
  QTest::keyClick(Next->Memo, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(Next->Viewer.PageStart(), Left);

  QTest::keyClick(Next->Memo, Qt::Key_B, Qt::ControlModifier);
  TBookmarkWindow& List = *Next->BookmarkWin;
  ASSERT_TRUE(List.isVisible());
  ASSERT_EQ(List.List->topLevelItemCount(), 2);
  EXPECT_EQ(List.List->topLevelItem(0)->text(0).toStdString(), Where);  // the newest first
  QTest::keyClick(List.List, Qt::Key_Delete);
  ASSERT_EQ(List.List->topLevelItemCount(), 1);
  QTest::keyClick(List.List, Qt::Key_Return);
  EXPECT_FALSE(List.isVisible());
  EXPECT_EQ(Next->Viewer.PageStart(), Marked);
  ASSERT_TRUE(Next->Store.Record(Novel));
  EXPECT_EQ(Next->Store.Record(Novel)->Bookmarks.size(), 1u);
}

// A book's chapter list is kept once found: the next run names the first page's chapter and lists
// 目录 at once, without a scan; 清除阅读记录 forgets the lists.
TEST_F(MainWindow, TheNextRunNamesTheChaptersWithoutAScan) {
  const std::string Novel = Dir.Write("novel.txt", NovelText(30));
  {
    std::unique_ptr<TFrmMain> First = StartWindow();
    First->OpenFile(Novel);
    First->MnuContents->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return First->ChapterWin->findChild<QLabel*>("StatusLabel")->text() == QStringLiteral("共 30 章"); }, 10000));
  }
  std::unique_ptr<TFrmMain> Next = StartWindow();
  Next->OpenFile(Novel);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Next->LblChapter->Text() == QStringLiteral("第1章"); }, 10000));
  // Found by no scan: one would have been asked for, and would be under way or have said so.
  EXPECT_EQ(Next->Viewer.Chapters().State(), TChapterIndex::TState::Done);
  EXPECT_EQ(Next->Viewer.PageStart(), 0);
  QTest::keyClick(Next->Memo, Qt::Key_T, Qt::ControlModifier);
  EXPECT_EQ(Next->ChapterWin->findChild<QTreeView*>("List")->model()->rowCount(), 30);
  EXPECT_EQ(Next->ChapterWin->findChild<QLabel*>("StatusLabel")->text(), QStringLiteral("共 30 章"));
  Next->ChapterWin->close();

  Next->MnuClearReading->trigger();
  EXPECT_FALSE(std::filesystem::exists(Dir.Path("kept-state/pagorin/chapters")));
  Next->OpenFile(Novel);
  QTest::qWait(50);
  EXPECT_EQ(Next->Viewer.Chapters().State(), TChapterIndex::TState::NotScanned);
  EXPECT_EQ(Next->LblChapter->Text(), QString());
}

// With 记住阅读位置和设置 off, reading writes nothing but the flag that says so; a store that cannot be
// written (its folder cannot be made) says so once and reading goes on.
TEST_F(MainWindow, WithRememberOffNothingIsWrittenAndABrokenStoreNeverStopsReading) {
  const std::string Novel = Dir.Write("novel.txt", NovelText(20));
  Window.OpenFile(Novel);
  QTest::keyClick(Window.Memo, Qt::Key_PageDown);
  Window.MnuAddBookmark->trigger();
  ASSERT_TRUE(std::filesystem::exists(Dir.Path("kept-state/pagorin/reading.json")));
  Window.MnuRemember->trigger();
  EXPECT_FALSE(std::filesystem::exists(Dir.Path("kept-state/pagorin")));
  QTest::keyClick(Window.Memo, Qt::Key_PageDown);
  Window.MnuAddBookmark->trigger();
  Window.MnuZoomIn->trigger();
  Window.MnuContents->trigger();  // a list found whole is not kept either
  ASSERT_TRUE(QTest::qWaitFor([&] { return ChapterPart<QLabel>("StatusLabel")->text() == QStringLiteral("共 20 章"); }, 10000));
  Window.MnuEncodingOf(TTextEncoding::Utf8)->trigger();
  Window.OpenFile(Dir.Write("other.txt", "abc"));
  std::vector<std::string> Written;
  const std::filesystem::path Base = std::filesystem::path(Novel).parent_path();
  for (const auto& Entry : std::filesystem::recursive_directory_iterator(Base))
    if (Entry.is_regular_file()) Written.push_back(Entry.path().lexically_relative(Base).string());
  std::sort(Written.begin(), Written.end());
  EXPECT_EQ(Written, (std::vector<std::string>{"kept-config/pagorin/settings.json", "novel.txt", "other.txt"}));
  std::unique_ptr<TFrmMain> Next = StartWindow();
  EXPECT_FALSE(Next->MnuRemember->isChecked());
  EXPECT_EQ(Next->Memo->Font().Height, -14);

  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(Novel));  // a file: no folder can be made in it
  std::unique_ptr<TFrmMain> Broken = StartWindow();
  Broken->MnuRemember->trigger();
  Broken->OpenFile(Novel);
  QTest::keyClick(Broken->Memo, Qt::Key_PageDown);
  Broken->MnuAddBookmark->trigger();
  EXPECT_EQ(TCodePage::Ansi().Decode(Broken->StsBar->Panels(1).Text()).left(9), QStringLiteral("无法保存阅读记录（"));
  const TFileOffset Before = Broken->Viewer.PageStart();
  QTest::keyClick(Broken->Memo, Qt::Key_PageDown);
  EXPECT_GT(Broken->Viewer.PageStart(), Before);
  ASSERT_TRUE(Broken->Store.Record(Novel));
  EXPECT_EQ(Broken->Store.Record(Novel)->Bookmarks.size(), 1u);
}

}  // namespace
