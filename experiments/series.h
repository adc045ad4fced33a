#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/Analyse.h"

namespace segwork {

struct SeriesPoint {
  double x = 0;
  double y = 0;
};

class Series;

// A function that derives a series' points from its source. It belongs to one series at a time;
// changing a setting recalculates that series.
class SeriesFunction {
 public:
  virtual ~SeriesFunction();
  // The derived points; throws SegworkError when they cannot be computed.
  virtual std::vector<SeriesPoint> Compute(const std::vector<SeriesPoint>& source) const = 0;
  Series* Owner() const { return owner_; }

 protected:
  void Changed();  // recalculates the owning series, if any

 private:
  friend class Series;
  Series* owner_ = nullptr;
};

// Mean of each group of Period consecutive points; Period 0 is one line at the mean of all.
class TAverageFunction final : public SeriesFunction {
 public:
  std::vector<SeriesPoint> Compute(const std::vector<SeriesPoint>& source) const override;
  int32_t Period() const { return period_; }
  // Below 0: "Function Period should be >= 0", nothing changes.
  void SetPeriod(int64_t period);

 private:
  int32_t period_ = 0;
};

// Least-squares straight line, evaluated at the first and the last source x; where every x is the
// same no line fits and both points have an undefined (NaN) y.
class TTrendFunction final : public SeriesFunction {
 public:
  std::vector<SeriesPoint> Compute(const std::vector<SeriesPoint>& source) const override;
};

// Least-squares polynomial with PolyDegree coefficients, evaluated at every source x.
// The least-squares polynomial of `degree` terms through the points, summed in Real (ExtendedReal;
// also SoftExtended where that is not it, for the tests).
template <typename Real>
std::vector<SeriesPoint> FitPolynomial(const std::vector<SeriesPoint>& source, int32_t degree);

class TCurveFittingFunction final : public SeriesFunction {
 public:
  std::vector<SeriesPoint> Compute(const std::vector<SeriesPoint>& source) const override;
  int32_t PolyDegree() const { return degree_; }
  // Outside 1..20: "Polynomial degree must be between 1 and 20", nothing changes.
  void SetPolyDegree(int64_t degree);

 private:
  int32_t degree_ = 5;
};

// A chart series of the experiment windows: points kept in ascending x, equal x in the order of
// adding. A derived series has a source; with a function its points are computed on request,
// without one it copies the source's points as they are added.
class Series {
 public:
  Series() = default;
  ~Series();
  Series(const Series&) = delete;
  Series& operator=(const Series&) = delete;

  std::string Title;
  bool Visible = true;
  VerticalAxis Axis = VerticalAxis::Left;

  const std::vector<SeriesPoint>& Points() const { return points_; }
  size_t Count() const { return points_.size(); }
  double XValue(size_t i) const { return points_.at(i).x; }
  double YValue(size_t i) const { return points_.at(i).y; }
  // Bumped by every change of the points, so views know to redraw.
  uint64_t Revision() const { return revision_; }

  void AddXY(double x, double y);
  // Also clears every series derived from this one.
  void Clear();
  // nullptr detaches. A source that would make a cycle is refused with a SegworkError.
  void SetSource(Series* source);
  Series* Source() const { return source_; }
  // Setting the function the series already has changes nothing; otherwise the old one is
  // discarded (unless someone else holds it) and the series is recalculated.
  void SetFunction(std::shared_ptr<SeriesFunction> function);
  SeriesFunction* Function() const { return function_.get(); }
  // Clears and computes anew (function) or copies the source's points (no function). A failing
  // function leaves the series empty and throws its SegworkError.
  void Recalculate();

 private:
  void Changed() { ++revision_; }
  std::vector<SeriesPoint> points_;
  Series* source_ = nullptr;
  std::vector<Series*> dependants_;
  std::shared_ptr<SeriesFunction> function_;
  uint64_t revision_ = 0;
};

}  // namespace segwork
