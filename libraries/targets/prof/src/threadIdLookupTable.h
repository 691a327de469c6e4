// The thread table: system thread handle -> thread profile, the one
// registry of every thread the profiler knows, behind one process-wide
// mutex (sync_access_to_tree). Every operation but lock/unlock requires the
// lock to be held. The lock is not recursive: no callback may re-enter.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "ordered_set.h"
#include "thread_profile.h"

typedef struct PtidToThreadInfoMapping {
  pthread_t ptid;
  thread_profile_t* thread_info;
} PtidToThreadInfoMapping;

void __PROF_lock_lookup_tree(void);
void __PROF_unlock_lookup_tree(void);
thread_profile_t* __PROF_get_or_create_ThreadInfo_from_PTID(pthread_t ptid, bool self);
void __PROF_define_PTID_to_ThreadInfo_mapping(pthread_t ptid, uint32_t tid);
void __PROF_remove_PTID_to_ThreadInfo_mapping(pthread_t ptid, uint32_t tid);
uint32_t __PROF_get_number_of_profiles(void);
void __PROF_preorder_callback(void (*callback)(const OrderedSet_node_t*, void*), void* args);
uint32_t __PROF_get_all_PTID_to_ThreadInfo_mappings(PtidToThreadInfoMapping* mappings,
                                                    uint32_t count);

// RAII holder of the table lock.
class LookupTreeGuard {
 public:
  LookupTreeGuard() { __PROF_lock_lookup_tree(); }
  ~LookupTreeGuard() { __PROF_unlock_lookup_tree(); }
  LookupTreeGuard(const LookupTreeGuard&) = delete;
  LookupTreeGuard& operator=(const LookupTreeGuard&) = delete;
};
