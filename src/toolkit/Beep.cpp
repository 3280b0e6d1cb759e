#include "Beep.h"

#include <QApplication>

namespace {
int Beeps = 0;
}

void Beep() {
  ++Beeps;
  QApplication::beep();
}

int BeepCount() { return Beeps; }
