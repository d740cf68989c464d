// mkshademap: writes Glowmire shade maps as 8-bit BMP files with a 256-entry
// gray palette, so palette index and gray level are the same number.
//
//   mkshademap PATTERN OUT.bmp [SIZE]      SIZE: 64-4096, a multiple of 4 (default 128)
//   mkshademap --list
//
// Gray 128 leaves the screen alone, lower darkens, higher lightens. The lens
// patterns fall to exactly 128 before the square's edge, so the patch has no
// visible border as it drifts.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Pattern {
  const char* name;
  const char* description;
  double (*gray)(const struct Point& p);
};

// A pixel centre: x, y in (-1, 1) across the square, r its distance from the
// centre; row counts from the top, size is the square's side.
struct Point {
  double x, y, r;
  uint32_t row, size;
};

double Smoothstep(double edge0, double edge1, double v) {
  const double t = std::fmin(1.0, std::fmax(0.0, (v - edge0) / (edge1 - edge0)));
  return t * t * (3.0 - 2.0 * t);
}

double Bump(double r, double centre, double width) {
  const double d = (r - centre) / width;
  return std::exp(-d * d);
}

// Fades any lens to exactly 128 between 88% of the radius and the rim.
double Lens(double r, double offset) { return 128.0 + offset * (1.0 - Smoothstep(0.88, 1.0, r)); }

double Glow(const Point& p) {
  // A bright but not burnt-out core, then a faint darker ring so the light
  // seems to gather into the middle.
  return Lens(p.r, 118.0 * Bump(p.r, 0.0, 0.42) - 30.0 * Bump(p.r, 0.78, 0.11));
}
double Shadow(const Point& p) { return Lens(p.r, -104.0 * Bump(p.r, 0.0, 0.5)); }
double Ring(const Point& p) {
  return Lens(p.r, 96.0 * Bump(p.r, 0.6, 0.08) - 24.0 * Bump(p.r, 0.4, 0.1));
}
// Exactly 0 on the top row to 255 on the bottom one: shows at a glance
// whether a reader turned the rows the right way up.
double Ramp(const Point& p) { return p.row * 255.0 / (p.size - 1); }
double Checker(const Point& p) {
  const int cx = static_cast<int>(std::floor((p.x + 1.0) * 4.0));
  const int cy = static_cast<int>(std::floor((p.y + 1.0) * 4.0));
  return ((cx + cy) & 1) ? 192.0 : 64.0;
}

const Pattern kPatterns[] = {
    {"glow", "soft bright lens with a gentle dark halo (the default glmire.bmp)", Glow},
    {"shadow", "soft dark spot", Shadow},
    {"ring", "bright ripple ring around a slightly darker middle", Ring},
    {"ramp", "gray 0 on the top row rising to 255 on the bottom row", Ramp},
    {"checker", "8 x 8 squares of gray 64 and 192", Checker},
};

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// The usual layout other programs write: 40-byte info header, 256 palette
// entries, rows bottom-up (positive height).
std::vector<uint8_t> EncodeBmp(const std::vector<uint8_t>& gray, uint32_t size) {
  const uint32_t paletteBytes = 256 * 4;
  const uint32_t pixelsAt = 14 + 40 + paletteBytes;
  const uint32_t imageBytes = size * size;
  std::vector<uint8_t> out;
  out.reserve(pixelsAt + imageBytes);
  out.push_back('B');
  out.push_back('M');
  Put32(out, pixelsAt + imageBytes);
  Put32(out, 0);
  Put32(out, pixelsAt);
  Put32(out, 40);
  Put32(out, size);
  Put32(out, size);
  Put16(out, 1);     // planes
  Put16(out, 8);     // bits per pixel
  Put32(out, 0);     // uncompressed
  Put32(out, imageBytes);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, 256);   // colours used
  Put32(out, 0);     // all important
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t g = static_cast<uint8_t>(i);
    out.insert(out.end(), {g, g, g, 0});
  }
  for (uint32_t row = size; row-- > 0;)
    out.insert(out.end(), gray.begin() + row * size, gray.begin() + (row + 1) * size);
  return out;
}

std::vector<uint8_t> Render(const Pattern& pattern, uint32_t size) {
  std::vector<uint8_t> gray(static_cast<size_t>(size) * size);
  const double half = size / 2.0;
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x) {
      const double fx = (x + 0.5 - half) / half;
      const double fy = (y + 0.5 - half) / half;
      const double v = pattern.gray(Point{fx, fy, std::sqrt(fx * fx + fy * fy), y, size});
      gray[static_cast<size_t>(y) * size + x] =
          static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
    }
  return gray;
}

int Usage() {
  std::fprintf(stderr, "usage: mkshademap PATTERN OUT.bmp [SIZE]\n       mkshademap --list\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const Pattern& p : kPatterns) std::printf("%-8s %s\n", p.name, p.description);
    return 0;
  }
  if (argc < 3 || argc > 4) return Usage();
  const Pattern* pattern = nullptr;
  for (const Pattern& p : kPatterns)
    if (std::strcmp(argv[1], p.name) == 0) pattern = &p;
  if (!pattern) {
    std::fprintf(stderr, "mkshademap: unknown pattern '%s' (try --list)\n", argv[1]);
    return 2;
  }
  uint32_t size = 128;
  if (argc == 4) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(argv[3], &end, 10);
    if (*argv[3] == '\0' || *end != '\0' || v < 64 || v > 4096 || v % 4 != 0) {
      std::fprintf(stderr, "mkshademap: SIZE must be 64-4096 and a multiple of 4\n");
      return 2;
    }
    size = static_cast<uint32_t>(v);
  }

  const std::vector<uint8_t> bmp = EncodeBmp(Render(*pattern, size), size);
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  const bool written = std::fwrite(bmp.data(), 1, bmp.size(), out) == bmp.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
