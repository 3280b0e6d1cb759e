#pragma once

#include "TextSearch.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// Runs one search at a time on a thread of its own, which opens the file for itself and never
// touches the window. What it finds comes back through Post, which the window makes a queued call
// on the GUI thread; a search that was cancelled or replaced meanwhile is never heard from again.
class TSearchThread {
public:
  // Runs Call later on the GUI thread.
  using TPost = std::function<void(std::function<void()> Call)>;
  using TOnProgress = std::function<void(int Permille, bool Wrapped)>;
  // Failure: empty, or why the search could not go on (a pattern too complex for a line of the file).
  using TOnDone = std::function<void(const TSearchResult& Result, const std::string& Failure)>;

  explicit TSearchThread(TPost Post);
  ~TSearchThread();
  TSearchThread(const TSearchThread&) = delete;
  TSearchThread& operator=(const TSearchThread&) = delete;

  // Cancels the search under way, if any, and starts this one. OnProgress and OnDone run on the GUI
  // thread, through Post; OnDone once at the end, unless the search is cancelled first.
  void Start(const std::string& FileName, std::shared_ptr<const TSearchPattern> Pattern, TFileOffset From,
             bool Backward, TOnProgress OnProgress, TOnDone OnDone);
  // Stops the search under way at once: none of its calls runs after this returns. Returns whether
  // one was under way.
  bool Cancel();
  // A search has started and not yet been heard to end or been cancelled.
  bool Running() const { return FRunning; }

private:
  struct TShared;

  TPost FPost;
  std::shared_ptr<TShared> FShared;
  std::thread FThread;
  bool FRunning = false;
};
