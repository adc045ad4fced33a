// Not a check: steps per second of the desktop program without painting, to compare with
// "segwork-cli run" on the same settings. SEGWORK_MEASURE_FPS=N times N steps (default 5000):
//   SEGWORK_MEASURE_FPS=5000 ./build/tools/segwork_desktop_tools --gtest_filter='*StepsPerSecond'
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSlider>
#include <QTimer>
#include <cstdio>

#include "tests/ui_desktop.h"

namespace segwork::ui {
namespace {

using testing::Desktop;

TEST_F(Desktop, MeasureStepsPerSecond) {
  const QByteArray steps = qEnvironmentVariableIsEmpty("SEGWORK_MEASURE_FPS")
                               ? QByteArray("5000")
                               : qgetenv("SEGWORK_MEASURE_FPS");
  Stop();
  Find<QSlider>("TrB_speed")->setValue(Find<QSlider>("TrB_speed")->maximum());
  Find<QCheckBox>("CB_graphicUpd")->setChecked(false);
  Type("E_stopT", steps.constData());
  Click("B_setup");
  QElapsedTimer clock;
  clock.start();
  Click("B_stop");
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!main->Timer1()->isActive()) loop.quit();
  });
  poll.start(20);
  loop.exec();
  const double seconds = double(clock.nsecsElapsed()) * 1e-9;
  std::printf("desktop: %d steps in %.3f s = %.1f steps/s (caption: %s)\n", model.Sim.StepCount,
              seconds, model.Sim.StepCount / seconds, qPrintable(main->windowTitle()));
}

}  // namespace
}  // namespace segwork::ui
