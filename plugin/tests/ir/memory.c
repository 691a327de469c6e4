/* Accesses, interposition, memory intrinsics and the dynamic stack as
 * inserted into the optimised code. */
#include <stdlib.h>
#include <string.h>

struct Big {
  long v[8];
};
void sink(void*);
int gTotal;

/* CHECK-LABEL: define {{.*}}@memory(
   A by-value argument lives in a scope of its own.
   CHECK: call i32 @__PROF_FNProcessFunctionStart(
   CHECK-NEXT: call void @__PROF_LSInitByvalScope()
   CHECK: call void @__PROF_LSInitByval(i32 {{%[0-9]+}}, i64 {{%[0-9]+}}, i64 64)
   A wrapped call goes to the wrapper inside the bracket of the function it
   replaces.
   CHECK: call void @__PROF_FNProcessFunctionEntry(i8 1, i64 ptrtoint (i8* (i64)* @malloc to i64)
   CHECK-NEXT: %call = call {{.*}}@__PROF_Malloc(i64 noundef 64)
   CHECK-NEXT: call void @__PROF_FNProcessFunctionExit()
   A copy reports both blocks inside the bracket of memcpy.
   CHECK: call void @__PROF_FNProcessFunctionEntry(i8 1, i64 ptrtoint ({{.*}}@memcpy to i64)
   CHECK-NEXT: call void @llvm.memcpy
   CHECK-NEXT: call void @__PROF_LSBlock(i8* %call, i64 64)
   CHECK-NEXT: call void @__PROF_LSBlock(i8* {{%[0-9]+}}, i64 64)
   CHECK-NEXT: call void @__PROF_FNProcessFunctionExit()
   CHECK: call void @__PROF_Free(
   The return block comes first in the optimised code.
   CHECK: call void @__PROF_UpdateRetBBCount()
   CHECK-NEXT: ret i64
   Variable-length arrays: a scope per stack save, the array registered
   with its run-time size.
   CHECK: call i8* @llvm.stacksave()
   CHECK-NEXT: call void @__PROF_LSStackSave()
   CHECK-NEXT: %vla = alloca i32, i64 [[N:%[0-9]+]]
   CHECK-NEXT: [[SIZE:%[0-9]+]] = mul i64 [[N]], 4
   CHECK: call void @__PROF_LSInitVla(i32 {{%[0-9]+}}, i64 {{%[0-9]+}}, i64 [[SIZE]])
   Every load and store that is left is reported first.
   CHECK: call void @__PROF_LSVariable(i8* bitcast (i32* @gTotal to i8*))
   CHECK-NEXT: load i32, i32* @gTotal
   CHECK: call void @__PROF_LSVariable(i8* bitcast (i32* @gTotal to i8*))
   CHECK-NEXT: store i32 {{.*}}, i32* @gTotal
   CHECK: call void @llvm.stackrestore(
   CHECK-NEXT: call void @__PROF_LSStackRestore()
   */
long memory(struct Big b, int n) {
  char* p = malloc(64);
  memcpy(p, &b, sizeof b);
  sink(p);
  free(p);
  for (int round = 0; round < n; ++round) {
    int vla[n];
    sink(vla);
    gTotal += vla[0];
  }
  return b.v[n & 7];
}
