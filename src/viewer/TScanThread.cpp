#include "TScanThread.h"

// What the thread and the calls it posts share: the number of the scan the GUI thread still waits
// for, and the flag that stops the running one. It outlives the object when calls are queued.
struct TScanThread::TShared {
  std::atomic<unsigned> Current{0};
  std::atomic<bool> Cancel{false};
};

TScanThread::TScanThread(TPost Post) : FPost(std::move(Post)), FShared(std::make_shared<TShared>()) {}

TScanThread::~TScanThread() { Cancel(); }

bool TScanThread::Cancel() {
  const bool WasRunning = FRunning;
  ++FShared->Current;  // calls already queued for the old scan find they are stale
  FShared->Cancel = true;
  // The thread ends within one block of reading once the flag is set.
  if (FThread.joinable()) FThread.join();
  FShared->Cancel = false;
  FRunning = false;
  return WasRunning;
}

void TScanThread::Start(TWork Work) {
  Cancel();
  FRunning = true;
  const unsigned Number = ++FShared->Current;
  std::shared_ptr<TShared> Shared = FShared;
  TPost Post = FPost;
  bool* Running = &FRunning;
  FThread = std::thread([Shared, Post, Number, Running, Work = std::move(Work)] {
    // Calls posted to the GUI thread run only while this scan is still the one waited for.
    const TDeliver Deliver = [&Shared, &Post, Number](std::function<void()> Call) {
      Post([Shared, Number, Call = std::move(Call)] {
        if (Shared->Current == Number) Call();
      });
    };
    std::function<void()> Last = Work(Shared->Cancel, Deliver);
    if (!Last) return;
    Deliver([Running, Last = std::move(Last)] {
      *Running = false;
      Last();
    });
  });
}
