// SPDX-License-Identifier: GPL-3.0-or-later
#include "AutoThreshold.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

// Each method gives the t that ImageJ 1.54's AutoThresholder gives, so users can check our numbers
// against ImageJ's. Its sums are exact integers here (64-bit, where ImageJ's int sums overflow on
// large pictures), and its floating-point steps are taken in the same order, so that near ties
// fall the same way. This file is built without contracting a * b + c into one rounding.

namespace {

constexpr int kLevels = THistogram::Levels;
constexpr int kTop = kLevels - 1;
// ImageJ's "exactly zero" for cumulative sums: Java's DBL_EPSILON.
constexpr double kEpsilon = 2.220446049250313e-16;
// Java's Double.MIN_VALUE, the smallest positive double, where ImageJ starts its maximum searches.
constexpr double kJavaMinValue = std::numeric_limits<double>::denorm_min();
// Some of ImageJ's iterations carry no bound; past this many rounds ImageJ would never return.
constexpr int kRoundsImageJNeverEnds = 100000;

using Counts = THistogram::Counts;
using Doubles = std::array<double, kLevels>;
// A method's t as ImageJ's code computes it: -1 where the method finds none, none where ImageJ
// throws or never returns.
using Found = std::optional<int>;

// Java's (int) of a double: NaN gives 0, the ends of the range saturate.
int JavaInt(double x) {
  if (std::isnan(x))
    return 0;
  if (x >= 2147483647.0)
    return INT_MAX;
  if (x <= -2147483648.0)
    return INT_MIN;
  return static_cast<int>(x);
}

// Java's Math.round for the non-negative values it rounds here.
int JavaRound(double x) {
  return JavaInt(std::floor(x + 0.5));
}

bool Occupied(const Counts& h, int v) {
  return h[v] != 0;
}

std::uint64_t Total(const Counts& h) {
  std::uint64_t total = 0;
  for (const std::uint64_t n : h)
    total += n;
  return total;
}

// The histogram as fractions, their running sum P1 and its complement P2, as the entropy methods
// see it, with the first and the last level where P1 and P2 are not zero.
struct Normalized {
  Doubles p{}, p1{}, p2{};
  int first = 0, last = kTop;

