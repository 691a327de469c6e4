#include "scale.h"

void scale(std::vector<int>& v, std::size_t begin, std::size_t end, int factor) {
  for (std::size_t i = begin; i < end; ++i) v[i] *= factor;
}
