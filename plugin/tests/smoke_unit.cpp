// Second unit of the smoke program, linked after the unit that calls it:
// its function is recorded there first, as a callee, and here with its
// locals.
void copyInto(int* to, const int* from, int n);

int windowSum(const int* v) {
  int window[4];
  copyInto(window, v, 4);
  return window[0] + window[3];
}
