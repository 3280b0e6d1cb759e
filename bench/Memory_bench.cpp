// Memory over a long reading session in the real main window (offscreen): 100,000 page turns
// forward, 10,000 scroll jumps, then the same number of turns back, each step repainting the window.
// Prints resident memory (VmRSS) and the heap in use (glibc's mallinfo2) after each phase, beside
// what the position history itself holds, so that any other growth shows.

#include "TempDir.h"
#include "NovelText.h"
#include "PageSpots.h"
#include "TApplication.h"
#include "TScrollBar.h"
#include "UAboutBox.h"
#include "UMain.h"

#include <QAction>
#include <QDialog>
#include <QFileDialog>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include <malloc.h>

namespace {

// --turns N (default 100000), --jumps N (default 10000), --width W --height H (default 1024 x 700).
long Option(int argc, char** argv, const char* Name, long Default) {
  for (int I = 1; I + 1 < argc; ++I)
    if (std::strcmp(argv[I], Name) == 0) return std::atol(argv[I + 1]);
  return Default;
}

long ResidentKiB() {
  std::ifstream Status("/proc/self/status");
  std::string Line;
  while (std::getline(Status, Line))
    if (Line.rfind("VmRSS:", 0) == 0) return std::atol(Line.c_str() + 6);
  return -1;
}

double HeapMiB() { return static_cast<double>(mallinfo2().uordblks) / MiB; }

void OpenFile(TFrmMain& Window, const std::string& Path) {
  QTimer::singleShot(0, [Path] {
    if (auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      Dialog->selectFile(QString::fromStdString(Path));
      static_cast<QDialog*>(Dialog)->accept();
    }
  });
  Window.MnuOpen->trigger();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const long Turns = Option(argc, argv, "--turns", 100000);
  const long Jumps = Option(argc, argv, "--jumps", 10000);
  const int Width = static_cast<int>(Option(argc, argv, "--width", 1024));
  const int Height = static_cast<int>(Option(argc, argv, "--height", 700));
  TApplication App(argc, argv);
  TempDir Folder;
  TAboutBox About;
  AboutBox = &About;
  TFrmMain Window;
  FrmMain = &Window;
  Window.resize(Width, Height);
  Window.SetWindowState(TForm::wsNormal);
  Window.ShowForm();
  QCoreApplication::processEvents();
  // Each step as a reader makes it: the command, the repaint, then whatever the program does while
  // it waits for the next key.
  auto Settle = [&] {
    Window.repaint();
    QCoreApplication::processEvents();
  };
  auto Turn = [&](QAction* Button) {
    Button->trigger();
    Settle();
  };

  // A novel long enough for every turn forward: sized from the pages of a small one.
  const std::string Probe = Folder.Path("probe.txt");
  WriteNovelFile(Probe, 4 * MiB, {});
  OpenFile(Window, Probe);
  for (int I = 0; I < 200; ++I) Window.TBDown->trigger();
  const TFileOffset PageBytes = Window.Viewer.PageStart() / 200 + 1;
  const TFileOffset Size = (Turns + 1000) * PageBytes * 5 / 4;
  const std::string Novel = Folder.Path("novel.txt");
  WriteNovelFile(Novel, Size, {});
  OpenFile(Window, Novel);

  // Warm up what a session builds once (fonts, glyphs, layout buffers), then back to the start.
  std::mt19937 Random(11);
  std::uniform_int_distribution<int> Anywhere(0, Window.SclBar->Max());
  for (int I = 0; I < 1000; ++I) Turn(Window.TBDown);
  for (int I = 0; I < 200; ++I) {
    Window.SclBar->SetPosition(Anywhere(Random));
    Settle();
  }
  Window.SclBar->SetPosition(0);
  while (Window.Viewer.History().count() > 0) Turn(Window.TBUp);

  std::printf("Pagorin memory benchmark: the real main window, offscreen, %d x %d; a %.0f MiB novel, about %lld\n"
              "bytes a page; every step repaints the window and handles pending events.\n\n",
              Width, Height, static_cast<double>(Size) / MiB, static_cast<long long>(PageBytes));
  std::printf("| after | steps | seconds | VmRSS KiB | heap in use MiB | history entries |\n|---|---:|---:|---:|---:|---:|\n");
  auto Row = [&](const char* What, long Steps, double Seconds) {
    std::printf("| %s | %ld | %.1f | %ld | %.2f | %lld |\n", What, Steps, Seconds, ResidentKiB(), HeapMiB(),
                static_cast<long long>(Window.Viewer.History().count()));
    std::fflush(stdout);
  };
  auto Timed = [](const auto& Steps) {
    const auto Start = std::chrono::steady_clock::now();
    Steps();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  };
  Row("warm-up, back at the start", 0, 0);
  Row("page turns forward", Turns, Timed([&] { for (long I = 0; I < Turns; ++I) Turn(Window.TBDown); }));
  const TFileOffset Reached = Window.Viewer.PageStart();
  Row("scroll jumps", Jumps, Timed([&] {
        for (long I = 0; I < Jumps; ++I) {
          Window.SclBar->SetPosition(Anywhere(Random));
          Settle();
        }
      }));
  Row("page turns back", Turns, Timed([&] { for (long I = 0; I < Turns; ++I) Turn(Window.TBUp); }));
  void* Node = std::malloc(sizeof(TCList<TFileOffset>::TNode));
  std::printf("\nOne history entry is a %zu-byte node on the heap (%zu bytes with malloc's header); the last turn\n"
              "forward started at offset %lld.\n", sizeof(TCList<TFileOffset>::TNode),
              malloc_usable_size(Node) + sizeof(std::size_t), static_cast<long long>(Reached));
  std::free(Node);
  FrmMain = nullptr;
  AboutBox = nullptr;
  return 0;
}
