#include "files/picture.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "core/errors.h"
#include "files/replace_file.h"

namespace segwork {

void SavePng(const RasterCanvas& canvas, const std::string& path) {
  const int width = canvas.Width(), height = canvas.Height();
  std::vector<png_byte> rgb(size_t(width) * size_t(height) * 3);
  const uint32_t* pixel = canvas.Pixels();
  for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
    // See-through pixels hold 0: show them white, as the panel does.
    const uint32_t p = pixel[i] >> 24 ? pixel[i] : 0xFFFFFFFFu;
    rgb[3 * i] = png_byte(p >> 16);
    rgb[3 * i + 1] = png_byte(p >> 8);
    rgb[3 * i + 2] = png_byte(p);
  }
  FileReplacement file(path);
  std::FILE* out = ::fdopen(file.ReleaseDescriptor(), "wb");
  if (!out) throw SegworkError(WriteFailure(path, errno));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGB;
  // The simplified interface checks every write and reports instead of jumping out.
  errno = 0;
  bool ok = png_image_write_to_stdio(&image, out, 0, rgb.data(), png_int_32(width) * 3, nullptr);
  int error = errno;
  ok = std::fflush(out) == 0 && !std::ferror(out) && ok;
  if (!error) error = errno;
  if (std::fclose(out) != 0) {
    ok = false;
    if (!error) error = errno;
  }
  if (!ok) {
    throw SegworkError(error ? WriteFailure(path, error)
                             : path + ": cannot be written: " + image.message);
  }
  file.Commit();
}

}  // namespace segwork
