/* Start-up step that raises the soft stack limit of the simulation process
 * so that designs with large local arrays do not overflow the stack. The
 * start-up stub places it into the initialiser array after the profiler's
 * own constructor; it is not a constructor itself. Compiles as C and C++. */
#ifndef HLS_SET_STACK_SIZE_H
#define HLS_SET_STACK_SIZE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the soft RLIMIT_STACK to 1 GiB, or to the hard limit when that is
 * lower; never stops the process, every problem is a warning on stderr. */
__attribute__((visibility("default"))) void nuqSetMaxStackSize(void);

#ifdef __cplusplus
}
#endif

#endif
