#include "ui/error_reporter.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

namespace segwork::ui {

ErrorReporter& ErrorReporter::Instance() {
  static ErrorReporter reporter;
  return reporter;
}

void ErrorReporter::Report(const QString& caption, const QString& text) {
  const Message message{caption, text};
  if ((isShowing_ && showing_ == message) ||
      std::find(queue_.begin(), queue_.end(), message) != queue_.end()) {
    return;
  }
  queue_.push_back(message);
  if (!scheduled_ && !isShowing_) {
    scheduled_ = true;
    QTimer::singleShot(0, [this] { ShowNext(); });
  }
}

void ErrorReporter::ShowNext() {
  scheduled_ = false;
  if (isShowing_ || queue_.empty()) return;
  showing_ = queue_.front();
  queue_.pop_front();
  isShowing_ = true;
  {
    BusyGuard guard;
    if (show) {
      show(showing_.first, showing_.second);
    } else {
      const QString caption =
          showing_.first.isEmpty() ? QApplication::applicationDisplayName() : showing_.first;
      QMessageBox box(showing_.first.isEmpty() ? QMessageBox::Critical : QMessageBox::Information,
                      caption, showing_.second, QMessageBox::Ok);
      box.exec();
    }
  }
  isShowing_ = false;
  showing_ = {};
  if (!queue_.empty()) {
    scheduled_ = true;
    QTimer::singleShot(0, [this] { ShowNext(); });
  }
}

}  // namespace segwork::ui
