#pragma once

#include <QImage>
#include <QRect>
#include <memory>

#include "display/raster_canvas.h"

namespace segwork::ui {

// The core's raster canvas shown by the window: Image() wraps its pixels without a copy, so the
// panel shows exactly what a headless picture of the same state holds. Only the rubber band's
// lines are drawn by Qt (round ends). A see-through canvas (the rubber band's) shows white as
// transparent.
class QtCanvas final : public Canvas {
 public:
  QtCanvas(int width, int height, bool seeThroughWhite);

  void SetPen(int width, TColor colour) override;
  void SetBrush(TColor colour) override { raster_.SetBrush(colour); }
  void Rectangle(int left, int top, int right, int bottom) override {
    raster_.Rectangle(left, top, right, bottom);
  }
  void Ellipse(int left, int top, int right, int bottom) override {
    raster_.Ellipse(left, top, right, bottom);
  }
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;

  // Shares the canvas's memory: copy() it to keep a picture that later painting must not change.
  const QImage& Image() const { return image_; }
  const RasterCanvas& Raster() const { return raster_; }
  // The area painted since the last call, then nothing.
  QRect TakeDirty();
  bool IsDirty() const { return raster_.Touched(); }

 private:
  RasterCanvas raster_;
  QImage image_;
  int penWidth_ = 0;
  TColor pen_ = 0;
  QPoint position_;
};

std::unique_ptr<Canvas> MakeCellCanvas(int width, int height);
std::unique_ptr<Canvas> MakeOverlayCanvas(int width, int height);

}  // namespace segwork::ui
