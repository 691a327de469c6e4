// A C++ design: scales part of a vector.
#pragma once

#include <cstddef>
#include <vector>

void scale(std::vector<int>& v, std::size_t begin, std::size_t end, int factor);
