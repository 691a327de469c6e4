/* Ids of the probe's functions and variables. */
#pragma once

enum { kMainId = 200, kAccumulateId, kPrintfId };
enum { kTotalVar = 1, kWindowVar };

extern int gTotal;
int main(void);
int accumulate(int value);
