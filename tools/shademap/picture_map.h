// A picture becomes a shade map: its own background leaves the screen alone,
// brighter parts lighten and darker ones darken in proportion, and the lens
// fades to exactly gray 128 at its rim so it drifts without an edge. The
// decoders (Windows' own, in mkshademap.exe) hand the picture over a few rows
// at a time, so no picture is ever held whole here. Platform-free, no C
// library.
#pragma once
#include <cstdint>

enum PictureKind : int32_t {
  kPictureUnknown = 0,
  kPicturePng,
  kPictureJpeg,
  kPictureGif,
  kPictureBmp,
  kPictureTiff,
  kPictureIco,
};

struct PictureHeader {
  int32_t kind;
  // The size the header claims; 0 x 0 when it lies beyond the bytes looked at
  // (a JPEG's frame header after a long block of camera data, say).
  uint32_t width;
  uint32_t height;
};

// Reads the kind and claimed size from the first count bytes of a file, so a
// picture too large is refused before any decoder is given it. 0 for a kind
// it knows; -1 when the bytes are no picture it knows (a decoder may still);
// -2 when they start as one of its kinds but the header is cut short or
// broken.
int32_t PeekPicture(const uint8_t* bytes, uint32_t count, PictureHeader* header);

// "PNG", "JPEG", ... ("picture" for kPictureUnknown).
const char* PictureKindName(int32_t kind);

// Pictures mkshademap reads: each side 1-65535, at most this many pixels.
// Decoders that hold a picture whole (GDI+ always, some of the imaging
// component's) need room for it, and a 32-bit process has little.
constexpr uint64_t kPicturePixelsMax = 100000000;

// 0 when width x height is a picture size the writer takes, else -1.
int32_t CheckPictureSize(uint32_t width, uint32_t height);

// Where the picture lands in the map. The longer side is size; the other
// keeps the aspect. The map's width is a multiple of 4 and neither side is
// below 4 (what the saver reads), made so by gray-128 columns or rows around
// the centred content. fade: the pixels over which the lens falls to 128.
struct MapShape {
  uint32_t width, height;
  uint32_t left, top;
  uint32_t contentWidth, contentHeight;
  uint32_t fade;
};

// 0, or -1 when the picture size or size is out of range.
int32_t PlanPictureMap(MapShape* shape, uint32_t pictureWidth, uint32_t pictureHeight,
                       uint32_t size);

// Brings a picture to the content size by area: each content pixel is the
// average of exactly the picture area it covers, weighted by alpha, so
// shrinking a 1-pixel checker gives an even gray and enlarging keeps edges.
struct PictureScaler {
  uint32_t sourceWidth, sourceHeight;
  uint32_t width, height;
  uint32_t rowsIn;   // picture rows fed so far
  uint32_t rowsOut;  // content rows finished
  double* across;    // 2 x width: the row being fed, resampled across (alpha x luma, alpha)
  double* carry;     // 2 x width: the content row still open
  uint16_t* luma;    // width x height: brightness of the covered part, 0-65535
  uint8_t* cover;    // width x height: how much of the pixel the picture covers, 0-255
};

// Bytes of memory a scaler to width x height needs, or 0 when that is out of range.
uint32_t PictureScalerBytes(uint32_t width, uint32_t height);

// memory: PictureScalerBytes(width, height) bytes, 8-byte aligned, kept by the caller.
void StartPictureScaler(PictureScaler* scaler, void* memory, uint32_t sourceWidth,
                        uint32_t sourceHeight, uint32_t width, uint32_t height);

// The next count picture rows, top first: 4 bytes a pixel (blue, green, red,
// alpha; straight, not premultiplied), stride bytes from row to row. Rows
// beyond the picture's height are ignored.
void FeedPictureRows(PictureScaler* scaler, const uint8_t* rows, uint32_t count, uint32_t stride);

// The background's brightness, 0-65535: the median over the content's outer
// pixels that the picture mostly covers; mid gray when none is (a picture
// transparent all round).
uint32_t PictureBackground(const PictureScaler* scaler);

// Writes the map (shape->width x shape->height bytes, top row first) from a
// scaler fed every row: 128 + coverage x gain x (brightness - background),
// where gain brings the subject's farthest level from the background (but for
// its outermost tenth, which saturates) to 1 or 255, times a smooth step from
// 0 at the content's outermost pixels to 1 at fade pixels in.
void ShadePictureMap(const PictureScaler* scaler, const MapShape* shape, uint8_t* map);
