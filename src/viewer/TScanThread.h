#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// Runs one scan of a file at a time (a search, the chapter headings) on a thread of its own, which
// opens the file for itself and never touches the window. What it finds comes back through Post,
// which the window makes a queued call on the GUI thread; a scan that was cancelled or replaced
// meanwhile is never heard from again.
class TScanThread {
public:
  // Runs Call later on the GUI thread.
  using TPost = std::function<void(std::function<void()> Call)>;
  // Hands Call to the GUI thread, where it runs unless the scan has been cancelled or replaced.
  using TDeliver = std::function<void(std::function<void()> Call)>;
  // The scan itself, on the thread: it checks Cancel at least once a block and hands what it finds
  // over through Deliver. It returns the call that ends it on the GUI thread (after which Running()
  // is false), or none when it was cancelled. It must not throw.
  using TWork = std::function<std::function<void()>(const std::atomic<bool>& Cancel, const TDeliver& Deliver)>;

  explicit TScanThread(TPost Post);
  ~TScanThread();
  TScanThread(const TScanThread&) = delete;
  TScanThread& operator=(const TScanThread&) = delete;

  // Cancels the scan under way, if any, and starts this one.
  void Start(TWork Work);
  // Stops the scan under way at once: none of its calls runs after this returns. Returns whether
  // one was under way.
  bool Cancel();
  // A scan has started and not yet been heard to end or been cancelled.
  bool Running() const { return FRunning; }

private:
  struct TShared;

  TPost FPost;
  std::shared_ptr<TShared> FShared;
  std::thread FThread;
  bool FRunning = false;
};
