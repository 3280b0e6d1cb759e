#include "Beep.h"

#include <QApplication>

#include <utility>

namespace {
TBeepHook& InstalledHook() {
  static TBeepHook Hook;
  return Hook;
}
} // namespace

void Beep() {
  if (const TBeepHook& Hook = InstalledHook()) {
    Hook();
    return;
  }
  QApplication::beep();
}

void SetBeepHook(TBeepHook Hook) { InstalledHook() = std::move(Hook); }