  explicit Normalized(const Counts& h) {
    const double total = static_cast<double>(Total(h));
    for (int v = 0; v < kLevels; ++v)
      p[v] = static_cast<double>(h[v]) / total;
    p1[0] = p[0];
    p2[0] = 1.0 - p1[0];
    for (int v = 1; v < kLevels; ++v) {
      p1[v] = p1[v - 1] + p[v];
      p2[v] = 1.0 - p1[v];
    }
    for (int v = 0; v < kLevels; ++v)
      if (!(std::fabs(p1[v]) < kEpsilon)) {
        first = v;
        break;
      }
    for (int v = kTop; v >= first; --v)
      if (!(std::fabs(p2[v]) < kEpsilon)) {
        last = v;
        break;
      }
  }
};

// Kapur, Sahoo and Wong's sum of the two classes' Shannon entropies when cut after `t`.
double KapurEntropy(const Counts& h, const Normalized& n, int t) {
  double back = 0.0;
  for (int v = 0; v <= t; ++v)
    if (Occupied(h, v))
      back -= (n.p[v] / n.p1[t]) * std::log(n.p[v] / n.p1[t]);
  double object = 0.0;
  for (int v = t + 1; v < kLevels; ++v)
    if (Occupied(h, v))
      object -= (n.p[v] / n.p2[t]) * std::log(n.p[v] / n.p2[t]);
  return back + object;
}

// Two strict local maxima and no more: the smoothing of Intermodes and Minimum stops there.
bool Bimodal(const Doubles& y) {
  int modes = 0;
  for (int k = 1; k < kTop; ++k)
    if (y[k - 1] < y[k] && y[k + 1] < y[k] && ++modes > 2)
      return false;
  return modes == 2;
}

Doubles AsDoubles(const Counts& h) {
  Doubles y{};
  for (int v = 0; v < kLevels; ++v)
    y[v] = static_cast<double>(h[v]);
  return y;
}

// ImageJ's original IsoData: levels 0 and 255 left out, a threshold moved up from the lowest
// level until it passes the mean of the two classes' means.
int IJIsoData(Counts h) {
  h[0] = 0;
  h[kTop] = 0;
  int min = 0;
  while (h[min] == 0 && min < kTop)
    ++min;
  int max = kTop;
  while (h[max] == 0 && max > 0)
    --max;
  if (min >= max)
    return kLevels / 2;
  int moving = min;
  double result = 0;
  do {
    std::uint64_t sum1 = 0, sum2 = 0, sum3 = 0, sum4 = 0;
    for (int v = min; v <= moving; ++v) {
      sum1 += v * h[v];
      sum2 += h[v];
    }
    for (int v = moving + 1; v <= max; ++v) {
      sum3 += v * h[v];
      sum4 += h[v];
    }
    result = (static_cast<double>(sum1) / static_cast<double>(sum2) +
              static_cast<double>(sum3) / static_cast<double>(sum4)) /
             2.0;
    ++moving;
  } while (moving + 1 <= result && moving < max - 1);
  return JavaRound(result);
}

// IJ_IsoData on the histogram with its tallest bin cut down to 1.5 times the second tallest, when
// it is more than twice as tall: a background level no longer outweighs the rest.
Found Default(const Counts& h) {
  Counts clipped = h;
  int mode = 0;
  std::uint64_t tallest = 0;
  for (int v = 0; v < kLevels; ++v)
    if (h[v] > tallest) {
      tallest = h[v];
      mode = v;
    }
  std::uint64_t second = 0;
  for (int v = 0; v < kLevels; ++v)
    if (h[v] > second && v != mode)
      second = h[v];
  if (tallest > second * 2 && second != 0)
    clipped[mode] = second + second / 2;  // ImageJ's (int)(second * 1.5)
  return IJIsoData(clipped);
}

// Huang and Wang: the cut whose classes are least fuzzy, fuzziness measured by Shannon's function
// of each level's membership to its class mean.
Found Huang(const Counts& h) {
  int first = 0;
  for (int v = 0; v < kLevels; ++v)
    if (Occupied(h, v)) {
      first = v;
      break;
    }
  int last = kTop;
  for (int v = kTop; v >= first; --v)
    if (Occupied(h, v)) {
      last = v;
      break;
    }
  const double term = 1.0 / static_cast<double>(last - first);
  Doubles below{}, above{};  // the mean of the levels at or below t, above t
  std::uint64_t sum = 0, count = 0;
  for (int v = first; v < kLevels; ++v) {
    sum += v * h[v];
    count += h[v];
    below[v] = static_cast<double>(sum) / static_cast<double>(count);
  }
  sum = count = 0;
  for (int v = last; v > 0; --v) {
    sum += v * h[v];
    count += h[v];
    above[v - 1] = static_cast<double>(sum) / static_cast<double>(count);
  }
  // Empty levels add nothing: their memberships are finite. With one level only (at 0), the
  // memberships are NaN and so is every sum, as in ImageJ.
  int occupied[kLevels];
  int n = 0;
  for (int v = 0; v < kLevels; ++v)
    if (Occupied(h, v))
      occupied[n++] = v;
  const auto fuzziness = [&](int v, double mean) {
    const double mu = 1.0 / (1.0 + term * std::fabs(v - mean));
    if (mu < 1e-06 || mu > 0.999999)
      return 0.0;
    return static_cast<double>(h[v]) * (-mu * std::log(mu) - (1.0 - mu) * std::log(1.0 - mu));
  };
  int threshold = -1;
  double least = std::numeric_limits<double>::max();
  for (int t = 0; t < kLevels; ++t) {
    double entropy = 0.0;
    for (int k = 0; k < n; ++k) {
      const int v = occupied[k];
      entropy += fuzziness(v, v <= t ? below[t] : above[t]);
    }
    if (entropy < least) {
      least = entropy;
      threshold = t;
    }
  }
  return threshold;
}

// Prewitt and Mendelsohn: the histogram smoothed by a running mean of three until two peaks are
// left; the threshold lies halfway between them. ImageJ gives up after 10000 smoothings.
Found Intermodes(const Counts& h) {
  Doubles y = AsDoubles(h);
  int rounds = 0;
  while (!Bimodal(y)) {
    // In place, each level from the old values of itself and its neighbours, zero outside.
    double previous = 0, current = 0, next = y[0];
    for (int v = 0; v < kTop; ++v) {
      previous = current;
      current = next;
      next = y[v + 1];
      y[v] = (previous + current + next) / 3;
    }
    y[kTop] = (current + next) / 3;
    if (++rounds > 10000)
      return -1;
  }
  int peaks = 0;
  for (int v = 1; v < kTop; ++v)
    if (y[v - 1] < y[v] && y[v + 1] < y[v])
      peaks += v;
  return peaks / 2;
}

// Ridler and Calvard: the level g that equals the mean of the means below and above it. ImageJ
// takes both means in integers and starts one above the first occupied level past 0.
Found IsoData(const Counts& h) {
  int g = 0;
  for (int v = 1; v < kLevels; ++v)
    if (Occupied(h, v)) {
      g = v + 1;
      break;
    }
  for (;;) {
    std::uint64_t low = 0, lowCount = 0, high = 0, highCount = 0;
    for (int v = 0; v < std::min(g, kLevels); ++v) {
      lowCount += h[v];
      low += h[v] * v;
    }
    for (int v = g + 1; v < kLevels; ++v) {
      highCount += h[v];
      high += h[v] * v;
    }
    if (lowCount > 0 && highCount > 0) {
      low /= lowCount;
      high /= highCount;
      if (g == JavaRound(static_cast<double>(low + high) / 2.0))
        break;
    }
    if (++g > kLevels - 2)
      return -1;
  }
  return g;
}

// Li and Tam's iteration towards the minimum cross entropy, from the mean, to within half a level.
Found Li(const Counts& h) {
  const std::uint64_t total = Total(h);
  std::uint64_t weighted = 0;
  for (int v = 0; v < kLevels; ++v)
    weighted += v * h[v];
  double next = static_cast<double>(weighted) / static_cast<double>(total);
  double previous = 0;
  int threshold = 0;
  int rounds = 0;
  do {
    if (++rounds > kRoundsImageJNeverEnds)
      return std::nullopt;
    previous = next;
    threshold = JavaInt(previous + 0.5);
    if (threshold > kTop)
      return std::nullopt;  // ImageJ reads past its histogram
    std::uint64_t backSum = 0, backCount = 0, objectSum = 0, objectCount = 0;
    for (int v = 0; v <= threshold; ++v) {
      backSum += v * h[v];
      backCount += h[v];
    }
    for (int v = std::max(threshold + 1, 0); v < kLevels; ++v) {
      objectSum += v * h[v];
      objectCount += h[v];
    }
    const double back =
        backCount == 0 ? 0.0 : static_cast<double>(backSum) / static_cast<double>(backCount);
    const double object =
        objectCount == 0 ? 0.0 : static_cast<double>(objectSum) / static_cast<double>(objectCount);
    const double t = (back - object) / (std::log(back) - std::log(object));
    next = t < -kEpsilon ? JavaInt(t - 0.5) : JavaInt(t + 0.5);
  } while (std::fabs(next - previous) > 0.5);
  return threshold;
}

// Kapur, Sahoo and Wong: the cut whose two classes together hold the most entropy.
Found MaxEntropy(const Counts& h) {
  const Normalized n(h);
  int threshold = -1;
  double most = kJavaMinValue;
  for (int t = n.first; t <= n.last; ++t) {
    const double entropy = KapurEntropy(h, n, t);
    if (most < entropy) {
      most = entropy;
      threshold = t;
    }
  }
  return threshold;
}

// Glasbey: the mean level, rounded down in integers.
Found Mean(const Counts& h) {
  std::uint64_t total = 0, sum = 0;
  for (int v = 0; v < kLevels; ++v) {
    total += h[v];
    sum += v * h[v];
  }
  return static_cast<int>(sum / total);
}

// Kittler and Illingworth's iteration from the mean: each class taken as a normal distribution,
// the next t where the two weighted densities meet.
Found MinError(const Counts& h) {
  // Running count, first and second moment, as ImageJ's A, B and C: 0 below level 0.
  std::array<double, kLevels> a{}, b{}, c{};
  std::uint64_t sa = 0, sb = 0, sc = 0;
  for (int v = 0; v < kLevels; ++v) {
    sa += h[v];
    sb += v * h[v];
    sc += static_cast<std::uint64_t>(v) * v * h[v];
    a[v] = static_cast<double>(sa);
    b[v] = static_cast<double>(sb);
    c[v] = static_cast<double>(sc);
  }
  const auto upTo = [](const std::array<double, kLevels>& s, int t) { return t < 0 ? 0.0 : s[t]; };
  const double an = a[kTop], bn = b[kTop], cn = c[kTop];
  int threshold = *Mean(h);
  int previous = -2;
  int rounds = 0;
  while (threshold != previous) {
    if (threshold > kTop)
      return std::nullopt;  // ImageJ reads past its histogram
    if (++rounds > kRoundsImageJNeverEnds)
      return std::nullopt;
    const double at = upTo(a, threshold), bt = upTo(b, threshold), ct = upTo(c, threshold);
    const double mu = bt / at;
    const double nu = (bn - bt) / (an - at);
    const double p = at / an;
    const double q = (an - at) / an;
    const double sigma2 = ct / at - (mu * mu);
    const double tau2 = (cn - ct) / (an - at) - (nu * nu);
    const double w0 = 1.0 / sigma2 - 1.0 / tau2;
    const double w1 = mu / sigma2 - nu / tau2;
    const double w2 =
        (mu * mu) / sigma2 - (nu * nu) / tau2 + std::log10((sigma2 * (q * q)) / (tau2 * (p * p)));
    const double root = (w1 * w1) - w0 * w2;
    if (root < 0)
      return threshold;  // the next one would be imaginary
    previous = threshold;
    const double next = (w1 + std::sqrt(root)) / w0;
    threshold = std::isnan(next) ? previous : JavaInt(std::floor(next));
  }
  return threshold;
}

// Prewitt and Mendelsohn again: smoothed until two peaks are left, the threshold is the first
// minimum between them (below the last occupied level). ImageJ gives up after 10000 smoothings.
Found Minimum(const Counts& h) {
  int max = -1;
  for (int v = 0; v < kLevels; ++v)
    if (Occupied(h, v))
      max = v;
  Doubles y = AsDoubles(h);
  Doubles smoothed{};
  int rounds = 0;
  while (!Bimodal(y)) {
    for (int v = 1; v < kTop; ++v)
      smoothed[v] = (y[v - 1] + y[v] + y[v + 1]) / 3;
    smoothed[0] = (y[0] + y[1]) / 3;
    smoothed[kTop] = (y[kTop - 1] + y[kTop]) / 3;
    y = smoothed;
    if (++rounds > 10000)
      return -1;
  }
  for (int v = 1; v < max; ++v)
    if (y[v - 1] > y[v] && y[v + 1] >= y[v])
      return v;
  return -1;
}

// Tsai: the two-level picture with the first three moments of this one; t is where the share of
// its dark level is reached.
Found Moments(const Counts& h) {
  const double total = static_cast<double>(Total(h));
  Doubles p{};
  for (int v = 0; v < kLevels; ++v)
    p[v] = static_cast<double>(h[v]) / total;
  const double m0 = 1.0;
  double m1 = 0.0, m2 = 0.0, m3 = 0.0;
  for (int v = 0; v < kLevels; ++v) {
    m1 += v * p[v];
    m2 += (v * v) * p[v];
    m3 += (v * v * v) * p[v];
  }
  const double cd = m0 * m2 - m1 * m1;
  const double c0 = (-m2 * m2 + m1 * m3) / cd;
  const double c1 = (m0 * -m3 + m2 * m1) / cd;
  const double z0 = 0.5 * (-c1 - std::sqrt(c1 * c1 - 4.0 * c0));
  const double z1 = 0.5 * (-c1 + std::sqrt(c1 * c1 - 4.0 * c0));
  const double p0 = (z1 - m1) / (z1 - z0);
  double sum = 0;
  for (int v = 0; v < kLevels; ++v) {
    sum += p[v];
    if (sum > p0)
      return v;
  }
  return -1;
}

// Otsu: the cut with the largest between-class variance, the first of equal ones. ImageJ starts
// from Integer.MIN_VALUE, which it returns when no cut has any variance.
Found Otsu(const Counts& h) {
  const double term = 1.0 / static_cast<double>(Total(h));
  Doubles p{}, cumulative{}, mean{};
  for (int v = 0; v < kLevels; ++v)
    p[v] = term * static_cast<double>(h[v]);
  cumulative[0] = p[0];
  for (int v = 1; v < kLevels; ++v)
    cumulative[v] = cumulative[v - 1] + p[v];
  mean[0] = 0.0;
  for (int v = 1; v < kLevels; ++v)
    mean[v] = mean[v - 1] + v * p[v];
  const double totalMean = mean[kTop];
  int threshold = INT_MIN;
  double most = 0.0;
  for (int v = 0; v < kLevels; ++v) {
    double bcv = totalMean * cumulative[v] - mean[v];
    bcv *= bcv / (cumulative[v] * (1.0 - cumulative[v]));
    if (most < bcv) {
      most = bcv;
      threshold = v;
    }
  }
  return threshold;
}

// Doyle: the level where the running share comes nearest to half, the first of equal ones.
Found Percentile(const Counts& h) {
  const double total = static_cast<double>(Total(h));
  int threshold = -1;
  double nearest = 1.0;
  std::uint64_t partial = 0;
  for (int v = 0; v < kLevels; ++v) {
    partial += h[v];
    const double distance = std::fabs(static_cast<double>(partial) / total - 0.5);
    if (distance < nearest) {
      nearest = distance;
      threshold = v;
    }
  }
  return threshold;
}

// Kapur, Sahoo and Wong with Rényi's entropies of orders 0.5, 1 and 2; the three cuts are
// weighed into one.
Found RenyiEntropy(const Counts& h) {
  const Normalized n(h);
  int star2 = 0;  // order 1: Shannon's
  double most = 0.0;
  for (int t = n.first; t <= n.last; ++t) {
    const double entropy = KapurEntropy(h, n, t);
    if (most < entropy) {
      most = entropy;
      star2 = t;
    }
  }
  const auto renyi = [&](double alpha) {
    const double term = 1.0 / (1.0 - alpha);
    int threshold = 0;
    double largest = 0.0;
    for (int t = n.first; t <= n.last; ++t) {
      double back = 0.0, object = 0.0;
      if (alpha == 0.5) {
        for (int v = 0; v <= t; ++v)
          back += std::sqrt(n.p[v] / n.p1[t]);
        for (int v = t + 1; v < kLevels; ++v)
          object += std::sqrt(n.p[v] / n.p2[t]);
      } else {
        for (int v = 0; v <= t; ++v)
          back += (n.p[v] * n.p[v]) / (n.p1[t] * n.p1[t]);
        for (int v = t + 1; v < kLevels; ++v)
          object += (n.p[v] * n.p[v]) / (n.p2[t] * n.p2[t]);
      }
      const double entropy = term * ((back * object) > 0.0 ? std::log(back * object) : 0.0);
      if (entropy > largest) {
        largest = entropy;
        threshold = t;
      }
    }
    return threshold;
  };
  int star1 = renyi(0.5);
  int star3 = renyi(2.0);
  if (star2 < star1)
    std::swap(star1, star2);
  if (star3 < star2)
    std::swap(star2, star3);
  if (star2 < star1)
    std::swap(star1, star2);
  int beta1 = 1, beta2 = 2, beta3 = 1;
  const bool lowClose = std::abs(star1 - star2) <= 5;
  const bool highClose = std::abs(star2 - star3) <= 5;
  if (lowClose && !highClose) {
    beta1 = 0;
    beta2 = 1;
    beta3 = 3;
  } else if (!lowClose && highClose) {
    beta1 = 3;
    beta2 = 1;
    beta3 = 0;
  }
  const double omega = n.p1[star3] - n.p1[star1];
  return JavaInt(star1 * (n.p1[star1] + 0.25 * omega * beta1) + 0.25 * star2 * omega * beta2 +
                 star3 * (n.p2[star3] + 0.25 * omega * beta3));
}

// Shanbhag: the cut where the two classes' information measures are most nearly equal.
Found Shanbhag(const Counts& h) {
  const Normalized n(h);
  // p * log(arg) of an empty level is zero wherever the logarithm is finite.
  const auto skip = [&](int v, double arg) {
    return !Occupied(h, v) && arg > 0 && arg < std::numeric_limits<double>::infinity();
  };
  int threshold = -1;
  double least = std::numeric_limits<double>::max();
  for (int t = n.first; t <= n.last; ++t) {
    double back = 0.0;
    double term = 0.5 / n.p1[t];
    for (int v = 1; v <= t; ++v) {
      const double arg = 1.0 - term * n.p1[v - 1];
      if (!skip(v, arg))
        back -= n.p[v] * std::log(arg);
    }
    back *= term;
    double object = 0.0;
    term = 0.5 / n.p2[t];
    for (int v = t + 1; v < kLevels; ++v) {
      const double arg = 1.0 - term * n.p2[v];
      if (!skip(v, arg))
        object -= n.p[v] * std::log(arg);
    }
    object *= term;
    const double difference = std::fabs(back - object);
    if (difference < least) {
      least = difference;
      threshold = t;
    }
  }
  return threshold;
}

// Zack, Rogers and Latt: the level farthest below the line from the peak to the far end of the
// histogram. ImageJ takes the end on the side where the data reach farther from the peak (the
// histogram flipped when that is the top), one level outside the occupied range, and answers
// one level below the farthest point.
Found Triangle(const Counts& h) {
  int min = 0;
  for (int v = 0; v < kLevels; ++v)
    if (Occupied(h, v)) {
      min = v;
      break;
    }
  if (min > 0)
    --min;
  int min2 = 0;
  for (int v = kTop; v > 0; --v)
    if (Occupied(h, v)) {
      min2 = v;
      break;
    }
  if (min2 < kTop)
    ++min2;
  int max = 0;
  std::uint64_t tallest = 0;
  for (int v = 0; v < kLevels; ++v)
    if (h[v] > tallest) {
      max = v;
      tallest = h[v];
    }
  Counts d = h;
  const bool flipped = max - min < min2 - max;
  if (flipped) {
    std::reverse(d.begin(), d.end());
    min = kTop - min2;
    max = kTop - max;
  }
  if (min == max)
    return min;
  // The line nx * x + ny * y = d through (min, d[min]), its normal of unit length.
  double nx = static_cast<double>(d[max]);
  double ny = min - max;
  double dist = std::sqrt(nx * nx + ny * ny);
  nx /= dist;
  ny /= dist;
  dist = nx * min + ny * static_cast<double>(d[min]);
  int split = min;
  double farthest = 0;
  for (int v = min + 1; v <= max; ++v) {
    const double distance = nx * v + ny * static_cast<double>(d[v]) - dist;
    if (distance > farthest) {
      split = v;
      farthest = distance;
    }
  }
  --split;
  return flipped ? kTop - split : split;
}

// Yen: the cut with the largest entropic correlation of the two classes.
Found Yen(const Counts& h) {
  const Normalized n(h);
  Doubles squares1{}, squares2{};  // sums of squared fractions at or below t, above t
  squares1[0] = n.p[0] * n.p[0];
  for (int v = 1; v < kLevels; ++v)
    squares1[v] = squares1[v - 1] + n.p[v] * n.p[v];
  squares2[kTop] = 0.0;
  for (int v = kTop - 1; v >= 0; --v)
    squares2[v] = squares2[v + 1] + n.p[v + 1] * n.p[v + 1];
  int threshold = -1;
  double largest = kJavaMinValue;
  for (int t = 0; t < kLevels; ++t) {
    const double product = squares1[t] * squares2[t];
    const double spread = n.p1[t] * (1.0 - n.p1[t]);
    const double criterion = -1.0 * (product > 0.0 ? std::log(product) : 0.0) +
                             2 * (spread > 0.0 ? std::log(spread) : 0.0);
    if (criterion > largest) {
      largest = criterion;
      threshold = t;
    }
  }
  return threshold;
}

Found Run(TThresholdMethod method, const Counts& h) {
  switch (method) {
    case TThresholdMethod::Default:
      return Default(h);
    case TThresholdMethod::Huang:
      return Huang(h);
    case TThresholdMethod::Intermodes:
      return Intermodes(h);
    case TThresholdMethod::IsoData:
      return IsoData(h);
    case TThresholdMethod::Li:
      return Li(h);
    case TThresholdMethod::MaxEntropy:
      return MaxEntropy(h);
    case TThresholdMethod::Mean:
      return Mean(h);
    case TThresholdMethod::MinError:
      return MinError(h);
    case TThresholdMethod::Minimum:
      return Minimum(h);
    case TThresholdMethod::Moments:
      return Moments(h);
    case TThresholdMethod::Otsu:
      return Otsu(h);
    case TThresholdMethod::Percentile:
      return Percentile(h);
    case TThresholdMethod::RenyiEntropy:
      return RenyiEntropy(h);
    case TThresholdMethod::Shanbhag:
      return Shanbhag(h);
    case TThresholdMethod::Triangle:
      return Triangle(h);
    case TThresholdMethod::Yen:
      return Yen(h);
  }
  return std::nullopt;
}

constexpr std::array<TThresholdMethodInfo, 16> kMethods{{
    {TThresholdMethod::Default, "Default", "default"},
    {TThresholdMethod::Huang, "Huang", "huang"},
    {TThresholdMethod::Intermodes, "Intermodes", "intermodes"},
    {TThresholdMethod::IsoData, "IsoData", "isodata"},
    {TThresholdMethod::Li, "Li", "li"},
    {TThresholdMethod::MaxEntropy, "MaxEntropy", "maxentropy"},
    {TThresholdMethod::Mean, "Mean", "mean"},
    {TThresholdMethod::MinError, "MinError", "minerror"},
    {TThresholdMethod::Minimum, "Minimum", "minimum"},
    {TThresholdMethod::Moments, "Moments", "moments"},
    {TThresholdMethod::Otsu, "Otsu", "otsu"},
    {TThresholdMethod::Percentile, "Percentile", "percentile"},
    {TThresholdMethod::RenyiEntropy, "RenyiEntropy", "renyientropy"},
    {TThresholdMethod::Shanbhag, "Shanbhag", "shanbhag"},
    {TThresholdMethod::Triangle, "Triangle", "triangle"},
    {TThresholdMethod::Yen, "Yen", "yen"},
}};

}  // namespace

