// Random insertions, releases and look-ups on the heap region tree, checked
// after every step against a map of live blocks: every block is found at
// each of its bytes (by the registry's look-up and by the overlap query),
// a release hands exactly that block to DestroyInfo once, the nodes of the
// other blocks keep their blocks, and the red-black rules, parent links
// and in-order walk hold. Blocks are disjoint, as live heap blocks are.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>

#include "HeapVariables.h"
#include "fuzz_check.h"

namespace {

heapStruct_t* gDestroyed = nullptr;
int gDestroyCalls = 0;
void recordDestroy(heapStruct_t* h) {
  gDestroyed = h;
  ++gDestroyCalls;
}

struct Live {
  heapStruct_t* block;
  RBHeapNodeStruct_t* node;  // as returned by the insertion
};
using Model = std::map<uint64_t, Live>;  // by start

Model::iterator modelFind(Model& m, uint64_t address) {
  auto it = m.upper_bound(address);
  if (it == m.begin()) return m.end();
  --it;
  return address <= it->second.block->end ? it : m.end();
}

int blackHeight(const RBHeapTreeStruct_t* t, const RBHeapNodeStruct_t* n, bool parentRed, size_t* count) {
  if (n == t->nil) return 1;
  FUZZ_CHECK(!(parentRed && n->red));
  FUZZ_CHECK(n->left == t->nil || n->left->parent == n);
  FUZZ_CHECK(n->right == t->nil || n->right->parent == n);
  ++*count;
  const int l = blackHeight(t, n->left, n->red != 0, count);
  const int r = blackHeight(t, n->right, n->red != 0, count);
  FUZZ_CHECK(l == r);
  return l + (n->red ? 0 : 1);
}

void checkTree(RBHeapTreeStruct_t* t, Model& m) {
  FUZZ_CHECK(!t->nil->red && !t->root->red && t->nil->heap_info == nullptr);
  RBHeapNodeStruct_t* real = t->root->left;
  if (real != t->nil) FUZZ_CHECK(!real->red && real->parent == t->root);
  size_t count = 0;
  blackHeight(t, real, false, &count);
  FUZZ_CHECK(count == m.size());
  // In-order walk by successor, and back by predecessor.
  RBHeapNodeStruct_t* n = real;
  if (n != t->nil)
    while (n->left != t->nil) n = n->left;
  RBHeapNodeStruct_t* last = t->nil;
  for (auto& [start, live] : m) {
    FUZZ_CHECK(n == live.node && n->heap_info == live.block);
    last = n;
    n = HeapTreeSuccessor(t, n);
  }
  FUZZ_CHECK(n == t->nil);
  for (auto it = m.rbegin(); it != m.rend(); ++it) {
    FUZZ_CHECK(last == it->second.node);
    last = HeapTreePredecessor(t, last);
  }
  FUZZ_CHECK(last == t->nil);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  HeapVariables registry{InitRBHeapTree(__PROF_HeapElemCompare, recordDestroy, nullptr), UINT64_MAX, 0};
  RBHeapTreeStruct_t* t = registry.Tree;
  Model model;
  uint64_t uid = 1;
  while (in.remaining_bytes() > 0) {
    const int op = in.ConsumeIntegralInRange(0, 2);
    const uint64_t a = 4096 + in.ConsumeIntegralInRange<uint64_t>(0, 8191);
    if (op == 0) {  // allocation of a block that overlaps no live one
      const uint64_t size = in.ConsumeIntegralInRange<uint64_t>(0, 200);
      heapStruct_t* b = __PROF_HeapVariable_new(uid++, a, size, 7);
      auto above = model.lower_bound(a);
      const bool clash = (above != model.end() && above->first <= b->end) || modelFind(model, a) != model.end();
      if (clash) {
        __PROF_HeapVariable_delete(b);
        continue;
      }
      RBHeapNodeStruct_t* node = __PROF_HeapVariables_insert(&registry, b);
      FUZZ_CHECK(node != nullptr && node->heap_info == b);
      model[a] = {b, node};
    } else if (op == 1) {  // release of the block holding a
      auto it = modelFind(model, a);
      RBHeapNodeStruct_t* node = __PROF_HeapVariables_find(&registry, t->nil, a);
      FUZZ_CHECK((node == nullptr) == (it == model.end()));
      if (node == nullptr) continue;
      FUZZ_CHECK(node == it->second.node);
      heapStruct_t* b = it->second.block;
      gDestroyCalls = 0;
      RBHeapDelete(t, node);
      FUZZ_CHECK(gDestroyCalls == 1 && gDestroyed == b);
      __PROF_HeapVariable_delete(b);
      model.erase(it);
    } else {  // look-up, both ways
      auto it = modelFind(model, a);
      const RBHeapNodeStruct_t* found = __PROF_HeapVariables_find(&registry, t->nil, a);
      FUZZ_CHECK(found == (it == model.end() ? nullptr : it->second.node));
      heapStruct_t probe{0, 0, a, 1, a, 0};
      const RBHeapNodeStruct_t* overlapping = RBExactQuery(t, &probe);
      FUZZ_CHECK(overlapping == (it == model.end() ? nullptr : it->second.node));
    }
    checkTree(t, model);
  }
  gDestroyCalls = 0;
  const size_t live = model.size();
  // Destruction hands every remaining block to DestroyInfo once.
  t->DestroyInfo = [](heapStruct_t* h) {
    ++gDestroyCalls;
    __PROF_HeapVariable_delete(h);
  };
  RBHeapTreeDestroy(t);
  FUZZ_CHECK(static_cast<size_t>(gDestroyCalls) == live);
  return 0;
}
