// Random insertions (equal keys included), look-ups and deletions on the
// ordered set behind the thread table, checked after every step against a
// multiset: the in-order walk holds the same keys, every query finds a node
// of its key exactly when one exists, deletion hands that node's info to
// DestroyInfo once, and the red-black rules and parent links hold.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "fuzz_check.h"
#include "ordered_set.h"

namespace {

void* gDestroyed = nullptr;
int gDestroyCalls = 0;
void recordDestroy(void* info) {
  gDestroyed = info;
  ++gDestroyCalls;
}

int blackHeight(const OrderedSet_tree_t* t, const OrderedSet_node_t* n, bool parentRed,
                std::vector<pthread_t>* keys) {
  if (n == t->nil) return 1;
  FUZZ_CHECK(!(parentRed && n->red));
  FUZZ_CHECK(n->left == t->nil || n->left->parent == n);
  FUZZ_CHECK(n->right == t->nil || n->right->parent == n);
  const int l = blackHeight(t, n->left, n->red != 0, keys);
  keys->push_back(n->key);
  const int r = blackHeight(t, n->right, n->red != 0, keys);
  FUZZ_CHECK(l == r);
  return l + (n->red ? 0 : 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  OrderedSet_tree_t* set = OrderedSetCreate(recordDestroy, nullptr, nullptr);
  std::multiset<pthread_t> model;
  // Info of each entry: its own address stands for it.
  std::map<OrderedSet_node_t*, pthread_t> nodes;
  while (in.remaining_bytes() > 0) {
    const int op = in.ConsumeIntegralInRange(0, 2);
    // Small keys meet often; the top bit tests unsigned ordering.
    pthread_t key = in.ConsumeIntegralInRange<pthread_t>(0, 63);
    if (in.ConsumeBool()) key |= pthread_t{1} << 63;
    OrderedSet_node_t* found = OrderedSetExactQuery(set, key);
    FUZZ_CHECK((found == nullptr) == (model.count(key) == 0));
    if (found != nullptr) FUZZ_CHECK(found->key == key && nodes.count(found) == 1);
    if (op == 0) {
      OrderedSet_node_t* node = OrderedSetInsert(set, key, nullptr);
      node->info = node;
      model.insert(key);
      nodes[node] = key;
    } else if (op == 1 && found != nullptr) {
      gDestroyCalls = 0;
      OrderedSetDelete(set, found);
      FUZZ_CHECK(gDestroyCalls == 1 && gDestroyed == found);
      model.erase(model.find(key));
      nodes.erase(found);
    }
    // Every other entry still holds its own key in its own node.
    for (const auto& [node, k] : nodes) FUZZ_CHECK(node->key == k && node->info == node);
    std::vector<pthread_t> keys;
    FUZZ_CHECK(!set->root->red && !set->nil->red);
    const OrderedSet_node_t* real = set->root->left;
    if (real != set->nil) FUZZ_CHECK(!real->red && real->parent == set->root);
    blackHeight(set, real, false, &keys);
    FUZZ_CHECK(keys == std::vector<pthread_t>(model.begin(), model.end()));
  }
  gDestroyCalls = 0;
  OrderedSetDestroy(set);
  FUZZ_CHECK(static_cast<size_t>(gDestroyCalls) == nodes.size());
  return 0;
}
