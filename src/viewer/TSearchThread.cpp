#include "TSearchThread.h"

#include <exception>

// What the thread and the calls it posts share: the number of the search the GUI thread still
// waits for, and the flag that stops the running one. It outlives the object when calls are queued.
struct TSearchThread::TShared {
  std::atomic<unsigned> Current{0};
  std::atomic<bool> Cancel{false};
};

TSearchThread::TSearchThread(TPost Post) : FPost(std::move(Post)), FShared(std::make_shared<TShared>()) {}

TSearchThread::~TSearchThread() { Cancel(); }

bool TSearchThread::Cancel() {
  const bool WasRunning = FRunning;
  ++FShared->Current;  // calls already queued for the old search find they are stale
  FShared->Cancel = true;
  // The thread ends within one block of reading once the flag is set.
  if (FThread.joinable()) FThread.join();
  FShared->Cancel = false;
  FRunning = false;
  return WasRunning;
}

void TSearchThread::Start(const std::string& FileName, std::shared_ptr<const TSearchPattern> Pattern,
                          TFileOffset From, bool Backward, TOnProgress OnProgress, TOnDone OnDone) {
  Cancel();
  FRunning = true;
  const unsigned Number = ++FShared->Current;
  std::shared_ptr<TShared> Shared = FShared;
  TPost Post = FPost;
  bool* Running = &FRunning;
  // Calls posted to the GUI thread run only while this search is still the one waited for.
  const auto Deliver = [Shared, Post, Number](std::function<void()> Call) {
    Post([Shared, Number, Call = std::move(Call)] {
      if (Shared->Current == Number) Call();
    });
  };
  FThread = std::thread([=, OnProgress = std::move(OnProgress), OnDone = std::move(OnDone)] {
    TSearchResult Result;
    std::string Failure;
    // Nothing may leave the thread as an exception: it would end the program.
    try {
      Result = FindText(FileName, *Pattern, From, Backward, Shared->Cancel, [&](int Permille, bool Wrapped) {
        if (OnProgress) Deliver([=] { OnProgress(Permille, Wrapped); });
      });
    } catch (const std::exception& Error) {
      Failure = Error.what();
    }
    if (Failure.empty() && Result.Outcome == TSearchOutcome::Cancelled) return;
    Deliver([=] {
      *Running = false;
      OnDone(Result, Failure);
    });
  });
}
