#include "tools/shademap/map_file.h"

namespace {

void Put16(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* at, uint32_t v) {
  Put16(at, v & 0xFFFF);
  Put16(at + 2, v >> 16);
}

// The few pieces of <cmath> the patterns use, here because the Windows tool
// links no C library. Precision well beyond what an 8-bit level needs.
double Floor(double v) {
  const double t = static_cast<double>(static_cast<int64_t>(v));
  return t > v ? t - 1.0 : t;
}
double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
double Exp(double v) {
  if (v < -700.0) return 0.0;
  // e^v = 2^k e^r with |r| <= ln2 / 2, where the series converges fast.
  const double ln2 = 0.69314718055994530942;
  const double k = Floor(v / ln2 + 0.5);
  const double r = v - k * ln2;
  double term = 1.0, sum = 1.0;
  for (int n = 1; n < 16; ++n) {
    term *= r / n;
    sum += term;
  }
  for (int i = 0; i < k; ++i) sum *= 2.0;
  for (int i = 0; i > k; --i) sum *= 0.5;
  return sum;
}
double Sqrt(double v) { return __builtin_sqrt(v); }

// A pixel centre: x, y in (-1, 1) across the square, r its distance from the
// centre; row counts from the top, size is the square's side.
struct Point {
  double x, y, r;
  uint32_t row, size;
};

double Smoothstep(double edge0, double edge1, double v) {
  const double t = Clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

double Bump(double r, double centre, double width) {
  const double d = (r - centre) / width;
  return Exp(-d * d);
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
  const int cx = static_cast<int>(Floor((p.x + 1.0) * 4.0));
  const int cy = static_cast<int>(Floor((p.y + 1.0) * 4.0));
  return ((cx + cy) & 1) ? 192.0 : 64.0;
}

double (*const kPatternGray[])(const Point&) = {Glow, Shadow, Ring, Ramp, Checker};

bool Blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const MapPattern kMapPatterns[] = {
    {"glow", "soft bright lens with a gentle dark halo (the default glmire.bmp)"},
    {"shadow", "soft dark spot"},
    {"ring", "bright ripple ring around a slightly darker middle"},
    {"ramp", "gray 0 on the top row rising to 255 on the bottom row"},
    {"checker", "8 x 8 squares of gray 64 and 192"},
};
const uint32_t kMapPatternCount = sizeof kMapPatterns / sizeof kMapPatterns[0];

uint32_t MapFileBytes(uint32_t width, uint32_t height) {
  if (width < 4 || height < 4 || width > 65535 || height > 65535 || width % 4 != 0) return 0;
  const uint64_t bytes = uint64_t{width} * height + kMapFileHeaderBytes;
  return bytes > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(bytes);
}

void EncodeMapFile(uint8_t* out, const uint8_t* gray, uint32_t width, uint32_t height) {
  const uint32_t imageBytes = width * height;
  out[0] = 'B';
  out[1] = 'M';
  Put32(out + 2, kMapFileHeaderBytes + imageBytes);
  Put32(out + 6, 0);
  Put32(out + 10, kMapFileHeaderBytes);
  Put32(out + 14, 40);
  Put32(out + 18, width);
  Put32(out + 22, height);  // positive: bottom-up
  Put16(out + 26, 1);       // planes
  Put16(out + 28, 8);       // bits per pixel
  Put32(out + 30, 0);       // uncompressed
  Put32(out + 34, imageBytes);
  Put32(out + 38, 2835);    // 72 dpi
  Put32(out + 42, 2835);
  Put32(out + 46, 256);     // colours used
  Put32(out + 50, 0);       // all important
  uint8_t* entry = out + 54;
  for (uint32_t i = 0; i < 256; ++i, entry += 4) {
    entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
    entry[3] = 0;
  }
  uint8_t* row = out + kMapFileHeaderBytes;
  for (uint32_t y = height; y-- > 0; row += width) {
    const uint8_t* from = gray + static_cast<uint64_t>(y) * width;
    for (uint32_t x = 0; x < width; ++x) row[x] = from[x];
  }
}

int32_t FindMapPattern(const char* name) {
  for (uint32_t i = 0; i < kMapPatternCount; ++i) {
    const char* a = kMapPatterns[i].name;
    const char* b = name;
    while (*a != '\0' && *a == *b) ++a, ++b;
    if (*a == '\0' && *b == '\0') return static_cast<int32_t>(i);
  }
  return -1;
}

void RenderMapPattern(uint32_t index, uint8_t* gray, uint32_t size) {
  const double half = size / 2.0;
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x) {
      const double fx = (x + 0.5 - half) / half;
      const double fy = (y + 0.5 - half) / half;
      const double v = kPatternGray[index](Point{fx, fy, Sqrt(fx * fx + fy * fy), y, size});
      gray[static_cast<uint64_t>(y) * size + x] =
          static_cast<uint8_t>(Clamp(v, 0.0, 255.0) + 0.5);
    }
}

int32_t ParseMapSize(const char* text, uint32_t min, uint32_t max, uint32_t* size) {
  uint32_t v = 0;
  if (*text == '\0') return -1;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9' || v > max) return -1;
    v = v * 10 + static_cast<uint32_t>(*text - '0');
  }
  if (v < min || v > max) return -1;
  *size = v;
  return 0;
}

int32_t NextArgument(const char** cursor, char* out, uint32_t capacity) {
  const char* p = *cursor;
  while (Blank(*p)) ++p;
  if (*p == '\0') {
    *cursor = p;
    return 0;
  }
  uint32_t n = 0;
  bool quoted = false, fits = true;
  auto put = [&](char c) {
    if (n + 1 < capacity) out[n++] = c;
    else fits = false;
  };
  while (*p != '\0' && (quoted || !Blank(*p))) {
    if (*p == '\\') {
      uint32_t slashes = 0;
      while (*p == '\\') ++slashes, ++p;
      if (*p == '"') {
        for (uint32_t i = 0; i < slashes / 2; ++i) put('\\');
        if (slashes % 2 != 0) {
          put('"');
          ++p;
        }
      } else {
        for (uint32_t i = 0; i < slashes; ++i) put('\\');
      }
    } else if (*p == '"') {
      // Inside quotes a doubled quote is one literal quote.
      if (quoted && p[1] == '"') {
        put('"');
        ++p;
      } else {
        quoted = !quoted;
      }
      ++p;
    } else {
      put(*p++);
    }
  }
  if (capacity != 0) out[n] = '\0';
  *cursor = p;
  return fits ? 1 : -1;
}
