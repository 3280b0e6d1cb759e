#include "ProgramResources.h"

#include <QApplication>
#include <QIcon>

void RegisterProgramResources() { Q_INIT_RESOURCE(pagorin); }

void SetProgramIcon() {
  RegisterProgramResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/pagorin/pagorin.xpm")));
}
