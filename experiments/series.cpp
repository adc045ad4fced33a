#include "experiments/series.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/errors.h"
#include "core/extended.h"

namespace segwork {

// ---- functions ---------------------------------------------------------------------------------

SeriesFunction::~SeriesFunction() = default;

void SeriesFunction::Changed() {
  if (owner_) owner_->Recalculate();
}

void TAverageFunction::SetPeriod(int64_t period) {
  if (period < 0) throw SegworkError("Function Period should be >= 0");
  // Any period above the point count gives the same empty result, so clamping loses nothing.
  const auto stored =
      static_cast<int32_t>(std::min<int64_t>(period, std::numeric_limits<int32_t>::max()));
  if (stored == period_) return;
  period_ = stored;
  Changed();
}

std::vector<SeriesPoint> TAverageFunction::Compute(const std::vector<SeriesPoint>& source) const {
  std::vector<SeriesPoint> result;
  const size_t n = source.size();
  if (n == 0) return result;
  if (period_ == 0) {
    double sum = 0;
    double minX = source.front().x;
    double maxX = source.front().x;
    for (const SeriesPoint& p : source) {
      sum += p.y;
      minX = std::min(minX, p.x);
      maxX = std::max(maxX, p.x);
    }
    const double mean = sum / static_cast<double>(n);
    result.push_back({minX, mean});
    result.push_back({maxX, mean});
    return result;
  }
  const auto p = static_cast<size_t>(period_);
  for (size_t d = 0; d + p <= n; d += p) {
    const size_t e = d + p - 1;
    double sum = 0;
    for (size_t i = d; i <= e; ++i) sum += source[i].y;
    result.push_back({(source[d].x + source[e].x) / 2, sum / static_cast<double>(p)});
  }
  return result;
}

std::vector<SeriesPoint> TTrendFunction::Compute(const std::vector<SeriesPoint>& source) const {
  std::vector<SeriesPoint> result;
  if (source.size() <= 1) return result;
  double sx = 0, sy = 0, sxy = 0, sxx = 0;
  for (const SeriesPoint& p : source) {
    sx += p.x;
    sy += p.y;
    sxy += p.x * p.y;
    sxx += p.x * p.x;
  }
  const auto n = static_cast<double>(source.size());
  const double d = n * sxx - sx * sx;
  const double first = source.front().x;
  const double last = source.back().x;
  // All x equal: no line fits; its two ends are there, their y undefined.
  if (d == 0) {
    const double undefined = std::numeric_limits<double>::quiet_NaN();
    result.push_back({first, undefined});
    result.push_back({last, undefined});
    return result;
  }
  const double m = (n * sxy - sx * sy) / d;
  const double b = (sy * sxx - sx * sxy) / d;
  result.push_back({first, m * first + b});
  result.push_back({last, m * last + b});
  return result;
}

void TCurveFittingFunction::SetPolyDegree(int64_t degree) {
  if (degree < 1 || degree > 20) throw SegworkError("Polynomial degree must be between 1 and 20");
  if (degree == degree_) return;
  degree_ = static_cast<int32_t>(degree);
  Changed();
}

template <typename Real>
std::vector<SeriesPoint> FitPolynomial(const std::vector<SeriesPoint>& source, int32_t degree) {
  // 1e-15 in the extended format, as `1e-15L` is on x86-64.
  static const Real kSmallestPivot = Real(1) / Real(1e15);
  std::vector<SeriesPoint> result;
  const auto k = static_cast<size_t>(degree);
  if (source.size() < k) return result;

  double x0 = source.front().x;
  double y0 = source.front().y;
  for (const SeriesPoint& p : source) {
    x0 = std::min(x0, p.x);
    y0 = std::min(y0, p.y);
  }

  // M[r][c] depends on r + c only: accumulate the power sums once.
  std::vector<Real> powerSums(2 * k - 1, 0);
  std::vector<Real> h(k, 0);
  for (const SeriesPoint& p : source) {
    const Real u = static_cast<Real>(p.x) - x0;
    const Real v = static_cast<Real>(p.y) - y0;
    Real power = 1;
    for (size_t j = 0; j < powerSums.size(); ++j) {
      powerSums[j] += power;
      if (j < k) h[j] += power * v;
      power *= u;
    }
  }
  std::vector<std::vector<Real>> m(k, std::vector<Real>(k));
  for (size_t r = 0; r < k; ++r)
    for (size_t c = 0; c < k; ++c) m[r][c] = powerSums[r + c];

  for (size_t col = 0; col < k; ++col) {
    size_t best = col;
    for (size_t r = col + 1; r < k; ++r)
      if (Abs(m[r][col]) > Abs(m[best][col])) best = r;
    std::swap(m[best], m[col]);
    std::swap(h[best], h[col]);
    const Real pivot = m[col][col];
    // Written so that a NaN pivot fails too.
    if (!(Abs(pivot) >= kSmallestPivot)) throw SegworkError("Cannot process fitting");
    for (size_t r = col + 1; r < k; ++r) {
      const Real factor = m[r][col] / pivot;
      for (size_t c = col; c < k; ++c) m[r][c] -= factor * m[col][c];
      h[r] -= factor * h[col];
    }
  }
  std::vector<Real> a(k);
  for (size_t r = k; r-- > 0;) {
    Real rest = h[r];
    for (size_t c = r + 1; c < k; ++c) rest -= m[r][c] * a[c];
    a[r] = rest / m[r][r];
  }

  result.reserve(source.size());
  for (const SeriesPoint& p : source) {
    const Real u = static_cast<Real>(p.x) - x0;
    Real y = 0;
    Real power = 1;
    for (size_t j = 0; j < k; ++j) {
      y += a[j] * power;
      power *= u;
    }
    result.push_back({p.x, static_cast<double>(y + y0)});
  }
  return result;
}

template std::vector<SeriesPoint> FitPolynomial<ExtendedReal>(const std::vector<SeriesPoint>&,
                                                              int32_t);
#if SEGWORK_EXTENDED_IN_HARDWARE
template std::vector<SeriesPoint> FitPolynomial<SoftExtended>(const std::vector<SeriesPoint>&,
                                                              int32_t);
#endif

std::vector<SeriesPoint> TCurveFittingFunction::Compute(
    const std::vector<SeriesPoint>& source) const {
  return FitPolynomial<ExtendedReal>(source, degree_);
}

// ---- series ------------------------------------------------------------------------------------

Series::~Series() {
  // Dependants outlive their source as plain series with the points they have.
  for (Series* d : dependants_) d->source_ = nullptr;
  if (source_) std::erase(source_->dependants_, this);
  if (function_ && function_->owner_ == this) function_->owner_ = nullptr;
}

void Series::AddXY(double x, double y) {
  // After every point of equal x, so equal x keep the order of adding.
  const auto at = std::upper_bound(points_.begin(), points_.end(), x,
                                   [](double value, const SeriesPoint& p) { return value < p.x; });
  points_.insert(at, {x, y});
  Changed();
  for (Series* d : dependants_)
    if (!d->function_) d->AddXY(x, y);
}

void Series::Clear() {
  points_.clear();
  Changed();
  for (Series* d : dependants_) d->Clear();
}

void Series::SetSource(Series* source) {
  if (source == source_) return;
  for (const Series* s = source; s; s = s->source_)
    if (s == this) throw SegworkError("A series cannot be derived from itself");
  if (source_) std::erase(source_->dependants_, this);
  source_ = source;
  if (source_) source_->dependants_.push_back(this);
}

void Series::SetFunction(std::shared_ptr<SeriesFunction> function) {
  if (function == function_) return;
  if (function_) function_->owner_ = nullptr;
  if (function && function->owner_) function->owner_->function_.reset();
  function_ = std::move(function);
  if (function_) function_->owner_ = this;
  Recalculate();
}

void Series::Recalculate() {
  // Neither source nor function: measured points, nothing to recompute them from.
  if (!function_ && !source_) return;
  Clear();
  if (!source_) return;
  if (!function_) {
    for (const SeriesPoint& p : source_->points_) AddXY(p.x, p.y);
    return;
  }
  // Cleared before computing, so a failing function leaves the series empty.
  const std::vector<SeriesPoint> computed = function_->Compute(source_->points_);
  for (const SeriesPoint& p : computed) AddXY(p.x, p.y);
}

}  // namespace segwork
