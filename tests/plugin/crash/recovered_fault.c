// Its own SIGSEGV handler leaves a null store by a non-local jump; the run
// then ends normally.
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

sigjmp_buf resume;

void onFault(int sig) { siglongjmp(resume, sig); }

int main(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = onFault;
  sigaction(SIGSEGV, &action, NULL);
  int* volatile target = NULL;
  if (sigsetjmp(resume, 1) == 0) *target = 1;
  puts("recovered");
  return 0;
}
