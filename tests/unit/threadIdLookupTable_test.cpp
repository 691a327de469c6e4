// Tests of the thread table: get-or-create for the calling thread and for
// other threads (including the take-over of a finished thread's record),
// definitions over a handle that is still mapped, removal guarded by the
// thread number, copies of all mappings, and the entry count. Handles are
// made-up keys; the table never dereferences them.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "profiler_state.h"
#include "threadIdLookupTable.h"
#include "thread_profile_utils.h"

namespace {

threadstate_t stateOf(thread_profile_t* p) {
  pthread_mutex_lock(&p->thread_state_mutex);
  const threadstate_t s = p->thread_state;
  pthread_mutex_unlock(&p->thread_state_mutex);
  return s;
}

void visitCounter(const OrderedSet_node_t*, void* count) { ++*static_cast<uint32_t*>(count); }

// Holds the table lock for the whole test, like the runtime's callers, and
// removes every mapping the test left behind.
class ThreadTable : public ::testing::Test {
 protected:
  void SetUp() override {
    __PROF_lock_lookup_tree();
    ASSERT_EQ(__PROF_get_number_of_profiles(), 0u) << "an earlier test left mappings behind";
  }
  void TearDown() override {
    std::vector<PtidToThreadInfoMapping> all(__PROF_get_number_of_profiles());
    __PROF_get_all_PTID_to_ThreadInfo_mappings(all.data(), static_cast<uint32_t>(all.size()));
    for (const auto& m : all) __PROF_remove_PTID_to_ThreadInfo_mapping(m.ptid, m.thread_info->thread_id);
    EXPECT_EQ(__PROF_get_number_of_profiles(), 0u);
    __PROF_unlock_lookup_tree();
  }

  static thread_profile_t* other(pthread_t h) { return __PROF_get_or_create_ThreadInfo_from_PTID(h, false); }
  static thread_profile_t* self(pthread_t h) { return __PROF_get_or_create_ThreadInfo_from_PTID(h, true); }
  // What the thread's exit clean-up leaves: a finalised record without state.
  static void finish(thread_profile_t* p) {
    __PROF_thread_profile_SetProfileFinalized(p);
    __PROF_thread_profile_release_state(p);
  }
  static uint32_t visits() {
    uint32_t count = 0;
    __PROF_preorder_callback(visitCounter, &count);
    return count;
  }
};

TEST_F(ThreadTable, AnUnknownHandleGetsANewRecordWithTheNextNumber) {
  const uint32_t next = __PROF_thread_profile_get_new_thread_id() + 1;
  thread_profile_t* p = other(0x1000);
  EXPECT_EQ(p->thread_id, next);
  EXPECT_EQ(p->pthread_id, pthread_t(0x1000));
  EXPECT_EQ(stateOf(p), THREAD_STATE_INITIALIZING);
  ASSERT_NE(p->prof_state, nullptr);
  EXPECT_EQ(p->prof_state->ThreadProfile, p);
  EXPECT_EQ(__PROF_get_number_of_profiles(), 1u);
  // Asked again, by anyone: the same record, nothing new.
  EXPECT_EQ(other(0x1000), p);
  EXPECT_EQ(self(0x1000), p);
  EXPECT_EQ(p->thread_id, next);
  EXPECT_EQ(__PROF_get_number_of_profiles(), 1u);
  EXPECT_EQ(self(0x2000)->thread_id, next + 1);
}

TEST_F(ThreadTable, AFinishedThreadsRecordIsTakenOverOnlyByItsNewOwner) {
  thread_profile_t* p = other(0x1000);
  const uint32_t oldNumber = p->thread_id;
  finish(p);

  // Another thread asking about the handle sees the finished record.
  EXPECT_EQ(other(0x1000), p);
  EXPECT_EQ(p->thread_id, oldNumber);
  EXPECT_EQ(stateOf(p), THREAD_STATE_FINALIZED);
  EXPECT_EQ(p->prof_state, nullptr);

  // A new thread with that handle takes it over with a fresh number.
  EXPECT_EQ(self(0x1000), p);
  EXPECT_GT(p->thread_id, oldNumber);
  EXPECT_EQ(stateOf(p), THREAD_STATE_INITIALIZING);
  ASSERT_NE(p->prof_state, nullptr);
  EXPECT_EQ(p->prof_state->ThreadProfile, p);
  EXPECT_EQ(__PROF_get_number_of_profiles(), 1u);
}

TEST_F(ThreadTable, ATakeOverReleasesAStateTheRecordStillHeld) {
  thread_profile_t* p = other(0x1000);
  __PROF_thread_profile_SetProfileFinalized(p);  // state deliberately kept
  EXPECT_EQ(self(0x1000), p);
  EXPECT_EQ(p->prof_state->ThreadProfile, p);
  // The leak checker of the sanitizer build tells whether the old state was lost.
}

TEST_F(ThreadTable, DefiningAMappedHandleReusesTheEntryWithTheGivenNumber) {
  thread_profile_t* p = other(0x1000);
  finish(p);
  __PROF_define_PTID_to_ThreadInfo_mapping(0x1000, 4711);
  EXPECT_EQ(__PROF_get_number_of_profiles(), 1u);
  EXPECT_EQ(other(0x1000), p);
  EXPECT_EQ(p->thread_id, 4711u);
  EXPECT_EQ(stateOf(p), THREAD_STATE_INITIALIZING);
  ASSERT_NE(p->prof_state, nullptr);
  EXPECT_EQ(p->prof_state->ThreadProfile, p);
  // The defined thread's own first call keeps the number given at creation.
  EXPECT_EQ(self(0x1000)->thread_id, 4711u);

  // Over a record made by a naming look-up, which still holds a state.
  thread_profile_t* named = other(0x2000);
  __PROF_define_PTID_to_ThreadInfo_mapping(0x2000, 4712);
  EXPECT_EQ(other(0x2000), named);
  EXPECT_EQ(named->thread_id, 4712u);
  EXPECT_EQ(named->prof_state->ThreadProfile, named);

  __PROF_define_PTID_to_ThreadInfo_mapping(0x3000, 4713);
  EXPECT_EQ(__PROF_get_number_of_profiles(), 3u);
  EXPECT_EQ(other(0x3000)->thread_id, 4713u);
}

TEST_F(ThreadTable, RemovalNeedsTheRecordsCurrentNumber) {
  thread_profile_t* p = other(0x1000);
  const uint32_t number = p->thread_id;
  __PROF_remove_PTID_to_ThreadInfo_mapping(0x1000, number + 1);  // a newer thread's mapping
  EXPECT_EQ(__PROF_get_number_of_profiles(), 1u);
  EXPECT_EQ(other(0x1000), p);
  __PROF_remove_PTID_to_ThreadInfo_mapping(0x9999, number);  // not mapped at all
  EXPECT_EQ(__PROF_get_number_of_profiles(), 1u);

  __PROF_remove_PTID_to_ThreadInfo_mapping(0x1000, number);
  EXPECT_EQ(__PROF_get_number_of_profiles(), 0u);
  EXPECT_GT(other(0x1000)->thread_id, number);  // a fresh record
}

TEST_F(ThreadTable, CopyingMappingsFillsAtMostCountSlotsAndReturnsTheTotal) {
  EXPECT_EQ(__PROF_get_all_PTID_to_ThreadInfo_mappings(nullptr, 0), 0u);
  std::map<pthread_t, thread_profile_t*> made;
  for (pthread_t h : {0x5000, 0x1000, 0x3000, 0x2000, 0x4000}) made[h] = other(h);

  const PtidToThreadInfoMapping untouched{0xABCD, nullptr};
  std::vector<PtidToThreadInfoMapping> slots(4, untouched);
  EXPECT_EQ(__PROF_get_all_PTID_to_ThreadInfo_mappings(slots.data(), 2), 5u);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(made.count(slots[i].ptid), 1u);
    EXPECT_EQ(slots[i].thread_info, made[slots[i].ptid]);
  }
  EXPECT_NE(slots[0].ptid, slots[1].ptid);
  for (int i = 2; i < 4; ++i) EXPECT_EQ(slots[i].ptid, untouched.ptid);

