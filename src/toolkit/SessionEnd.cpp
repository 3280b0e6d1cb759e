#include "SessionEnd.h"

#include <QObject>
#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler may do almost nothing: it writes one byte, and the GUI thread reads it in its loop.
int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char Byte = 1;
  [[maybe_unused]] const ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
}

}  // namespace

void WatchSessionEnd(QObject* Owner, std::function<void()> Ended) {
  if (SignalPipe[0] >= 0 || ::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* Notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, Owner);
  QObject::connect(Notifier, &QSocketNotifier::activated, Owner, [Ended = std::move(Ended)] {
    char Drained[16];
    while (::read(SignalPipe[0], Drained, sizeof Drained) > 0) {
    }
    Ended();
  });
  struct sigaction Action {};
  Action.sa_handler = OnSignal;
  sigemptyset(&Action.sa_mask);
  Action.sa_flags = SA_RESTART;
  for (const int Signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(Signal, &Action, nullptr);
}
