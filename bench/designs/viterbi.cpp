// A Viterbi decoder written as an HLS kernel: the most likely state sequence
// of a hidden Markov model for a sequence of observed symbols, in the
// negative-log domain (costs add, the cheapest path wins), with a full
// trellis of costs and back-pointers in local memories and a backtrack at
// the end. The test bench builds a model and argv[1] (default 4) observation
// sequences sampled from it, decodes each and prints how many decoded
// states match the ones that produced the sequence.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kStates = 32;
constexpr int kSymbols = 32;
constexpr int kSteps = 96;

struct Model {
  double start[kStates];                // -log P(first state)
  double transition[kStates * kStates];  // -log P(next | previous), row = previous
  double emission[kStates * kSymbols];   // -log P(symbol | state)
};

// The design's top function.
void viterbi(const Model* m, const uint8_t observed[kSteps], uint8_t path[kSteps]) {
  double cost[kSteps][kStates];
  uint8_t from[kSteps][kStates];
  for (int s = 0; s < kStates; ++s) cost[0][s] = m->start[s] + m->emission[s * kSymbols + observed[0]];
  for (int t = 1; t < kSteps; ++t) {
    for (int s = 0; s < kStates; ++s) {
      double best = cost[t - 1][0] + m->transition[s];
      int bestPrev = 0;
      for (int p = 1; p < kStates; ++p) {
        const double c = cost[t - 1][p] + m->transition[p * kStates + s];
        if (c < best) {
          best = c;
          bestPrev = p;
        }
      }
      cost[t][s] = best + m->emission[s * kSymbols + observed[t]];
      from[t][s] = static_cast<uint8_t>(bestPrev);
    }
  }
  int last = 0;
  for (int s = 1; s < kStates; ++s)
    if (cost[kSteps - 1][s] < cost[kSteps - 1][last]) last = s;
  path[kSteps - 1] = static_cast<uint8_t>(last);
  for (int t = kSteps - 1; t > 0; --t) path[t - 1] = from[t][path[t]];
}

uint32_t lcgState = 2024;
uint32_t next() {
  lcgState = lcgState * 1664525u + 1013904223u;
  return lcgState >> 8;
}
double uniform() { return (next() + 0.5) / static_cast<double>(1u << 24); }

// Row of n probabilities, one of them dominant, as costs.
void costRow(double* row, int n, int favourite) {
  double p[kStates > kSymbols ? kStates : kSymbols];
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    p[i] = uniform() + (i == favourite ? 2.0 * n : 0.0);
    sum += p[i];
  }
  for (int i = 0; i < n; ++i) row[i] = -std::log(p[i] / sum);
}

// Draws index i with probability exp(-row[i]).
int draw(const double* row, int n) {
  double u = uniform();
  for (int i = 0; i < n - 1; ++i) {
    u -= std::exp(-row[i]);
    if (u < 0) return i;
  }
  return n - 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int sequences = argc > 1 ? atoi(argv[1]) : 4;
  static Model m;
  costRow(m.start, kStates, 0);
  for (int s = 0; s < kStates; ++s) {
    costRow(m.transition + s * kStates, kStates, (s + 1) % kStates);
    costRow(m.emission + s * kSymbols, kSymbols, (s * 7) % kSymbols);
  }
  for (int q = 0; q < sequences; ++q) {
    uint8_t states[kSteps], observed[kSteps], path[kSteps];
    int state = draw(m.start, kStates);
    for (int t = 0; t < kSteps; ++t) {
      if (t > 0) state = draw(m.transition + state * kStates, kStates);
      states[t] = static_cast<uint8_t>(state);
      observed[t] = static_cast<uint8_t>(draw(m.emission + state * kSymbols, kSymbols));
    }
    viterbi(&m, observed, path);
    int match = 0;
    unsigned checksum = 0;
    for (int t = 0; t < kSteps; ++t) {
      match += path[t] == states[t];
      checksum = checksum * 31 + path[t];
    }
    printf("sequence %d: %d of %d states recovered, path checksum %08x\n", q + 1, match, kSteps, checksum);
  }
  return 0;
}
