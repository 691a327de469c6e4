// Thread creation, join and naming as the wrappers of prof/Wrappers.h run
// them: a new thread's number is taken and its profile defined by the
// creating thread before the new thread runs user code.
#pragma once

#include <pthread.h>

int __PROF_handle_pthread_create(pthread_t* newthread, const pthread_attr_t* attr, void* (*start_routine)(void*),
                                 void* arg);
int __PROF_handle_pthread_join(pthread_t thread, void** retval);
// Writes the untagged thread-name values into the calling thread's trace.
void __PROF_handle_pthread_setname_np(pthread_t thread, const char* name);
// Start routine of every thread made through the wrapper.
extern "C" void* __PROF_pthread_create_wrapper_task(void* argv);
