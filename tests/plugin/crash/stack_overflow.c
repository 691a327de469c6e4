// Unbounded recursion with a large local array overflows the stack.
int deep(int level) {
  volatile char big[1 << 20];
  big[0] = (char)level;
  return level < 0 ? 0 : deep(level + 1) + big[0];
}

int main(void) { return deep(1); }