std::span<const TThresholdMethodInfo> ThresholdMethods() {
  return kMethods;
}

const TThresholdMethodInfo& ThresholdMethodInfo(TThresholdMethod method) {
  return kMethods[static_cast<std::size_t>(method)];
}

std::optional<TThresholdMethod> ThresholdMethodNamed(std::string_view word) {
  // ASCII only: the words are, and no locale may make another letter match one.
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (const TThresholdMethodInfo& info : kMethods)
    if (std::ranges::equal(word, std::string_view(info.word), {}, lower))
      return info.method;
  return std::nullopt;
}

THistogram::Counts ThresholdHistogram(const TBitmap& picture) {
  return CountColourBytes(picture);
}

std::optional<int> ImageJThreshold(TThresholdMethod method, const THistogram::Counts& histogram) {
  // One or two occupied levels: ImageJ cuts below the upper one, whatever the method.
  int occupied = 0, first = -1, second = -1;
  for (int v = 0; v < kLevels && occupied <= 2; ++v)
    if (histogram[v] != 0)
      (++occupied == 1 ? first : second) = v;
  if (occupied == 0)
    return std::nullopt;  // ImageJ's methods divide by the count of nothing
  if (occupied <= 2 && (occupied == 1 ? first : second) >= 1)
    return (occupied == 1 ? first : second) - 1;
  const Found t = Run(method, histogram);
  if (!t)
    return std::nullopt;
  // ImageJ reports a method's "none" as 0; anything else outside the levels is no threshold
  // (Otsu's Integer.MIN_VALUE, Triangle's 256, MinError's negative levels).
  if (*t == -1)
    return 0;
  if (*t < 0 || *t > kTop)
    return std::nullopt;
  return t;
}

std::optional<int> AutoThreshold(TThresholdMethod method, const THistogram::Counts& histogram) {
  const std::optional<int> t = ImageJThreshold(method, histogram);
  if (!t)
    return std::nullopt;
  return *t + 1;
}
