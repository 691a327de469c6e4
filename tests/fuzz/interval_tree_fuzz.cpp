// Random registrations and look-ups on the variable registry (interval
// tree), checked after every step against a map of disjoint intervals.
// Registered variables win and never change; a newcomer that overlaps none
// is kept whole; one that overlaps is kept, if at all, as a part of itself
// that overlaps none (which part depends on the tree's shape, so the model
// takes the part the registry kept and checks only that). The registration
// returns the variable that holds the newcomer's start, if any.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>

#include "GlobalVariables.h"
#include "fuzz_check.h"

namespace {

struct Interval {
  uint64_t end;
  uint32_t id;
};
using Model = std::map<uint64_t, Interval>;  // by start

const Interval* modelFind(const Model& m, uint64_t address, uint64_t* start = nullptr) {
  auto it = m.upper_bound(address);
  if (it == m.begin()) return nullptr;
  --it;
  if (address > it->second.end) return nullptr;
  if (start != nullptr) *start = it->first;
  return &it->second;
}

bool overlapsAny(const Model& m, uint64_t s, uint64_t e) {
  if (modelFind(m, s) != nullptr) return true;
  auto next = m.upper_bound(s);
  return next != m.end() && next->first <= e;
}

const RBNodeStruct_t* findId(const RBNodeStruct_t* n, uint32_t id) {
  if (n == nullptr || n->unique_id == id) return n;
  const RBNodeStruct_t* l = findId(n->left, id);
  return l != nullptr ? l : findId(n->right, id);
}

// Black height of the subtree, checking order, colours and bounds.
int blackHeight(const RBNodeStruct_t* n, uint64_t lo, uint64_t hi, bool parentRed, size_t* count) {
  if (n == nullptr) return 1;
  FUZZ_CHECK(n->start <= n->end && n->start >= lo && n->end <= hi);
  FUZZ_CHECK(!(parentRed && n->color == red));
  ++*count;
  const int l = n->start == 0 ? 1 : blackHeight(n->left, lo, n->start - 1, n->color == red, count);
  if (n->start == 0) FUZZ_CHECK(n->left == nullptr);
  const int r = n->end == UINT64_MAX ? 1 : blackHeight(n->right, n->end + 1, hi, n->color == red, count);
  if (n->end == UINT64_MAX) FUZZ_CHECK(n->right == nullptr);
  FUZZ_CHECK(l == r);
  return l + (n->color == black ? 1 : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  GlobalVariables* g = __PROF_GlobalVariables_new();
  Model model;
  // Addresses from a small window (so that intervals meet and overlap),
  // occasionally at the ends of the address space.
  const uint64_t base = in.ConsumeBool() ? 0 : UINT64_MAX - 4096;
  uint32_t nextId = 1;
  while (in.remaining_bytes() > 0) {
    if (in.ConsumeIntegralInRange(0, 3) != 0) {
      const uint64_t s = base + in.ConsumeIntegralInRange<uint64_t>(0, 4095);
      const uint64_t e = s + in.ConsumeIntegralInRange<uint64_t>(0, 64) - 1;  // may be empty
      const uint32_t id = nextId++;
      const uint64_t before = g->Tree.count;
      GlobalVariable* node = __PROF_GlobalVariables_insert(g, id, s, e);
      if (e < s) {
        FUZZ_CHECK(node == nullptr && g->Tree.count == before);
        continue;
      }
      const bool overlapping = overlapsAny(model, s, e);
      if (g->Tree.count != before) {
        FUZZ_CHECK(g->Tree.count == before + 1);
        const RBNodeStruct_t* added = findId(g->Tree.root, id);
        FUZZ_CHECK(added != nullptr && s <= added->start && added->start <= added->end && added->end <= e);
        FUZZ_CHECK(!overlapsAny(model, added->start, added->end));
        if (!overlapping) FUZZ_CHECK(added->start == s && added->end == e);
        model[added->start] = {added->end, id};
      } else {
        FUZZ_CHECK(overlapping);
      }
      // The node that stands for s: the variable holding s, if any.
      const Interval* holder = modelFind(model, s);
      FUZZ_CHECK((node == nullptr) == (holder == nullptr));
      if (node != nullptr) FUZZ_CHECK(node->unique_id == holder->id && node->end == holder->end);
    } else {
      const uint64_t a = base + in.ConsumeIntegralInRange<uint64_t>(0, 4200);
      const Interval* expected = modelFind(model, a);
      const GlobalVariable* found = __PROF_GlobalVariables_find(g, a);
      FUZZ_CHECK((found == nullptr) == (expected == nullptr));
      if (found != nullptr) FUZZ_CHECK(found->unique_id == expected->id && found->end == expected->end);
    }
  }
  size_t count = 0;
  if (g->Tree.root != nullptr) FUZZ_CHECK(g->Tree.root->color == black);
  blackHeight(g->Tree.root, 0, UINT64_MAX, false, &count);
  FUZZ_CHECK(count == model.size());
  for (const auto& [start, iv] : model) {
    const GlobalVariable* n = __PROF_GlobalVariables_find(g, start);
    FUZZ_CHECK(n != nullptr && n->start == start && n->end == iv.end && n->unique_id == iv.id);
  }
  __PROF_FreeRBNodes(&g->Tree);
  free(g);
  return 0;
}
