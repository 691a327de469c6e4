// Two workers count in loops of calls; a third stores through a null pointer
// once both have counted past a mark, while main waits for it to end.
#include <pthread.h>
#include <stdio.h>

volatile long countA;
volatile long countB;

void step(volatile long* count) { *count = *count + 1; }

void* spin(void* arg) {
  volatile long* count = arg;
  for (;;) step(count);
  return NULL;
}

void* faulty(void* arg) {
  int* volatile target = arg;
  while (countA < 1000 || countB < 1000) {
  }
  *target = 1;
  return NULL;
}

int main(void) {
  pthread_t a, b, c;
  pthread_create(&a, NULL, spin, (void*)&countA);
  pthread_create(&b, NULL, spin, (void*)&countB);
  pthread_create(&c, NULL, faulty, NULL);
  pthread_join(c, NULL);
  return 0;
}
