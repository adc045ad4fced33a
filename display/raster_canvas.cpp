#include "display/raster_canvas.h"

#include <algorithm>
#include <cstdlib>

#include "core/large_arrays.h"

namespace segwork {

namespace {

// The pixels of row `row` (0..h-1) of the ellipse inscribed in a w x h box whose centres lie
// inside it: [first, w - first), or first == w when none. In doubled coordinates a pixel's centre
// is 2i+1-w from the middle, so the test is exact in integers.
int FirstInside(int64_t w, int64_t h, int64_t row) {
  const int64_t dy = 2 * row + 1 - h;
  auto inside = [&](int64_t i) {
    const int64_t dx = 2 * i + 1 - w;
    return dx * dx * h * h + dy * dy * w * w <= w * w * h * h;
  };
  // Inside-ness only grows towards the middle: search the left half.
  int64_t low = 0, high = (w - 1) / 2;
  if (!inside(high)) return int(w);
  while (low < high) {
    const int64_t mid = (low + high) / 2;
    if (inside(mid)) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return int(low);
}

}  // namespace

RasterCanvas::RasterCanvas(int width, int height, bool seeThroughWhite)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      seeThroughWhite_(seeThroughWhite),
      touched_{0, 0, width_, height_} {
  AssignLarge(pixels_, size_t(width_) * size_t(height_), Argb(kWhite));
}

uint32_t RasterCanvas::Argb(TColor colour) const {
  if (seeThroughWhite_ && colour == kWhite) return 0;
  return 0xFF000000u | (RedOf(colour) << 16) | (GreenOf(colour) << 8) | BlueOf(colour);
}

void RasterCanvas::SetPen(int width, TColor colour) {
  penWidth_ = width;
  pen_ = colour;
}

void RasterCanvas::SetBrush(TColor colour) {
  brush_ = colour;
}

void RasterCanvas::Touch(int left, int top, int right, int bottom) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  if (right <= left || bottom <= top) return;
  if (touched_.Empty()) {
    touched_ = {left, top, right, bottom};
    return;
  }
  touched_ = {std::min(touched_.left, left), std::min(touched_.top, top),
              std::max(touched_.right, right), std::max(touched_.bottom, bottom)};
}

RasterCanvas::Box RasterCanvas::TakeTouched() {
  const Box box = touched_;
  touched_ = {};
  return box;
}

void RasterCanvas::Fill(int left, int top, int right, int bottom, uint32_t argb) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  if (right <= left || bottom <= top) return;
  for (int y = top; y < bottom; ++y) {
    uint32_t* row = pixels_.data() + size_t(y) * size_t(width_);
    std::fill(row + left, row + right, argb);
  }
  Touch(left, top, right, bottom);
}

void RasterCanvas::Rectangle(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  // The outline on the outermost pixels, the brush inside.
  Fill(left, top, right, bottom, Argb(pen_));
  if (right - left > 2 && bottom - top > 2)
    Fill(left + 1, top + 1, right - 1, bottom - 1, Argb(brush_));
}

void RasterCanvas::Ellipse(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  const int64_t w = int64_t(right) - left, h = int64_t(bottom) - top;
  const uint32_t pen = Argb(pen_), brush = Argb(brush_);
  // Rows off the surface cost nothing.
  const int64_t firstRow = std::max<int64_t>(0, -int64_t(top));
  const int64_t lastRow = std::min<int64_t>(h, int64_t(height_) - top);
  for (int64_t j = firstRow; j < lastRow; ++j) {
    const int first = FirstInside(w, h, j);
    if (first >= w) continue;
    // A pixel is outline when a 4-neighbour is outside: the row's ends, and what the rows
    // above and below (narrower or missing) do not cover.
    const int above = j > 0 ? FirstInside(w, h, j - 1) : int(w);
    const int below = j + 1 < h ? FirstInside(w, h, j + 1) : int(w);
    const int inner = std::max({above, below, first + 1});
    const int y = int(top + j);
    const int x0 = int(left + first), x1 = int(right - first);
    Fill(x0, y, x1, y + 1, pen);
    Fill(int(left + inner), y, int(right - inner), y + 1, brush);
  }
}

void RasterCanvas::MoveTo(int x, int y) {
  x_ = x;
  y_ = y;
}

void RasterCanvas::LineTo(int x, int y) {
  const int side = std::max(penWidth_, 1);
  const uint32_t colour = Argb(pen_);
  // Bresenham, stamping a square of the pen's width at every point.
  int cx = x_, cy = y_;
  const int dx = std::abs(x - cx), dy = -std::abs(y - cy);
  const int sx = cx < x ? 1 : -1, sy = cy < y ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    Fill(cx - side / 2, cy - side / 2, cx - side / 2 + side, cy - side / 2 + side, colour);
    if (cx == x && cy == y) break;
    const int e2 = 2 * error;
    if (e2 >= dy) {
      error += dy;
      cx += sx;
    }
    if (e2 <= dx) {
      error += dx;
      cy += sy;
    }
  }
  x_ = x;
  y_ = y;
}

}  // namespace segwork
