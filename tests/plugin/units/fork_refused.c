/* A design that tries to start a second process. */
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

int main(void) {
  printf("before\n");
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, NULL, 0);
  printf("after\n");
  return 0;
}