  EXPECT_EQ(__PROF_get_all_PTID_to_ThreadInfo_mappings(slots.data(), 0), 5u);
  EXPECT_EQ(slots[2].ptid, untouched.ptid);

  std::vector<PtidToThreadInfoMapping> all(5);
  EXPECT_EQ(__PROF_get_all_PTID_to_ThreadInfo_mappings(all.data(), 5), 5u);
  std::set<pthread_t> keys;
  for (const auto& m : all) keys.insert(m.ptid);
  EXPECT_EQ(keys.size(), 5u);
}

TEST_F(ThreadTable, TheCountAlwaysMatchesTheEntriesAVisitMeets) {
  std::mt19937 random(20240611);
  std::map<pthread_t, uint32_t> model;  // handle -> number
  uint32_t given = 100000;
  for (int step = 0; step < 2000; ++step) {
    const pthread_t h = 0x1000 + 0x10 * (random() % 64);
    switch (random() % 4) {
      case 0:
        model[h] = other(h)->thread_id;
        break;
      case 1:
        __PROF_define_PTID_to_ThreadInfo_mapping(h, ++given);
        model[h] = given;
        break;
      default:
        if (model.count(h) != 0) {
          __PROF_remove_PTID_to_ThreadInfo_mapping(h, model[h]);
          model.erase(h);
        }
    }
    ASSERT_EQ(__PROF_get_number_of_profiles(), model.size()) << "step " << step;
    ASSERT_EQ(visits(), model.size()) << "step " << step;
  }
  std::vector<PtidToThreadInfoMapping> all(model.size());
  __PROF_get_all_PTID_to_ThreadInfo_mappings(all.data(), static_cast<uint32_t>(all.size()));
  for (const auto& m : all) EXPECT_EQ(m.thread_info->thread_id, model[m.ptid]);
}

}  // namespace
