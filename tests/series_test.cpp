#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/errors.h"
#include "experiments/series.h"

namespace segwork {
namespace {

using Points = std::vector<SeriesPoint>;

void Fill(Series& s, const Points& points) {
  for (const SeriesPoint& p : points) s.AddXY(p.x, p.y);
}

void ExpectPoints(const Points& actual, const Points& expected, double tolerance = 1e-12) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(actual[i].x, expected[i].x, tolerance) << "point " << i;
    EXPECT_NEAR(actual[i].y, expected[i].y, tolerance) << "point " << i;
  }
}

// A source and a series derived from it by `function`, recalculated once.
struct Derived {
  Series source, result;
  Derived(const Points& points, std::shared_ptr<SeriesFunction> function) {
    Fill(source, points);
    result.SetSource(&source);
    result.SetFunction(std::move(function));
  }
  void Refill(const Points& points) {
    source.Clear();
    Fill(source, points);
    result.Recalculate();
  }
};

TEST(Series, OrderCopiesAndClearing) {
  Series s, copy, copyOfCopy, averaged;
  copy.SetSource(&s);
  copyOfCopy.SetSource(&copy);
  copyOfCopy.Visible = false;
  averaged.SetSource(&s);
  averaged.SetFunction(std::make_shared<TAverageFunction>());
  const uint64_t revision = s.Revision();
  Fill(s, {{2, 1}, {1, 2}, {2, 3}, {1, 4}});
  EXPECT_NE(s.Revision(), revision);
  ExpectPoints(copyOfCopy.Points(), {{1, 2}, {1, 4}, {2, 1}, {2, 3}});
  EXPECT_EQ(averaged.Count(), 0u);  // only on request
  s.Recalculate();                  // measured points have nothing to be recomputed from
  averaged.Recalculate();
  ASSERT_EQ(averaged.Count(), 2u);
  s.Clear();
  EXPECT_EQ(copyOfCopy.Count() + averaged.Count() + s.Count(), 0u);
}

TEST(Series, LinksSurviveDestructionAndCyclesAreRefused) {
  Series copy;
  {
    Series source;
    copy.SetSource(&source);
    auto gone = std::make_unique<Series>();
    gone->SetSource(&source);
    gone.reset();
    source.AddXY(1, 1);  // must not reach the destroyed series
  }
  EXPECT_EQ(copy.Source(), nullptr);
  ExpectPoints(copy.Points(), {{1, 1}});

  Series a, b, c;
  b.SetSource(&a);
  c.SetSource(&b);
  EXPECT_THROW(a.SetSource(&c), SegworkError);
  EXPECT_THROW(a.SetSource(&a), SegworkError);
  b.SetSource(nullptr);
  a.SetSource(&c);
  EXPECT_EQ(a.Source(), &c);
}

TEST(Series, AFunctionBelongsToOneSeriesAndResettingItChangesNothing) {
  auto trend = std::make_shared<TTrendFunction>();
  Derived d({{1, 1}, {2, 3}, {3, 5}}, trend);
  const uint64_t revision = d.result.Revision();
  d.result.SetFunction(trend);
  EXPECT_EQ(d.result.Revision(), revision);
  Series other;
  other.SetSource(&d.source);
  other.SetFunction(trend);
  EXPECT_EQ(d.result.Function(), nullptr);
  EXPECT_EQ(trend->Owner(), &other);
  EXPECT_EQ(other.Count(), 2u);
}

TEST(SeriesFunctions, AverageGroupsAndSettings) {
  auto average = std::make_shared<TAverageFunction>();
  Derived d({{2, 1}, {2, 2}, {2, 6}, {3, 7}, {3, 9}}, average);
  ExpectPoints(d.result.Points(), {{2, 5}, {3, 5}});
  EXPECT_THROW(average->SetPeriod(-1), SegworkError);
  EXPECT_EQ(average->Period(), 0);
  const uint64_t revision = d.result.Revision();
  average->SetPeriod(0);
  EXPECT_EQ(d.result.Revision(), revision);
  average->SetPeriod(2);  // the lone last point gives nothing
  ExpectPoints(d.result.Points(), {{2, 1.5}, {2.5, 6.5}});
  average->SetPeriod(3);
  ExpectPoints(d.result.Points(), {{2, 3}});
  average->SetPeriod(6);
  EXPECT_EQ(d.result.Count(), 0u);
  Derived whole({{2, 1}, {3, 2}, {4, 6}}, std::make_shared<TAverageFunction>());
  ExpectPoints(whole.result.Points(), {{2, 3}, {4, 3}});
}

TEST(SeriesFunctions, TrendLineAndDegenerateCases) {
  auto trend = [](const Points& points) {
    Derived d(points, std::make_shared<TTrendFunction>());
    return d.result.Points();
  };
  ExpectPoints(trend({{1, 1}, {2, 3}, {3, 5}}), {{1, 1}, {3, 5}});
  ExpectPoints(trend({{0, 1}, {1, 0}, {2, 5}, {4, 6}}), {{0, 0.4}, {4, 222.0 / 35}});
  // One x only: the line is undefined, not y = x.
  const Points single = trend({{2, 5}, {2, 7}});
  ASSERT_EQ(single.size(), 2u);
  for (const SeriesPoint& p : single) EXPECT_TRUE(p.x == 2 && std::isnan(p.y));
  EXPECT_TRUE(trend({{2, 5}}).empty());
}

TEST(SeriesFunctions, CurveFittingRecoversPolynomialsAndReportsSingularSystems) {
  auto fit = std::make_shared<TCurveFittingFunction>();
  for (int64_t bad : {0, 21}) EXPECT_THROW(fit->SetPolyDegree(bad), SegworkError);
  EXPECT_EQ(fit->PolyDegree(), 5);
  Derived d({{1, 4}, {3, -2}, {4, 7}}, fit);
  EXPECT_EQ(d.result.Count(), 0u);  // fewer points than coefficients, no message
  fit->SetPolyDegree(1);            // the mean of y
  ExpectPoints(d.result.Points(), {{1, 3}, {3, 3}, {4, 3}}, 1e-9);
  fit->SetPolyDegree(3);
  ExpectPoints(d.result.Points(), {{1, 4}, {3, -2}, {4, 7}}, 1e-9);
  const uint64_t revision = d.result.Revision();
  fit->SetPolyDegree(3);
  EXPECT_EQ(d.result.Revision(), revision);

  // Unevenly spaced, one x twice.
  Points parabola, line;
  for (double x : {-2.0, 0.5, 1.0, 1.0, 4.0, 7.5, 9.0}) {
    parabola.push_back({x, 0.5 * x * x - 3 * x + 10});
    line.push_back({x, -1.5 * x + 2});
  }
  d.Refill(parabola);
  ExpectPoints(d.result.Points(), parabola, 1e-9);
  fit->SetPolyDegree(2);
  d.Refill(line);
  ExpectPoints(d.result.Points(), line, 1e-9);

  d.Refill({{2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}});
  ASSERT_EQ(d.result.Count(), 6u);  // a line through two distinct x still fits
  try {
    fit->SetPolyDegree(3);
    FAIL() << "singular system accepted";
  } catch (const SegworkError& e) {
    EXPECT_STREQ(e.what(), "Cannot process fitting");
  }
  EXPECT_EQ(fit->PolyDegree(), 3);
  EXPECT_EQ(d.result.Count(), 0u);
}

}  // namespace
}  // namespace segwork
