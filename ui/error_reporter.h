#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <utility>

namespace segwork::ui {

// Set while a timer tick runs or a message box is open: a tick that finds it set returns at once,
// so no step is re-entered from a box's event loop.
class BusyGuard {
 public:
  static bool Busy() { return busy_; }
  BusyGuard() : owner_(!busy_) { busy_ = true; }
  ~BusyGuard() {
    if (owner_) busy_ = false;
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  static inline bool busy_ = false;
  bool owner_;
};

// The one place that shows message boxes. A report is queued and shown once the caller's stack has
// unwound; a message already waiting or on screen is not queued again.
class ErrorReporter {
 public:
  static ErrorReporter& Instance();

  // An empty caption is the standard error box.
  void Report(const QString& caption, const QString& text);

  // Reports queued or on screen.
  bool Pending() const { return isShowing_ || !queue_.empty(); }

  // Tests replace the modal box; the function is called with the guard held.
  std::function<void(const QString& caption, const QString& text)> show;

 private:
  void ShowNext();
  using Message = std::pair<QString, QString>;
  std::deque<Message> queue_;
  Message showing_;
  bool isShowing_ = false;
  bool scheduled_ = false;
};

}  // namespace segwork::ui
