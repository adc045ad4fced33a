#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "files/scenario.h"
#include "window/AnaStreets.h"
#include "window/AnalyseGrowth.h"
#include "window/Parameterspace.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace segwork::ui {

class SeriesChart;
class TForm1;

// What the three experiment windows share: the settings fields, the labels and buttons of the
// batch loop and its timer, over the core's sweep. Every tick goes through the main window's
// guard, so a failure stops this window's timer and is shown once.
class ExperimentForm : public QWidget {
  Q_OBJECT
 public:
  ExperimentForm(TForm1& main, SweepWindow& sweep, const char* name, const char* timerName,
                 QWidget* parent);
  QTimer* Timer() { return timer_; }
  // Shows what the sweep reports and starts or stops the timer as it says.
  void SyncFromSweep();
  // "Save sweep…": the main window's scenario with this window's fields, steps and seed, for
  // `segwork-cli sweep --scenario`.
  bool SaveSweepTo(const QString& path);

 protected:
  // The settings box with the five fields, the run buttons and the counters.
  // Fields start at `top` within the box.
  QGroupBox* BuildSettings(QRect geometry, int top, const char* fromCaption, const char* startName,
                           const char* breakName, std::function<void()> start);
  bool Guarded(const std::function<void()>& operation);
  void Tick(const std::function<void()>& tick);
  virtual void RefreshCharts() = 0;
  virtual void UndoZoom() = 0;
  // This window's own fields as a scenario's sweep.
  virtual SweepSettings Settings() const = 0;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // The window as laid out now is its default and smallest size; larger, the charts (stacked in
  // this order) take the room and the rest moves right with the window's edge.
  void LayOutForResizing(const std::vector<QWidget*>& charts);
  // The planned runs and their caption after them.
  void ShowCalculationCount();

  TForm1& main_;
  SweepWindow& sweep_;
  QTimer* timer_;
  QLabel* lbl_pSteps_ = nullptr;
  QLabel* Lbl_akt_ = nullptr;
  QLabel* Lbl_proceed_ = nullptr;
  QLabel* calculationsCaption_ = nullptr;
  QLabel* seedLabel_ = nullptr;
  QLineEdit* E_seed_ = nullptr;

 private:
  QSize defaultSize_;
  std::vector<std::pair<QWidget*, QRect>> charts_, beside_;
};

class TForm3 : public ExperimentForm {
  Q_OBJECT
 public:
  TForm3(TForm1& main, QWidget* parent = nullptr);
  ParameterSpaceSweep& sweep() { return sweep3_; }

 protected:
  void RefreshCharts() override;
  void UndoZoom() override;
  SweepSettings Settings() const override;

 private:
  void ReadParameterChoice();
  ParameterSpaceSweep sweep3_;
  QComboBox* CB_param_;
  SeriesChart* Chart_Cluster_;
  SeriesChart* Chart_IS_;
  QSpinBox* UpD_polyDegClust_ = nullptr;
};

class TForm4 : public ExperimentForm {
  Q_OBJECT
 public:
  TForm4(TForm1& main, QWidget* parent = nullptr);
  GrowthAnalysis& sweep() { return sweep4_; }

 protected:
  void RefreshCharts() override;
  void UndoZoom() override;
  SweepSettings Settings() const override;

 private:
  GrowthAnalysis sweep4_;
  SeriesChart* Chart_Growth_;
  uint64_t shownGeneration_ = 0;
};

class TForm5 : public ExperimentForm {
  Q_OBJECT
 public:
  TForm5(TForm1& main, QWidget* parent = nullptr);
  StreetAnalysis& sweep() { return sweep5_; }

 protected:
  void RefreshCharts() override;
  void UndoZoom() override;
  SweepSettings Settings() const override;

 private:
  StreetAnalysis sweep5_;
  SeriesChart* Chart_Streets_;
};

}  // namespace segwork::ui
