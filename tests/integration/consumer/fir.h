/* A three-tap filter that passes its samples through a FIFO stream. */
#ifndef FIR_H
#define FIR_H

int fir(const int* samples, int count, int* out);

#endif
