/* A test bench whose check fails three calls deep and ends the program
 * with exit() while a second thread still waits: the main thread's trace
 * ends with its frames open under the exit call, the waiting thread's with
 * its frames open wherever it was. */
#include <pthread.h>
#include <sched.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static atomic_int gWaiting;

static void* waiter(void* unused) {
  (void)unused;
  atomic_store(&gWaiting, 1);
  for (;;) pause();
  return NULL;
}

static void check(int value) {
  if (value != 42) {
    printf("check failed: %d\n", value);
    exit(3);
  }
}

static void verify(int value) { check(value + 1); }

int main(void) {
  pthread_t thread;
  pthread_create(&thread, NULL, waiter, NULL);
  while (atomic_load(&gWaiting) == 0) sched_yield();
  verify(40);
  return 0;
}
