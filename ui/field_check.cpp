#include "ui/field_check.h"

#include <QLineEdit>
#include <QTimer>
#include <exception>

#include "core/errors.h"

namespace segwork::ui {

PausedCheck::PausedCheck(QLineEdit* edit, QString title, std::function<void()> check,
                         std::function<bool(const std::function<void()>&)> guarded)
    : QObject(edit),
      title_(std::move(title)),
      check_(std::move(check)),
      guarded_(std::move(guarded)),
      pause_(new QTimer(this)) {
  pause_->setSingleShot(true);
  pause_->setInterval(kPauseMs);
  connect(pause_, &QTimer::timeout, this, &PausedCheck::Settle);
  connect(edit, &QLineEdit::editingFinished, this, &PausedCheck::Settle);
}

void PausedCheck::Edited() {
  bool failed = false;
  guarded_([&] {
    try {
      check_();
    } catch (const std::exception&) {
      failed = true;
    }
  });
  pending_ = failed;
  if (failed) {
    pause_->start();
  } else {
    pause_->stop();
  }
}

void PausedCheck::Settle() {
  if (!pending_) return;
  pending_ = false;
  pause_->stop();
  guarded_([&] {
    try {
      check_();
    } catch (const SegworkError& e) {
      if (!e.Caption().empty()) throw;
      throw SegworkError(e.what(), title_.toStdString());
    }
  });
}

}  // namespace segwork::ui
