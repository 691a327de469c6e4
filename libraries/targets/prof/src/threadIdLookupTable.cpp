// The thread table over the ordered set. Records are freed by the set when
// their entry is removed; their profiler state is not (the exit clean-up
// owns it).
#include "threadIdLookupTable.h"

#include <cstdlib>

#include "profiler_state.h"
#include "thread_profile.h"
#include "utils.h"

namespace {

// Guards the set, the records' membership and capacity.
pthread_mutex_t sync_access_to_tree = PTHREAD_MUTEX_INITIALIZER;
OrderedSet_tree_t* threadID_red_black_tree = nullptr;
uint32_t capacity = 0;

void InfoDestFunc(void* p) { free(p); }
void PrintFunc(pthread_t) {}
void PrintInfo(void*) {}

OrderedSet_node_t* insert_lookup(pthread_t ptid, uint32_t tid) {
  OrderedSet_node_t* node = OrderedSetInsert(threadID_red_black_tree, ptid, thread_profile_init(ptid, tid));
  ++capacity;
  return node;
}

void delete_lookup(OrderedSet_node_t* node) {
  OrderedSetDelete(threadID_red_black_tree, node);
  --capacity;
}

void visitNodeWithCallBack(const OrderedSet_node_t* nil, const OrderedSet_node_t* node,
                           void (*callback)(const OrderedSet_node_t*, void*), void* args) {
  while (node != nil) {
    callback(node, args);
    if (node->left != nil) visitNodeWithCallBack(nil, node->left, callback, args);
    node = node->right;
  }
}

struct CopyCursor {
  PtidToThreadInfoMapping* next;
  uint32_t remaining;
};

void visitNode(const OrderedSet_node_t* node, void* args) {
  auto* cursor = static_cast<CopyCursor*>(args);
  if (cursor->remaining == 0) return;
  cursor->next->ptid = node->key;
  cursor->next->thread_info = static_cast<thread_profile_t*>(node->info);
  ++cursor->next;
  --cursor->remaining;
}

}  // namespace

void __PROF_lock_lookup_tree(void) {
  pthread_mutex_lock(&sync_access_to_tree);
  if (threadID_red_black_tree == nullptr)
    threadID_red_black_tree = OrderedSetCreate(InfoDestFunc, PrintFunc, PrintInfo);
}

void __PROF_unlock_lookup_tree(void) { pthread_mutex_unlock(&sync_access_to_tree); }

thread_profile_t* __PROF_get_or_create_ThreadInfo_from_PTID(pthread_t ptid, bool self) {
  if (OrderedSet_node_t* node = OrderedSetExactQuery(threadID_red_black_tree, ptid)) {
    auto* existing = static_cast<thread_profile_t*>(node->info);
    if (!self || existing->thread_state != THREAD_STATE_FINALIZED) return existing;
    // A finished, never joined thread left this handle: the caller takes
    // the record over with a new number and a new profiler state.
    existing->thread_id = __PROF_thread_profile_get_new_thread_id();
    __PROF_thread_profile_release_state(existing);
    init_prof_state(existing);
    existing->thread_state = THREAD_STATE_INITIALIZING;
    existing->initializer_active = false;
    return existing;
  }
  return static_cast<thread_profile_t*>(
      insert_lookup(ptid, __PROF_thread_profile_get_new_thread_id())->info);
}

void __PROF_define_PTID_to_ThreadInfo_mapping(pthread_t ptid, uint32_t tid) {
  OrderedSet_node_t* node = OrderedSetExactQuery(threadID_red_black_tree, ptid);
  if (node == nullptr) {
    insert_lookup(ptid, tid);
    return;
  }
  // The handle of a finished, never joined thread was given to the new
  // thread: the entry stays, its record is re-initialised in place.
  auto* existing = static_cast<thread_profile_t*>(node->info);
  thread_profile_t* fresh = thread_profile_init(ptid, tid);
  // The earlier thread is gone; a state its record still holds (one made
  // by a join or naming look-up) would otherwise be lost.
  __PROF_thread_profile_release_state(existing);
  existing->pthread_id = fresh->pthread_id;
  existing->thread_id = fresh->thread_id;
  existing->prof_state = fresh->prof_state;
  existing->prof_state->ThreadProfile = existing;
  pthread_mutex_init(&existing->thread_state_mutex, nullptr);
  existing->thread_state = THREAD_STATE_INITIALIZING;
  existing->initializer_active = false;
  pthread_mutex_destroy(&fresh->thread_state_mutex);
  free(fresh);
}

void __PROF_remove_PTID_to_ThreadInfo_mapping(pthread_t ptid, uint32_t tid) {
  OrderedSet_node_t* node = OrderedSetExactQuery(threadID_red_black_tree, ptid);
  if (node == nullptr) return;
  auto* profile = static_cast<thread_profile_t*>(node->info);
  if (profile->thread_id != tid) return;
  // The joined thread is gone. Its state is normally released by its exit
  // clean-up; one made by a look-up for a thread that never called in, or
  // left behind by a thread that ended while the application was
  // finishing, goes with the record.
  __PROF_thread_profile_release_state(profile);
  delete_lookup(node);
}

uint32_t __PROF_get_number_of_profiles(void) { return capacity; }

void __PROF_preorder_callback(void (*callback)(const OrderedSet_node_t*, void*), void* args) {
  const OrderedSet_node_t* nil = threadID_red_black_tree->nil;
  const OrderedSet_node_t* root = threadID_red_black_tree->root->left;
  if (root == nil) return;
  visitNodeWithCallBack(nil, root, callback, args);
}

uint32_t __PROF_get_all_PTID_to_ThreadInfo_mappings(PtidToThreadInfoMapping* mappings,
                                                    uint32_t count) {
  if (capacity == 0) return 0;
  CopyCursor cursor{mappings, count};
  __PROF_preorder_callback(visitNode, &cursor);
  return capacity;
}
