#include "tools/shademap/picture_map.h"

#include "tools/shademap/map_file.h"

namespace {

uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }
uint32_t Le16(const uint8_t* p) { return uint32_t{p[1]} << 8 | p[0]; }
uint32_t Le32(const uint8_t* p) { return Le16(p + 2) << 16 | Le16(p); }

bool Starts(const uint8_t* bytes, uint32_t count, const char* with, uint32_t n) {
  if (count < n) return false;
  for (uint32_t i = 0; i < n; ++i)
    if (bytes[i] != static_cast<uint8_t>(with[i])) return false;
  return true;
}

int32_t Found(PictureHeader* header, int32_t kind, uint32_t width, uint32_t height) {
  header->kind = kind;
  header->width = width;
  header->height = height;
  return 0;
}

int32_t PeekJpeg(const uint8_t* bytes, uint32_t count, PictureHeader* header) {
  uint32_t at = 2;
  while (at + 4 <= count) {
    if (bytes[at] != 0xFF) return -2;
    const uint8_t marker = bytes[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return -2;  // end or scan before any frame header
    const uint32_t length = Be16(bytes + at + 2);
    if (length < 2) return -2;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                       marker != 0xCC;
    if (frame) {
      if (length < 8) return -2;
      if (at + 9 > count) break;
      const uint32_t height = Be16(bytes + at + 5), width = Be16(bytes + at + 7);
      // A height of 0 is allowed by the format (set later by a DNL marker), which no decoder here takes.
      if (width == 0 || height == 0) return -2;
      return Found(header, kPictureJpeg, width, height);
    }
    at += 2 + length;
  }
  return Found(header, kPictureJpeg, 0, 0);
}

int32_t PeekTiff(const uint8_t* bytes, uint32_t count, PictureHeader* header) {
  const bool big = bytes[0] == 'M';
  auto u16 = [&](uint32_t at) { return big ? Be16(bytes + at) : Le16(bytes + at); };
  auto u32 = [&](uint32_t at) { return big ? Be32(bytes + at) : Le32(bytes + at); };
  const uint32_t ifd = u32(4);
  if (ifd < 8) return -2;
  if (ifd > count - 2) return Found(header, kPictureTiff, 0, 0);
  const uint32_t entries = u16(ifd);
  uint32_t width = 0, height = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t at = ifd + 2 + i * 12;
    if (at > count - 12) return Found(header, kPictureTiff, 0, 0);
    const uint32_t tag = u16(at), type = u16(at + 2);
    if (tag != 256 && tag != 257) continue;
    uint32_t value;
    if (type == 3) value = u16(at + 8);
    else if (type == 4) value = u32(at + 8);
    else return -2;
    (tag == 256 ? width : height) = value;
  }
  if (width == 0 || height == 0) return -2;
  return Found(header, kPictureTiff, width, height);
}

// Luma of 8-bit gamma-encoded channels (ITU-R BT.601 weights), 0-255.
double Luma(const uint8_t* bgra) { return 0.114 * bgra[0] + 0.587 * bgra[1] + 0.299 * bgra[2]; }

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

void FinishRow(PictureScaler* s) {
  const double area = static_cast<double>(s->sourceWidth) * s->sourceHeight;
  const uint64_t at = uint64_t{s->rowsOut} * s->width;
  for (uint32_t i = 0; i < s->width; ++i) {
    const double weighted = s->carry[2 * i], alpha = s->carry[2 * i + 1];
    const double level = alpha > 0.0 ? weighted / alpha : 0.0;
    s->luma[at + i] = static_cast<uint16_t>(level * 257.0 + 0.5);
    s->cover[at + i] = static_cast<uint8_t>(alpha / area * 255.0 + 0.5);
    s->carry[2 * i] = s->carry[2 * i + 1] = 0.0;
  }
  ++s->rowsOut;
}

