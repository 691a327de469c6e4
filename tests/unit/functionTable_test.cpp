// Tests of the function table: linked ids across binaries, reserved ids,
// addresses registered twice or as 0, the catch-all record, and the lines
// of "functionMapping".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Functions.h"
#include "globals.h"

namespace {

// A table of its own per test, with the mapping lines captured in memory.
class FunctionTable : public ::testing::Test {
 protected:
  void SetUp() override {
    fns_ = __PROF_Functions_new();
    mapping_ = open_memstream(&text_, &size_);
  }
  void TearDown() override {
    fclose(mapping_);
    free(text_);
    __PROF_TableDelete(&fns_->T, [](void* f) { __PROF_Function_delete(static_cast<Function*>(f)); });
    free(fns_);
  }

  uint32_t add(const char* binary, uint32_t staticId, uint64_t address) {
    return __PROF_RegisterFunction(mapping_, fns_, binary, staticId, address);
  }
  std::string lines() {
    fflush(mapping_);
    return std::string(text_, size_);
  }
  const Function* find(uint64_t address) const { return __PROF_Functions_find(fns_, address); }
  uint64_t records() const { return __PROF_TableSize(&fns_->T); }

  // Registers static ids 200..205 of app_0, as this application does.
  void registerSix() {
    for (uint32_t i = 0; i < 6; ++i) add("app_0", 200 + i, 0x401000 + 0x40 * i);
  }

  Functions* fns_ = nullptr;
  FILE* mapping_ = nullptr;
  char* text_ = nullptr;
  size_t size_ = 0;
};

TEST_F(FunctionTable, OneBinaryGetsItsStaticIdsAndOneLinePerFunction) {
  registerSix();
  EXPECT_EQ(lines(),
            "200 app_0 200\n201 app_0 201\n202 app_0 202\n203 app_0 203\n204 app_0 204\n205 app_0 205\n");
  EXPECT_EQ(fns_->nextAvailableId, 206u);
  EXPECT_EQ(records(), 7u);  // six and the catch-all
  for (uint32_t i = 0; i < 6; ++i) {
    const Function* f = find(0x401000 + 0x40 * i);
    EXPECT_EQ(f->Id, 200 + i);
    EXPECT_EQ(f->Address, 0x401000 + 0x40 * i);
  }
}

TEST_F(FunctionTable, ASecondBinaryContinuesAfterTheFirst) {
  registerSix();
  EXPECT_EQ(add("lib_1", 200, 0x7f0000001000), 206u);
  EXPECT_EQ(add("lib_1", 201, 0x7f0000002000), 207u);
  EXPECT_EQ(lines().substr(6 * 14), "200 lib_1 206\n201 lib_1 207\n");
  EXPECT_EQ(find(0x7f0000002000)->Id, 207u);
}

TEST_F(FunctionTable, AKnownAddressKeepsItsRecordAndId) {
  registerSix();
  const Function* first = find(0x401040);
  // A second binary calling the same function through the same address.
  EXPECT_EQ(add("lib_1", 200, 0x401040), 201u);
  EXPECT_EQ(fns_->nextAvailableId, 206u);
  EXPECT_EQ(records(), 7u);
  EXPECT_EQ(find(0x401040), first);
  EXPECT_EQ(add("lib_1", 201, 0x7f0000001000), 206u);
  EXPECT_EQ(lines().substr(6 * 14), "200 lib_1 201\n201 lib_1 206\n");
}

TEST_F(FunctionTable, ReservedIdsAreTheSameInEveryBinary) {
  EXPECT_EQ(add("app_0", 12, 0x500000), 12u);
  EXPECT_EQ(add("lib_1", 12, 0x7f0000005000), 12u);
  EXPECT_EQ(fns_->nextAvailableId, 200u);  // reserved ids consume nothing
  EXPECT_EQ(add("app_0", 200, 0x401000), 200u);
  EXPECT_EQ(find(0x500000)->Id, 12u);
  EXPECT_EQ(find(0x7f0000005000)->Id, 12u);
  EXPECT_EQ(lines(), "12 app_0 12\n12 lib_1 12\n200 app_0 200\n");
}

TEST_F(FunctionTable, AddressZeroConsumesAnIdButMakesNoRecord) {
  EXPECT_EQ(add("app_0", 200, 0), 200u);
  EXPECT_EQ(fns_->nextAvailableId, 201u);
  EXPECT_EQ(records(), 1u);
  EXPECT_EQ(find(0)->Id, 0u);  // still the catch-all
  EXPECT_EQ(add("app_0", 201, 0x401000), 201u);
  EXPECT_EQ(lines(), "200 app_0 200\n201 app_0 201\n");
}

TEST_F(FunctionTable, AnUnregisteredAddressYieldsTheCatchAll) {
  registerSix();
  const Function* unknown = find(0xDEAD0000);
  EXPECT_EQ(unknown->Id, 0u);
  EXPECT_EQ(unknown->Address, 0u);
  EXPECT_EQ(find(0x401001), unknown);  // one byte past a registered entry
}

TEST(FunctionTableHook, TheFirstRegistrationCreatesTheProcessTable) {
  ASSERT_EQ(__PROF_FunctionTable, nullptr);
  ASSERT_EQ(__PROF_FunctionMappingFd, nullptr);  // no run directory: no lines
  __PROF_FNInitializeFuncStruct(200, 0x401000, "app_0");
  __PROF_FNInitializeFuncStruct(201, 0x401040, "app_0");
  ASSERT_NE(__PROF_FunctionTable, nullptr);
  EXPECT_EQ(__PROF_Functions_find(__PROF_FunctionTable, 0x401040)->Id, 201u);
  EXPECT_EQ(__PROF_Functions_find(__PROF_FunctionTable, 0x1)->Id, 0u);
}

}  // namespace
