#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli/experiment_command.h"
#include "files/scenario.h"

class QChartView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace segwork::ui {

class TForm1;

// An experiment of any design over the main window's settings as they stand: the parameters to
// vary and their values, repetitions, steps, stop condition, measures and seed. It runs on
// `segwork-cli experiment`'s engine on a thread of its own, every core busy, so its rows are the
// ones that command makes of the experiment saved here.
class ExperimentWindow : public QWidget {
  Q_OBJECT
 public:
  explicit ExperimentWindow(TForm1& main, QWidget* parent = nullptr);
  ~ExperimentWindow() override;

  bool Running() const { return running_; }
  // "run": the rows to the chosen file (asked for if there is none yet), continuing it when it
  // holds this experiment already. False when nothing started.
  bool Run();
  // "stop": no further run is taken; the whole runs are kept and a later "run" goes on.
  void Stop();
  // The file the rows go to.
  void SetOutput(const QString& path);
  QString Output() const { return output_; }
  // "Save experiment…": the main window's scenario with this window's steps, seed and experiment.
  bool SaveExperimentTo(const QString& path);
  // "Open experiment…": this window's fields from a scenario's experiment section; the main
  // window keeps its settings ("Open scenario…" there takes the file's).
  bool OpenExperimentFrom(const QString& path);
  // One more parameter to vary.
  void AddVaryRow(const QString& name, const QString& values);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // The experiment as the fields say; a field that the engine would refuse throws its message,
  // naming the field.
  cli::ExperimentOptions Options() const;
  Scenario ScenarioWith(const cli::ExperimentOptions& options) const;
  void SetMeasures(const std::string& names);
  void ShowCombinations();
  void Started(const std::string& header, const std::string& kept, uint64_t done, uint64_t total,
               const QString& seed);
  void RunFinished(const std::string& rows, uint64_t done, uint64_t total);
  void Finished(int status, const std::string& messages);
  void ShowRunning();
  void TakeRows(const std::string& text, uint64_t below);
  void FillChartChoices();
  void RebuildChart();

  TForm1& main_;
  QTableWidget* vary_ = nullptr;
  QLabel* combinations_ = nullptr;
  QLineEdit* runs_ = nullptr;
  QLineEdit* steps_ = nullptr;
  QCheckBox* settled_ = nullptr;
  QLineEdit* every_ = nullptr;
  QLineEdit* seed_ = nullptr;
  QListWidget* measures_ = nullptr;
  QLabel* outputLabel_ = nullptr;
  QPushButton* run_ = nullptr;
  QPushButton* stop_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* timeLeft_ = nullptr;
  QLabel* status_ = nullptr;
  QComboBox* measure_ = nullptr;
  QComboBox* x_ = nullptr;
  QComboBox* lines_ = nullptr;
  QChartView* chart_ = nullptr;
  QTimer* chartLater_ = nullptr;

  QString output_;
  std::thread worker_;
  std::atomic<bool> stopFlag_{false};
  bool running_ = false;
  QElapsedTimer clock_;
  uint64_t doneAtStart_ = 0;

  // The rows' header, and each run's end row (its last) as fields.
  std::vector<std::string> columns_;
  size_t stepsColumn_ = 0;  // "steps" or "step"; the varied parameters stand before it
  std::map<uint64_t, std::vector<std::string>> endRows_;
};

}  // namespace segwork::ui
