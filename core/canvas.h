#pragma once

#include <cstdint>

namespace segwork {

// A colour: red in the lowest byte, then green, then blue.
using TColor = uint32_t;

constexpr TColor Rgb(uint32_t r, uint32_t g, uint32_t b) {
  return r | (g << 8) | (b << 16);
}
constexpr uint32_t RedOf(TColor c) {
  return c & 0xFF;
}
constexpr uint32_t GreenOf(TColor c) {
  return (c >> 8) & 0xFF;
}
constexpr uint32_t BlueOf(TColor c) {
  return (c >> 16) & 0xFF;
}

inline constexpr TColor kWhite = Rgb(255, 255, 255);
inline constexpr TColor kSilver = Rgb(192, 192, 192);
inline constexpr TColor kNearStreetGrey = Rgb(232, 232, 232);
inline constexpr TColor kRed = Rgb(255, 0, 0);
inline constexpr TColor kGreen = Rgb(0, 128, 0);

// The retained drawing surface the model paints into. The desktop program implements it on an
// image; headless runs use NullCanvas, so painting costs nothing there.
class Canvas {
 public:
  virtual ~Canvas() = default;
  // Width 0 is the thinnest pen (one pixel).
  virtual void SetPen(int width, TColor colour) = 0;
  virtual void SetBrush(TColor colour) = 0;
  // Filled with the brush, outlined with the pen; right and bottom edges excluded.
  virtual void Rectangle(int left, int top, int right, int bottom) = 0;
  // Filled ellipse inscribed in the box, outlined with the pen.
  virtual void Ellipse(int left, int top, int right, int bottom) = 0;
  virtual void MoveTo(int x, int y) = 0;
  virtual void LineTo(int x, int y) = 0;
};

class NullCanvas final : public Canvas {
 public:
  void SetPen(int, TColor) override {}
  void SetBrush(TColor) override {}
  void Rectangle(int, int, int, int) override {}
  void Ellipse(int, int, int, int) override {}
  void MoveTo(int, int) override {}
  void LineTo(int, int) override {}
};

}  // namespace segwork
