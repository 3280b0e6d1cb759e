// pagorin_bench_history: the position history under a long reading session (a reader who holds
// Page Down through a whole novel, then Page Up all the way back), beside a walking reference list
// that shows what finding the last node and the count by walking the list would cost instead.
//
// Every iteration builds a fresh list and releases it at the end of the iteration; the release is
// inside the timing for both lists alike. per_push / per_step is the time of one push (or one push
// plus its pop), whatever the list length.

#include "FileOffset.h"
#include "TCList.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr TFileOffset PageBytes = 2400;  // about one page of GBK text; the values only need to differ

// The walking reference: the same node layout as the history, but a push finds the last node by
// walking next links from the first node, and then recounts the entries by walking every node. Each
// push is O(n), so building n entries is O(n^2). Not used by the viewer; it is here only to put a
// number on what TCList's stored last node and incremental count save.
struct TWalkingReferenceList {
  struct TNode {
    TFileOffset value{};
    TNode* prev = nullptr;
    TNode* next = nullptr;
    std::int64_t count = 0;  // meaningful in the first node only
  };

  TNode First;

  TWalkingReferenceList() = default;
  TWalkingReferenceList(const TWalkingReferenceList&) = delete;
  TWalkingReferenceList& operator=(const TWalkingReferenceList&) = delete;
  ~TWalkingReferenceList() {
    TNode* Node = First.next;
    while (Node) {
      TNode* Next = Node->next;
      delete Node;
      Node = Next;
    }
  }

  TNode* LastNode() {
    TNode* Node = &First;
    while (Node->next) Node = Node->next;
    return Node;
  }

  void push(TFileOffset Value) {
    if (First.count == 0 && !First.prev && !First.next) {
      First.value = Value;
    } else {
      TNode* Last = LastNode();
      Last->next = new TNode{Value, Last, nullptr, 0};
    }
    ++First.count;
    if (First.count >= 2) {
      std::int64_t Nodes = 0;
      for (const TNode* Node = &First; Node; Node = Node->next) ++Nodes;
      First.count = Nodes;
    }
  }

  std::int64_t count() const { return First.count; }
};

void PerOperation(benchmark::State& State, const char* Name, std::int64_t Operations) {
  State.counters[Name] = benchmark::Counter(static_cast<double>(Operations),
                                            benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
}

// Next page n times, then previous page n times: push, then read last and pop, as the viewer does.
void BM_TCList_PushThenPop(benchmark::State& State) {
  const std::int64_t Entries = State.range(0);
  for (auto _ : State) {
    TCList<TFileOffset> History;
    for (std::int64_t I = 0; I < Entries; ++I) History.push(I * PageBytes);
    benchmark::DoNotOptimize(History.count());
    for (std::int64_t I = 0; I < Entries; ++I) {
      benchmark::DoNotOptimize(History.last());
      benchmark::DoNotOptimize(History.pop());
    }
    benchmark::ClobberMemory();
  }
  PerOperation(State, "per_step", Entries);
}
BENCHMARK(BM_TCList_PushThenPop)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_TCList_Push(benchmark::State& State) {
  const std::int64_t Entries = State.range(0);
  for (auto _ : State) {
    TCList<TFileOffset> History;
    for (std::int64_t I = 0; I < Entries; ++I) History.push(I * PageBytes);
    benchmark::DoNotOptimize(History.count());
    benchmark::ClobberMemory();
  }
  PerOperation(State, "per_push", Entries);
}
BENCHMARK(BM_TCList_Push)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_WalkingReference_Push(benchmark::State& State) {
  const std::int64_t Entries = State.range(0);
  for (auto _ : State) {
    TWalkingReferenceList History;
    for (std::int64_t I = 0; I < Entries; ++I) History.push(I * PageBytes);
    benchmark::DoNotOptimize(History.count());
    benchmark::ClobberMemory();
  }
  PerOperation(State, "per_push", Entries);
}
BENCHMARK(BM_WalkingReference_Push)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
// 100,000 entries take seconds per run (about 10^10 node visits); one run is enough to see it.
BENCHMARK(BM_WalkingReference_Push)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
