#pragma once

#include <cstdint>

// A last-in, first-out list of values (the viewer keeps page start offsets in it). The first node is
// embedded in the list; every further entry is one node allocated after it and owned by the list.
// The list also remembers its last node, so push, pop and last take constant time however long the
// history grows, and count is kept exact as entries come and go.
template <typename T>
class TCList {
public:
  struct TNode {
    T value{};
    TNode* prev = nullptr;
    TNode* next = nullptr;
    std::int64_t count = 0;  // meaningful in the embedded first node only
  };

  TCList() = default;
  ~TCList() { clear(); }
  TCList(const TCList&) = delete;
  TCList& operator=(const TCList&) = delete;

  // Back to empty; entries a list still holds are released, never leaked.
  void init() { clear(); }

  // Records Value as the most recent entry.
  void push(const T& Value) {
    if (FFirst.count == 0) {
      FFirst.value = Value;
    } else {
      TNode* Node = new TNode{Value, FLast, nullptr, 0};
      FLast->next = Node;
      FLast = Node;
    }
    ++FFirst.count;
  }

  // Removes the most recent entry; false (and nothing changes) when the list is empty.
  bool pop() {
    if (FFirst.count == 0) return false;
    if (FLast != &FFirst) {
      TNode* Previous = FLast->prev;
      Previous->next = nullptr;
      delete FLast;
      FLast = Previous;
    }
    --FFirst.count;
    return true;
  }

  // The most recent entry; only meaningful while count() >= 1.
  const T& last() const { return FLast->value; }

  std::int64_t count() const { return FFirst.count; }

  void clear() {
    TNode* Node = FFirst.next;
    while (Node) {  // iterative: a long history must not recurse through its nodes
      TNode* Next = Node->next;
      delete Node;
      Node = Next;
    }
    FFirst.prev = FFirst.next = nullptr;
    FFirst.count = 0;
    FLast = &FFirst;
  }

private:
  TNode FFirst;
  TNode* FLast = &FFirst;
};