// Where the lens has its full strength: 0 on the outermost pixel, rising
// smoothly (no step in level or slope at either end) to 1 at fade pixels in.
double Fade(uint32_t at, uint32_t length, uint32_t fade) {
  const uint32_t in = Min(at, length - 1 - at);
  if (in >= fade) return 1.0;
  const double t = static_cast<double>(in) / fade;
  return t * t * (3.0 - 2.0 * t);
}

// Rounds half away from 128, so lightening and darkening are mirror images.
uint8_t Level(double v) {
  if (v <= 0.0) return 0;
  if (v >= 255.0) return 255;
  const double d = v - 128.0;
  return static_cast<uint8_t>(d >= 0.0 ? 128 + static_cast<int>(d + 0.5)
                                        : 128 - static_cast<int>(0.5 - d));
}

}  // namespace

int32_t PeekPicture(const uint8_t* bytes, uint32_t count, PictureHeader* header) {
  header->kind = kPictureUnknown;
  header->width = header->height = 0;
  if (Starts(bytes, count, "\x89PNG\r\n\x1A\n", 8)) {
    if (count < 24 || !Starts(bytes + 12, count - 12, "IHDR", 4)) return -2;
    const uint32_t width = Be32(bytes + 16), height = Be32(bytes + 20);
    if (width == 0 || height == 0) return -2;
    return Found(header, kPicturePng, width, height);
  }
  if (Starts(bytes, count, "GIF87a", 6) || Starts(bytes, count, "GIF89a", 6)) {
    if (count < 10) return -2;
    const uint32_t width = Le16(bytes + 6), height = Le16(bytes + 8);
    if (width == 0 || height == 0) return -2;
    return Found(header, kPictureGif, width, height);
  }
  if (Starts(bytes, count, "BM", 2)) {
    if (count < 26) return -2;
    const uint32_t info = Le32(bytes + 14);
    if (info == 12) return Found(header, kPictureBmp, Le16(bytes + 18), Le16(bytes + 20));
    if (info < 40 || info > 124) return -2;
    const int32_t width = static_cast<int32_t>(Le32(bytes + 18));
    const int32_t height = static_cast<int32_t>(Le32(bytes + 22));
    if (width <= 0 || height == 0 || height == INT32_MIN) return -2;
    return Found(header, kPictureBmp, static_cast<uint32_t>(width),
                 static_cast<uint32_t>(height < 0 ? -height : height));
  }
  if (Starts(bytes, count, "\xFF\xD8\xFF", 3)) return PeekJpeg(bytes, count, header);
  if (Starts(bytes, count, "II*\0", 4) || Starts(bytes, count, "MM\0*", 4)) {
    if (count < 8) return -2;
    return PeekTiff(bytes, count, header);
  }
  if (Starts(bytes, count, "\0\0\1\0", 4)) {
    if (count < 8) return -2;
    if (Le16(bytes + 4) == 0) return -2;
    // The first image, as the decoders take; a side of 0 stands for 256.
    const uint32_t width = bytes[6] == 0 ? 256 : bytes[6];
    const uint32_t height = bytes[7] == 0 ? 256 : bytes[7];
    return Found(header, kPictureIco, width, height);
  }
  return -1;
}

const char* PictureKindName(int32_t kind) {
  switch (kind) {
    case kPicturePng: return "PNG";
    case kPictureJpeg: return "JPEG";
    case kPictureGif: return "GIF";
    case kPictureBmp: return "BMP";
    case kPictureTiff: return "TIFF";
    case kPictureIco: return "ICO";
    default: return "picture";
  }
}

int32_t CheckPictureSize(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > 65535 || height > 65535) return -1;
  return uint64_t{width} * height > kPicturePixelsMax ? -1 : 0;
}

