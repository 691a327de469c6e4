// Function events and call brackets as inserted into the optimised code.
#include <setjmp.h>

void sink(int*);
int produce(int);
jmp_buf env;

// The unit's records go to the section the registration library walks.
// CHECK: @__prof_function_records = internal global {{.*}} section "prof_function_records", align 8
// CHECK: @llvm.used = appending global {{.*}}@__prof_function_records

// No two slots share bytes: the test checks that no lifetime marker is left.
// The start hook gets the first stack slot as frame address; the slots are
// registered only when it asks for them.
// CHECK-LABEL: define {{.*}}@_Z5callsiPFiiE(
// CHECK: %local = alloca [4 x i32]
// CHECK: store i32 0, i32* %prof.frame
// CHECK: [[FRESH:%[0-9]+]] = call i32 @__PROF_FNProcessFunctionStart(i64 ptrtoint ({{.*}}@_Z5callsiPFiiE to i64), i64 {{%[0-9]+}}, i32* %prof.frame)
// CHECK: icmp ne i32 [[FRESH]], 0
// CHECK: call void @__PROF_LSInitLocalInfo(i32 1, i32 1,
// CHECK: %prof.caller = load i32
// Every call is bracketed, with a record, the callee and the caller's id.
// CHECK: call void @__PROF_FNProcessFunctionEntry(i8 1, i64 ptrtoint ({{.*}}@_Z4sinkPi to i64), i32 %prof.caller)
// CHECK-NEXT: call void @_Z4sinkPi(
// CHECK-NEXT: call void @__PROF_FNProcessFunctionExit()
// An invoke closes its bracket on its normal edge, in a block of its own
// when the target has other predecessors.
// CHECK: call void @__PROF_FNProcessFunctionEntry(i8 1, i64 ptrtoint ({{.*}}@_Z7producei to i64)
// CHECK-NEXT: invoke {{.*}}@_Z7producei(
// CHECK-NEXT: to label %prof.ret unwind label %lpad
// A landing pad returns the virtual stack to this frame, unless the start
// ran suspended (frame id 0).
// CHECK: landingpad
// CHECK: [[ID:%[0-9]+]] = load i32, i32* %prof.frame
// CHECK: icmp ne i32 [[ID]], 0
// CHECK: call void @__PROF_FNProcessFunctionUnwind(i32 [[ID]], i32 1)
// CHECK: prof.ret:
// CHECK-NEXT: call void @__PROF_FNProcessFunctionExit()
// setjmp is not bracketed; its second return unwinds to this frame.
// CHECK-NOT: @__PROF_FNProcessFunctionEntry({{.*}}@_setjmp
// CHECK: [[JMP:%.*]] = call i32 @_setjmp(
// CHECK-NEXT: [[AGAIN:%[0-9]+]] = icmp ne i32 [[JMP]], 0
// CHECK: and i1 {{%[0-9]+}}, [[AGAIN]]
// CHECK: call void @__PROF_FNProcessFunctionUnwind(i32 {{%[0-9]+}}, i32 2)
// A call through a pointer names the pointer's target.
// CHECK: [[TARGET:%[0-9]+]] = ptrtoint i32 (i32)* %fp to i64
// CHECK-NEXT: call void @__PROF_FNProcessFunctionEntry(i8 1, i64 [[TARGET]], i32 %prof.caller)
// CHECK: call void @__PROF_UpdateRetBBCount()
// CHECK-NEXT: ret i32
int calls(int n, int (*fp)(int)) {
  int local[4];
  sink(local);
  int r = 0;
  try {
    r = produce(n);
  } catch (...) {
    r = -1;
  }
  if (setjmp(env) != 0) return 1;
  return r + fp(n);
}
