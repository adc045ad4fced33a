#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLineEdit;
class QTimer;

namespace segwork::ui {

// Checks an edit field as its typing pauses or it loses focus, not at every keystroke: a box
// opened by the first keystroke would take the rest of the typing. A text that passes is taken
// at once; one that fails is reported only if it still fails then, the box titled with the
// field's name.
class PausedCheck : public QObject {
 public:
  static constexpr int kPauseMs = 1000;
  // `guarded` runs an operation at the event boundary and reports its failure.
  PausedCheck(QLineEdit* edit, QString title, std::function<void()> check,
              std::function<bool(const std::function<void()>&)> guarded);
  // The text changed: checked at once, a failure held back.
  void Edited();
  // A failure held back is reported if the text still fails.
  void Settle();
  bool Pending() const { return pending_; }

 private:
  QString title_;
  std::function<void()> check_;
  std::function<bool(const std::function<void()>&)> guarded_;
  QTimer* pause_;
  bool pending_ = false;
};

}  // namespace segwork::ui
