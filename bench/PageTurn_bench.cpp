// End-to-end cost of what a reader does, in the real main window (offscreen): a page turn (read the
// page, show it in the text area, update the status and scroll bar, paint) and a scroll jump, on a
// 10 MiB novel and a sparse 6 GiB one. Prints medians and 95th percentiles in milliseconds.

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

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

struct TFigures {
  double Median = 0;
  double P95 = 0;
};

TFigures Measure(int Repetitions, const std::function<void(int)>& Step) {
  std::vector<double> Millis;
  for (int I = 0; I < Repetitions; ++I) {
    const auto Start = std::chrono::steady_clock::now();
    Step(I);
    Millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count());
  }
  std::sort(Millis.begin(), Millis.end());
  return {Millis[Millis.size() / 2], Millis[Millis.size() * 95 / 100]};
}

// File > Open, the dialog answered with Path as soon as it is up.
void OpenFile(TFrmMain& Window, const std::string& Path) {
  QTimer::singleShot(0, [Path] {
    if (auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      Dialog->selectFile(QString::fromStdString(Path));
      static_cast<QDialog*>(Dialog)->accept();
    }
  });
  Window.MnuOpen->trigger();
}

void Row(const char* File, const char* Action, int Repetitions, const TFigures& Figures) {
  std::printf("| %s | %s | %d | %.3f | %.3f |\n", File, Action, Repetitions, Figures.Median, Figures.P95);
}

}  // namespace

// --width W --height H (default 1024 x 700), --steps N per action (default 300).
int Option(int argc, char** argv, const char* Name, int Default) {
  for (int I = 1; I + 1 < argc; ++I)
    if (std::strcmp(argv[I], Name) == 0) return std::atoi(argv[I + 1]);
  return Default;
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const int Width = Option(argc, argv, "--width", 1024);
  const int Height = Option(argc, argv, "--height", 700);
  const int Repetitions = std::max(1, Option(argc, argv, "--steps", 300));
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

  std::mt19937 Random(7);
  std::printf("Pagorin page turn benchmark: the real main window, offscreen, %d x %d, the text area's font\n"
              "(height -14), each step including the repaint of the window; page cache warm.\n\n", Width, Height);
  const std::string Novel = Folder.Path("novel.txt");
  WriteNovelFile(Novel, 10 * MiB, {});
  OpenFile(Window, Novel);
  std::printf("geometry: %d lines of %d characters; first page of the 10 MiB novel %lld bytes\n\n",
              Window.Viewer.LinesPerPage(), Window.Viewer.CharsPerLine(), static_cast<long long>(Window.Viewer.PageBytes()));
  std::printf("| file | action | steps | median ms | p95 ms |\n|---|---|---:|---:|---:|\n");
  Row("10 MiB", "next page", Repetitions, Measure(Repetitions, [&](int) {
        Window.TBDown->trigger();
        Window.repaint();
      }));
  Row("10 MiB", "previous page", Repetitions, Measure(Repetitions, [&](int) {
        Window.TBUp->trigger();
        Window.repaint();
      }));
  std::uniform_int_distribution<int> Anywhere(0, Window.SclBar->Max());
  Row("10 MiB", "scroll jump", Repetitions, Measure(Repetitions, [&](int) {
        Window.SclBar->SetPosition(Anywhere(Random));
        Window.repaint();
      }));

  const TFileOffset Size = 6 * GiB;
  const std::vector<TPageSpot> Spots = PageSpots(Size);
  const std::string Huge = Folder.Path("huge.txt");
  WriteNovelFile(Huge, Size, TextRegionsAround(Spots, Size));
  OpenFile(Window, Huge);
  const TFileOffset Step = Window.Viewer.ScrollStep();
  for (const TPageSpot& Spot : Spots) {
    const int Position = static_cast<int>(Spot.Offset / Step);
    const std::string Action = "jump to " + Spot.Name + ", then next page";
    Row("6 GiB sparse", Action.c_str(), Repetitions, Measure(Repetitions, [&](int I) {
          if (I % 2 == 0)
            Window.SclBar->SetPosition(Position + (I / 2) % 50);
          else
            Window.TBDown->trigger();
          Window.repaint();
        }));
  }
  FrmMain = nullptr;
  AboutBox = nullptr;
  return 0;
}
