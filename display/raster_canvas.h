#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/canvas.h"

namespace segwork {

// A canvas on plain memory: width x height pixels, rows top to bottom, each 0xAARRGGBB (the
// layout a QImage of Format_RGB32 or Format_ARGB32_Premultiplied reads). The window shows it and
// headless runs save it, so one state gives the same pixels in both. The pixel memory is never
// reallocated. A see-through canvas paints white as 0x00000000.
class RasterCanvas final : public Canvas {
 public:
  struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom excluded
    bool Empty() const { return right <= left || bottom <= top; }
  };

  RasterCanvas(int width, int height, bool seeThroughWhite = false);

  void SetPen(int width, TColor colour) override;
  void SetBrush(TColor colour) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void Ellipse(int left, int top, int right, int bottom) override;
  void MoveTo(int x, int y) override;
  // A line of the pen's width (square ends).
  void LineTo(int x, int y) override;

  int Width() const { return width_; }
  int Height() const { return height_; }
  uint32_t* Pixels() { return pixels_.data(); }
  const uint32_t* Pixels() const { return pixels_.data(); }
  uint32_t PixelAt(int x, int y) const {
    return pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)];
  }
  uint32_t Argb(TColor colour) const;

  // The area painted since the last call (a new canvas: all of it), then nothing.
  Box TakeTouched();
  bool Touched() const { return !touched_.Empty(); }
  // For painting done on the pixels by other means.
  void Touch(int left, int top, int right, int bottom);

 private:
  // Fills the part of the box on the surface.
  void Fill(int left, int top, int right, int bottom, uint32_t argb);

  int width_;
  int height_;
  bool seeThroughWhite_;
  std::vector<uint32_t> pixels_;
  int penWidth_ = 0;
  TColor pen_ = 0;
  TColor brush_ = kWhite;
  int x_ = 0, y_ = 0;
  Box touched_;
};

}  // namespace segwork