int32_t PlanPictureMap(MapShape* shape, uint32_t pictureWidth, uint32_t pictureHeight,
                       uint32_t size) {
  if (CheckPictureSize(pictureWidth, pictureHeight) != 0 || size < kMapSizeMin ||
      size > kMapSizeMax)
    return -1;
  // Below 2^28: sides are at most 65535 and size at most 4096.
  uint32_t w = size, h = size;
  if (pictureWidth >= pictureHeight)
    h = (size * pictureHeight + pictureWidth / 2) / pictureWidth;
  else
    w = (size * pictureWidth + pictureHeight / 2) / pictureHeight;
  if (w == 0) w = 1;
  if (h == 0) h = 1;
  shape->contentWidth = w;
  shape->contentHeight = h;
  shape->width = w < 4 ? 4 : (w + 3) / 4 * 4;
  shape->height = h < 4 ? 4 : h;
  shape->left = (shape->width - w) / 2;
  shape->top = (shape->height - h) / 2;
  // 5% of the size: wide enough to hide the rim, narrow enough to keep most
  // of the picture at full strength; never more than half the shorter side.
  uint32_t fade = (size * 5 + 50) / 100;
  const uint32_t half = (Min(w, h) - 1) / 2;
  if (fade > half) fade = half;
  shape->fade = fade < 1 ? 1 : fade;
  return 0;
}

uint32_t PictureScalerBytes(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > kMapSizeMax || height > kMapSizeMax) return 0;
  // At most 32 x 4096 + 3 x 4096^2 bytes: far below 2^32.
  return width * 32 + width * height * 3;
}

void StartPictureScaler(PictureScaler* scaler, void* memory, uint32_t sourceWidth,
                        uint32_t sourceHeight, uint32_t width, uint32_t height) {
  scaler->sourceWidth = sourceWidth;
  scaler->sourceHeight = sourceHeight;
  scaler->width = width;
  scaler->height = height;
  scaler->rowsIn = scaler->rowsOut = 0;
  scaler->across = static_cast<double*>(memory);
  scaler->carry = scaler->across + 2 * width;
  scaler->luma = reinterpret_cast<uint16_t*>(scaler->carry + 2 * width);
  scaler->cover = reinterpret_cast<uint8_t*>(scaler->luma + width * height);
  for (uint32_t i = 0; i < 4 * width; ++i) scaler->across[i] = 0.0;
}

void FeedPictureRows(PictureScaler* s, const uint8_t* rows, uint32_t count, uint32_t stride) {
  // Positions in units of 1 / (source x content) of the picture's side: a
  // picture pixel spans content-many units, a content pixel source-many, so
  // every overlap is a whole number (below 2^28 for the sizes allowed).
  for (uint32_t r = 0; r < count && s->rowsIn < s->sourceHeight; ++r, ++s->rowsIn) {
    const uint8_t* pixel = rows + static_cast<uint64_t>(r) * stride;
    for (uint32_t i = 0; i < 2 * s->width; ++i) s->across[i] = 0.0;
    for (uint32_t x = 0; x < s->sourceWidth; ++x, pixel += 4) {
      if (pixel[3] == 0) continue;
      const double alpha = pixel[3] / 255.0, weighted = alpha * Luma(pixel);
      uint32_t lo = x * s->width;
      const uint32_t hi = lo + s->width;
      for (uint32_t i = lo / s->sourceWidth; lo < hi; ++i) {
        const uint32_t end = Min(hi, (i + 1) * s->sourceWidth);
        s->across[2 * i] += (end - lo) * weighted;
        s->across[2 * i + 1] += (end - lo) * alpha;
        lo = end;
      }
    }
    uint32_t lo = s->rowsIn * s->height;
    const uint32_t hi = lo + s->height;
    for (uint32_t j = lo / s->sourceHeight; lo < hi; ++j) {
      const uint32_t rowEnd = (j + 1) * s->sourceHeight, end = Min(hi, rowEnd);
      const double share = end - lo;
      for (uint32_t i = 0; i < 2 * s->width; ++i) s->carry[i] += share * s->across[i];
      if (end == rowEnd) FinishRow(s);
      lo = end;
    }
  }
}

