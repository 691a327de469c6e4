// Says it is waiting, then waits on a condition nobody signals.
#include <pthread.h>
#include <stdio.h>

pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t wake = PTHREAD_COND_INITIALIZER;
int done;

int main(void) {
  fputs("waiting\n", stderr);
  pthread_mutex_lock(&lock);
  while (!done) pthread_cond_wait(&wake, &lock);
  pthread_mutex_unlock(&lock);
  return 0;
}
