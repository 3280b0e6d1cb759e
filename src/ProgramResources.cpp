#include "ProgramResources.h"

#include <QApplication>
#include <QIcon>

namespace {
#include "resources/ArrowDown.xpm"
#include "resources/ArrowUp.xpm"
#include "resources/pagorin.xpm"
}  // namespace

QPixmap ProgramPicture(TProgramPicture Picture) {
  switch (Picture) {
  case TProgramPicture::ArrowUp: return QPixmap(ArrowUp);
  case TProgramPicture::ArrowDown: return QPixmap(ArrowDown);
  case TProgramPicture::Icon: break;
  }
  return QPixmap(pagorin);
}

void SetProgramIcon() { QApplication::setWindowIcon(QIcon(ProgramPicture(TProgramPicture::Icon))); }