uint32_t PictureBackground(const PictureScaler* s) {
  // The exact median of 16-bit levels in two passes of 256 bins, so the
  // stack stays small: first the high byte, then the low byte within it.
  uint32_t bins[256];
  uint32_t high = 0, rank = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t& b : bins) b = 0;
    uint32_t n = 0;
    for (uint32_t y = 0; y < s->height; ++y) {
      const bool edgeRow = y == 0 || y == s->height - 1;
      for (uint32_t x = 0; x < s->width; x = edgeRow || x + 1 == s->width ? x + 1 : s->width - 1) {
        const uint64_t at = uint64_t{y} * s->width + x;
        if (s->cover[at] < 128) continue;
        const uint32_t level = s->luma[at];
        if (pass == 1 && level >> 8 != high) continue;
        ++bins[pass == 0 ? level >> 8 : level & 0xFF];
        ++n;
      }
    }
    if (pass == 0) {
      if (n == 0) return 32768;
      rank = (n + 1) / 2;  // 1-based rank of the lower median
    }
    uint32_t seen = 0, b = 0;
    while (seen + bins[b] < rank) seen += bins[b++];
    if (pass == 0) {
      high = b;
      rank -= seen;
    } else {
      return high << 8 | b;
    }
  }
  return 32768;
}

void ShadePictureMap(const PictureScaler* s, const MapShape* shape, uint8_t* map) {
  const uint64_t mapBytes = uint64_t{shape->width} * shape->height;
  for (uint64_t i = 0; i < mapBytes; ++i) map[i] = 128;
  const double background = PictureBackground(s);
  // How far from the background the picture's subject reaches (its pixels
  // more than 4 levels off the background, covered part only): the farthest
  // level but for the outermost tenth of them. A logo's ink then keeps its
  // full depth, while a photo, whose subject spreads over many levels, is not
  // left faint by a few specks of glare; those few saturate.
  uint32_t bins[256];
  for (uint32_t& b : bins) b = 0;
  const uint64_t pixels = uint64_t{s->width} * s->height;
  uint64_t subject = 0;
  for (uint64_t i = 0; i < pixels; ++i) {
    double d = (s->luma[i] - background) * s->cover[i] / 255.0;
    if (d < 0.0) d = -d;
    if (d <= 4.0 * 257.0) continue;
    ++bins[static_cast<uint32_t>(d) >> 8];
    ++subject;
  }
  const uint64_t outliers = subject / 10;
  uint64_t beyond = 0;
  uint32_t top = 255;
  while (top > 0 && beyond + bins[top] <= outliers) beyond += bins[top--];
  double reach = 0.0;  // the farthest level within that last bin kept
  for (uint64_t i = 0; i < pixels; ++i) {
    double d = (s->luma[i] - background) * s->cover[i] / 255.0;
    if (d < 0.0) d = -d;
    if (static_cast<uint32_t>(d) >> 8 <= top && d > reach) reach = d;
  }
  // A picture within 8 levels of its background everywhere stays faint
  // rather than have its noise stretched over the whole range.
  const double floor = 8.0 * 257.0;
  const double gain = 127.0 / (reach > floor ? reach : floor);
  for (uint32_t y = 0; y < s->height; ++y) {
    const double down = Fade(y, s->height, shape->fade);
    uint8_t* out = map + uint64_t{shape->top + y} * shape->width + shape->left;
    const uint64_t at = uint64_t{y} * s->width;
    for (uint32_t x = 0; x < s->width; ++x) {
      // Saturated before it fades, so the fade alone sets the slope at the rim.
      double lens = gain * (s->luma[at + x] - background) * s->cover[at + x] / 255.0;
      lens = lens < -127.0 ? -127.0 : (lens > 127.0 ? 127.0 : lens);
      const double level = 128.0 + down * Fade(x, s->width, shape->fade) * lens;
      out[x] = Level(level);
    }
  }
}
