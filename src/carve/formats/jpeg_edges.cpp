#include "carve/formats/jpeg_edges.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace kestrel {
namespace {

// basis[f][x] = C(f) cos((2x + 1) f pi / 16) / 2, with C(0) = 1 / sqrt(2): the inverse DCT is
// sample(x, y) = sum over u, v of basis[u][x] basis[v][y] F(u, v).
using Basis = std::array<std::array<double, 8>, 8>;

const Basis& CosineBasis() {
  static const Basis basis = [] {
    Basis b{};
    for (int f = 0; f < 8; ++f) {
      const double scale = f == 0 ? 1 / std::numbers::sqrt2 : 1.0;
      for (int x = 0; x < 8; ++x) {
        b[f][x] = scale * std::cos((2 * x + 1) * f * std::numbers::pi / 16) / 2;
      }
    }
    return b;
  }();
  return basis;
}

int16_t Sample(double value) {
  return static_cast<int16_t>(std::clamp(std::lround(value + 128), -32768L, 32767L));
}

}  // namespace

void BlockEdges(const int32_t* coefficients, int16_t* top, int16_t* bottom) {
  // Most blocks of smooth areas carry their DC value alone: every sample is its mean.
  if (std::all_of(coefficients + 1, coefficients + 64, [](int32_t f) { return f == 0; })) {
    const int16_t flat = Sample(coefficients[0] / 8.0);
    std::fill(top, top + 8, flat);
    std::fill(bottom, bottom + 8, flat);
    return;
  }
  const Basis& basis = CosineBasis();
  // Per horizontal frequency u, the vertical transform taken at the first and the last row.
  std::array<double, 8> at_top{}, at_bottom{};
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      const int32_t f = coefficients[v * 8 + u];
      if (f == 0) continue;
      at_top[u] += basis[v][0] * f;
      at_bottom[u] += basis[v][7] * f;
    }
  }
  for (int x = 0; x < 8; ++x) {
    double t = 0, b = 0;
    for (int u = 0; u < 8; ++u) {
      t += basis[u][x] * at_top[u];
      b += basis[u][x] * at_bottom[u];
    }
    top[x] = Sample(t);
    bottom[x] = Sample(b);
  }
}

}  // namespace kestrel
