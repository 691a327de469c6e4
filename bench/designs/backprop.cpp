// Training of a small multi-layer perceptron by back-propagation, written as
// an HLS kernel: fixed layer sizes, flat weight arrays, one function per
// pipeline stage (layer product, activation, error terms, weight update) and
// a top function that runs one epoch of stochastic gradient descent over
// the training set. The test bench builds a synthetic classification task,
// trains for argv[1] epochs (default 3) and prints the error after each.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kInputs = 16;
constexpr int kHidden = 40;
constexpr int kOutputs = 4;
constexpr int kSamples = 96;

struct Network {
  double w1[kInputs * kHidden];
  double b1[kHidden];
  double w2[kHidden * kHidden];
  double b2[kHidden];
  double w3[kHidden * kOutputs];
  double b3[kOutputs];
};

// out[j] = b[j] + sum_i in[i] * w[i * nOut + j]
void layerForward(const double* w, const double* b, const double* in, double* out, int nIn, int nOut) {
  for (int j = 0; j < nOut; ++j) {
    double sum = b[j];
    for (int i = 0; i < nIn; ++i) sum += in[i] * w[i * nOut + j];
    out[j] = sum;
  }
}

// Logistic activation in place, with its derivative for the backward pass.
void activate(double* x, double* slope, int n) {
  for (int i = 0; i < n; ++i) {
    const double y = 1.0 / (1.0 + std::exp(-x[i]));
    x[i] = y;
    slope[i] = y * (1.0 - y);
  }
}

// Error terms of the output layer; returns the sample's squared error.
double outputDelta(const double* out, const double* target, const double* slope, double* delta) {
  double squared = 0;
  for (int k = 0; k < kOutputs; ++k) {
    const double e = out[k] - target[k];
    squared += e * e;
    delta[k] = e * slope[k];
  }
  return squared;
}

// delta[i] = slope[i] * sum_j w[i * nNext + j] * deltaNext[j]
void hiddenDelta(const double* w, const double* deltaNext, const double* slope, double* delta, int nThis,
                 int nNext) {
  for (int i = 0; i < nThis; ++i) {
    double sum = 0;
    for (int j = 0; j < nNext; ++j) sum += w[i * nNext + j] * deltaNext[j];
    delta[i] = sum * slope[i];
  }
}

void updateWeights(double* w, double* b, const double* delta, const double* in, int nIn, int nOut, double rate) {
  for (int i = 0; i < nIn; ++i)
    for (int j = 0; j < nOut; ++j) w[i * nOut + j] -= rate * in[i] * delta[j];
  for (int j = 0; j < nOut; ++j) b[j] -= rate * delta[j];
}

// The design's top function: one epoch over the training set; returns the
// mean squared error seen during the epoch.
double trainEpoch(Network* net, const double inputs[kSamples * kInputs], const double targets[kSamples * kOutputs],
                  double rate) {
  double h1[kHidden], h2[kHidden], out[kOutputs];
  double s1[kHidden], s2[kHidden], s3[kOutputs];
  double d1[kHidden], d2[kHidden], d3[kOutputs];
  double total = 0;
  for (int s = 0; s < kSamples; ++s) {
    const double* x = inputs + s * kInputs;
    layerForward(net->w1, net->b1, x, h1, kInputs, kHidden);
    activate(h1, s1, kHidden);
    layerForward(net->w2, net->b2, h1, h2, kHidden, kHidden);
    activate(h2, s2, kHidden);
    layerForward(net->w3, net->b3, h2, out, kHidden, kOutputs);
    activate(out, s3, kOutputs);
    total += outputDelta(out, targets + s * kOutputs, s3, d3);
    hiddenDelta(net->w3, d3, s2, d2, kHidden, kOutputs);
    hiddenDelta(net->w2, d2, s1, d1, kHidden, kHidden);
    updateWeights(net->w3, net->b3, d3, h2, kHidden, kOutputs, rate);
    updateWeights(net->w2, net->b2, d2, h1, kHidden, kHidden, rate);
    updateWeights(net->w1, net->b1, d1, x, kInputs, kHidden, rate);
  }
  return total / kSamples;
}

// Deterministic values in [-1, 1).
uint32_t lcgState = 12345;
double uniform() {
  lcgState = lcgState * 1664525u + 1013904223u;
  return static_cast<double>(lcgState >> 8) / static_cast<double>(1u << 23) - 1.0;
}

void fill(double* v, int n, double scale) {
  for (int i = 0; i < n; ++i) v[i] = uniform() * scale;
}

}  // namespace

int main(int argc, char** argv) {
  const int epochs = argc > 1 ? atoi(argv[1]) : 3;
  static Network net;
  fill(net.w1, kInputs * kHidden, 0.5);
  fill(net.b1, kHidden, 0.1);
  fill(net.w2, kHidden * kHidden, 0.3);
  fill(net.b2, kHidden, 0.1);
  fill(net.w3, kHidden * kOutputs, 0.3);
  fill(net.b3, kOutputs, 0.1);
  static double inputs[kSamples * kInputs];
  static double targets[kSamples * kOutputs];
  fill(inputs, kSamples * kInputs, 1.0);
  // The class of a sample is the quarter of the input vector with the
  // largest sum: a task the network can learn.
  for (int s = 0; s < kSamples; ++s) {
    int best = 0;
    double bestSum = -1e9;
    for (int q = 0; q < kOutputs; ++q) {
      double sum = 0;
      for (int i = 0; i < kInputs / kOutputs; ++i) sum += inputs[s * kInputs + q * (kInputs / kOutputs) + i];
      if (sum > bestSum) {
        bestSum = sum;
        best = q;
      }
    }
    for (int q = 0; q < kOutputs; ++q) targets[s * kOutputs + q] = q == best ? 0.9 : 0.1;
  }
  for (int e = 0; e < epochs; ++e) printf("epoch %d: mean squared error %.6f\n", e + 1, trainEpoch(&net, inputs, targets, 0.5));
  return 0;
}
