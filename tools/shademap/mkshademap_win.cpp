// mkshademap.exe: the map writer for Windows users. Turns a picture into a
// shade map through the decoders Windows has, or writes a built-in pattern.
//
//   mkshademap PICTURE OUT.bmp [SIZE]    SIZE: the longer side, 64-4096 (default 128)
//   mkshademap PATTERN OUT.bmp [SIZE]    SIZE: 64-4096, a multiple of 4
//   mkshademap --list
//   mkshademap PICTURE                   (a picture dropped on it in Explorer)
//                                        writes glmire.bmp beside the picture
//
// Like the saver it links no C runtime and imports only what Windows 95 and
// NT 4.0 implement: the imaging component and GDI+ are found at run time,
// and where neither is, BMP pictures still go through the system's own loader.
#include <windows.h>
#include <wincodec.h>

#include "effect/shade_map_format.h"
#include "tools/shademap/map_file.h"
#include "tools/shademap/picture_map.h"

namespace {

// ---- Messages: the console, or a message box when started by a drop, whose
// console window closes before anyone can read it.

struct Text {
  char chars[1536];
  uint32_t length;
};
Text gText;
bool gDropped;

void Add(Text* t, const char* s) {
  while (*s != '\0' && t->length + 1 < sizeof t->chars) t->chars[t->length++] = *s++;
  t->chars[t->length] = '\0';
}
void AddNumber(Text* t, uint32_t v) {
  char digits[12];
  int n = 0;
  do digits[n++] = static_cast<char>('0' + v % 10);
  while ((v /= 10) != 0);
  char s[12];
  for (int i = 0; i < n; ++i) s[i] = digits[n - 1 - i];
  s[n] = '\0';
  Add(t, s);
}
void AddSize(Text* t, uint32_t w, uint32_t h) {
  AddNumber(t, w);
  Add(t, " x ");
  AddNumber(t, h);
}

void Write(DWORD which, const char* s, uint32_t length) {
  HANDLE out = GetStdHandle(which);
  DWORD written;
  if (out != nullptr && out != INVALID_HANDLE_VALUE) WriteFile(out, s, length, &written, nullptr);
}

// Says the message built in gText. Errors start "mkshademap: " on the console.
void Say(bool error) {
  if (gDropped) {
    MessageBoxA(nullptr, gText.chars, "mkshademap",
                MB_OK | MB_SETFOREGROUND | (error ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
    return;
  }
  const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  if (error) Write(which, "mkshademap: ", 12);
  Write(which, gText.chars, gText.length);
  Write(which, "\r\n", 2);
}

int Fail(int code) {
  Say(true);
  return code;
}

void Begin() { gText.length = 0, gText.chars[0] = '\0'; }

void AddSystemReason(Text* t, DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: Add(t, "access is denied"); break;
    case ERROR_PATH_NOT_FOUND: Add(t, "the folder does not exist"); break;
    case ERROR_FILE_NOT_FOUND: Add(t, "the file does not exist"); break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: Add(t, "the disk is full"); break;
    case ERROR_WRITE_PROTECT: Add(t, "the disk is write-protected"); break;
    case ERROR_SHARING_VIOLATION: Add(t, "another program has it open"); break;
    default: Add(t, "Windows error "); AddNumber(t, error);
  }
}

// ---- Memory and files

void* Take(uint32_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}
void Give(void* block) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}

bool IsFile(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Up to count bytes from the start of the file; -1 when it cannot be opened.
int32_t ReadStart(const char* path, uint8_t* into, uint32_t count) {
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  const BOOL read = ReadFile(f, into, count, &got, nullptr);
  CloseHandle(f);
  return read ? static_cast<int32_t>(got) : -1;
}

bool Join(char* out, uint32_t capacity, const char* a, const char* b) {
  uint32_t n = 0;
  const char* parts[] = {a, b};
  for (const char* s : parts)
    for (; *s != '\0'; ++s) {
      if (n + 1 >= capacity) return false;
      out[n++] = *s;
    }
  out[n] = '\0';
  return true;
}

// The folder part of path, with its last backslash (or slash), or "".
void FolderOf(const char* path, char* out) {
  uint32_t keep = 0, n = 0;
  for (const char* p = path; *p != '\0'; p = CharNextA(p)) {
    n = static_cast<uint32_t>(p - path);
    if (*p == '\\' || *p == '/' || *p == ':') keep = n + 1;
  }
  for (uint32_t i = 0; i < keep; ++i) out[i] = path[i];
  out[keep] = '\0';
}

const char* NameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; p = CharNextA(p))
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  return name;
}

// Puts from in place of to. MoveFileExA is a stub on the 9x family, so there
// the old file is deleted first.
bool Replace(const char* from, const char* to) {
  using MoveEx = BOOL(WINAPI*)(const char*, const char*, DWORD);
  const auto moveEx = reinterpret_cast<MoveEx>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "MoveFileExA")));
  if (moveEx && moveEx(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
  if (moveEx && GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  if (IsFile(to) && !DeleteFileA(to)) return false;
  return MoveFileA(from, to) != 0;
}

// ---- Reading the picture

enum Outcome {
  kRead = 0,
  kUnavailable = -1,  // this decoder is not on the system, or does not know the kind
  kFailed = -2,       // message in gText
};

struct Job {
  uint32_t size;
  const char* path;
  PictureHeader peeked;
  MapShape shape;
  PictureScaler scaler;
  void* scalerMemory;
  uint8_t* strip;
  uint32_t stripRows;
  const char* decoder;
  uint32_t width, height;  // as the decoder read them
  bool haveWic, haveGdiplus;  // found on this system, whatever they made of the file
};

// The decoder has read the picture's size: check it, plan the map, and take
// the memory the scaling needs: the content at map size and a strip of about
// 1 MB of picture rows, however large the picture.
int BeginPicture(Job* job, uint32_t width, uint32_t height) {
  job->width = width;
  job->height = height;
  Begin();
  if (PlanPictureMap(&job->shape, width, height, job->size) != 0) {
    Add(&gText, job->path);
    Add(&gText, " is ");
    AddSize(&gText, width, height);
    Add(&gText, " pixels; pictures of at most 100 megapixels and 65535 pixels a side are read");
    return kFailed;
  }
  job->stripRows = (1u << 20) / (width * 4);
  if (job->stripRows == 0) job->stripRows = 1;
  if (job->stripRows > height) job->stripRows = height;
  job->scalerMemory = Take(PictureScalerBytes(job->shape.contentWidth, job->shape.contentHeight));
  job->strip = static_cast<uint8_t*>(Take(job->stripRows * width * 4));
  if (!job->scalerMemory || !job->strip) {
    Add(&gText, "not enough memory for ");
    Add(&gText, job->path);
    return kFailed;
  }
  StartPictureScaler(&job->scaler, job->scalerMemory, width, height, job->shape.contentWidth,
                     job->shape.contentHeight);
  return kRead;
}

int Broken(const Job* job, const char* how) {
  Begin();
  Add(&gText, job->path);
  Add(&gText, how);
  return kFailed;
}

bool Wide(const char* path, wchar_t* out, int capacity) {
  return MultiByteToWideChar(CP_ACP, 0, path, -1, out, capacity) > 0;
}

// The imaging component (Vista on; XP with it installed), through COM.
const CLSID kWicFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const IID kWicFactoryInterface = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
const GUID kWicBgra = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};
const HRESULT kWicNoDecoder = static_cast<HRESULT>(0x88982F50);  // WINCODEC_ERR_COMPONENTNOTFOUND

template <typename T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

int ReadWithWic(Job* job, const wchar_t* path) {
  HMODULE ole = LoadLibraryA("ole32.dll");
  if (!ole) return kUnavailable;
  using Init = HRESULT(WINAPI*)(void*);
  using Create = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);
  using Uninit = void(WINAPI*)();
  const auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(ole, "CoInitialize")));
  const auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(ole, "CoCreateInstance")));
  const auto uninit = reinterpret_cast<Uninit>(reinterpret_cast<void*>(GetProcAddress(ole, "CoUninitialize")));
  int result = kUnavailable;
  IWICImagingFactory* factory = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  const bool started = init && create && uninit && SUCCEEDED(init(nullptr));
  if (started && SUCCEEDED(create(kWicFactory, nullptr, CLSCTX_INPROC_SERVER, kWicFactoryInterface,
                                  reinterpret_cast<void**>(&factory)))) {
    job->haveWic = true;
    const HRESULT opened = factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ,
                                                              WICDecodeMetadataCacheOnDemand, &decoder);
    UINT w = 0, h = 0;
    if (opened == kWicNoDecoder) {
      result = kUnavailable;  // perhaps GDI+ knows it
    } else if (FAILED(opened) || FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&w, &h))) {
      result = Broken(job, " cannot be read: it is damaged or cut short");
    } else if ((result = BeginPicture(job, w, h)) == kRead) {
      if (FAILED(factory->CreateFormatConverter(&converter)) ||
          FAILED(converter->Initialize(frame, kWicBgra, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom))) {
        result = Broken(job, " cannot be read: its pixel format cannot be converted");
      } else {
        for (uint32_t top = 0; top < h && result == kRead; top += job->stripRows) {
          const uint32_t rows = h - top < job->stripRows ? h - top : job->stripRows;
          const WICRect rect = {0, static_cast<INT>(top), static_cast<INT>(w), static_cast<INT>(rows)};
          if (FAILED(converter->CopyPixels(&rect, w * 4, rows * w * 4, job->strip)))
            result = Broken(job, " cannot be read: it is damaged or cut short");
          else
            FeedPictureRows(&job->scaler, job->strip, rows, w * 4);
        }
      }
    }
  }
  Release(converter);
  Release(frame);
  Release(decoder);
  Release(factory);
  if (started) uninit();
  FreeLibrary(ole);
  if (result == kRead) job->decoder = "the Windows Imaging Component";
  return result;
}

// GDI+ (XP on, and where installed), through its flat API.
struct GdiplusInput {
  UINT32 version;
  void* debugCallback;
  BOOL suppressBackgroundThread;
  BOOL suppressExternalCodecs;
};
struct GdiplusRect {
  INT x, y, width, height;
};
struct GdiplusBits {
  UINT width, height;
  INT stride;
  INT format;
  void* scan0;
  UINT_PTR reserved;
};
const INT kGdiplusArgb = 0x0026200A;  // PixelFormat32bppARGB: blue, green, red, alpha in memory
const UINT kGdiplusRead = 1;          // ImageLockModeRead

int ReadWithGdiplus(Job* job, const wchar_t* path) {
  HMODULE gdiplus = LoadLibraryA("gdiplus.dll");
  if (!gdiplus) return kUnavailable;
  using Startup = int(WINAPI*)(ULONG_PTR*, const GdiplusInput*, void*);
  using Shutdown = void(WINAPI*)(ULONG_PTR);
  using FromFile = int(WINAPI*)(const wchar_t*, void**);
  using Side = int(WINAPI*)(void*, UINT*);
  using Lock = int(WINAPI*)(void*, const GdiplusRect*, UINT, INT, GdiplusBits*);
  using Unlock = int(WINAPI*)(void*, GdiplusBits*);
  using Dispose = int(WINAPI*)(void*);
  auto find = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(gdiplus, name)); };
  const auto startup = reinterpret_cast<Startup>(find("GdiplusStartup"));
  const auto shutdown = reinterpret_cast<Shutdown>(find("GdiplusShutdown"));
  const auto fromFile = reinterpret_cast<FromFile>(find("GdipCreateBitmapFromFile"));
  const auto width = reinterpret_cast<Side>(find("GdipGetImageWidth"));
  const auto height = reinterpret_cast<Side>(find("GdipGetImageHeight"));
  const auto lock = reinterpret_cast<Lock>(find("GdipBitmapLockBits"));
  const auto unlock = reinterpret_cast<Unlock>(find("GdipBitmapUnlockBits"));
  const auto dispose = reinterpret_cast<Dispose>(find("GdipDisposeImage"));
  int result = kUnavailable;
  ULONG_PTR token = 0;
  const GdiplusInput input = {1, nullptr, FALSE, FALSE};
  if (startup && shutdown && fromFile && width && height && lock && unlock && dispose &&
      startup(&token, &input, nullptr) == 0) {
    job->haveGdiplus = true;
    void* bitmap = nullptr;
    UINT w = 0, h = 0;
    const int opened = fromFile(path, &bitmap);
    if (opened != 0 || width(bitmap, &w) != 0 || height(bitmap, &h) != 0) {
      // GDI+ tells an unknown kind from a damaged file by no status of its own.
      result = job->peeked.kind == kPictureUnknown ? kUnavailable
                                                  : Broken(job, " cannot be read: it is damaged or cut short");
    } else if ((result = BeginPicture(job, w, h)) == kRead) {
      for (uint32_t top = 0; top < h && result == kRead; top += job->stripRows) {
        const uint32_t rows = h - top < job->stripRows ? h - top : job->stripRows;
        const GdiplusRect rect = {0, static_cast<INT>(top), static_cast<INT>(w), static_cast<INT>(rows)};
        GdiplusBits bits = {};
        if (lock(bitmap, &rect, kGdiplusRead, kGdiplusArgb, &bits) != 0 || bits.stride <= 0) {
          result = Broken(job, " cannot be read: it is damaged or cut short");
        } else {
          FeedPictureRows(&job->scaler, static_cast<const uint8_t*>(bits.scan0), rows,
                          static_cast<uint32_t>(bits.stride));
          unlock(bitmap, &bits);
        }
      }
    }
    if (bitmap) dispose(bitmap);
    shutdown(token);
  }
  FreeLibrary(gdiplus);
  if (result == kRead) job->decoder = "GDI+";
  return result;
}

// Every Windows: BMP files of any depth through the system's own loader,
// converted to 32 bits a strip at a time.
int ReadWithBmpLoader(Job* job) {
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(nullptr, job->path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (!bitmap) return job->peeked.kind == kPictureBmp ? Broken(job, " cannot be read: it is damaged or cut short")
                                                      : kUnavailable;
  BITMAP info;
  int result = kFailed;
  HDC dc = nullptr;
  if (GetObjectA(bitmap, sizeof info, &info) != sizeof info || info.bmWidth <= 0 || info.bmHeight <= 0) {
    result = Broken(job, " cannot be read: it is damaged or cut short");
  } else if ((result = BeginPicture(job, static_cast<uint32_t>(info.bmWidth),
                                    static_cast<uint32_t>(info.bmHeight))) == kRead &&
             (dc = CreateCompatibleDC(nullptr)) != nullptr) {
    const uint32_t w = job->width, h = job->height;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = static_cast<LONG>(w);
    format.bmiHeader.biHeight = static_cast<LONG>(h);  // bottom-up: scan 0 is the bottom row
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    for (uint32_t top = 0; top < h && result == kRead; top += job->stripRows) {
      const uint32_t rows = h - top < job->stripRows ? h - top : job->stripRows;
      if (GetDIBits(dc, bitmap, h - top - rows, rows, job->strip, &format, DIB_RGB_COLORS) != static_cast<int>(rows)) {
        result = Broken(job, " cannot be read: it is damaged or cut short");
        break;
      }
      // The loader leaves the fourth byte undefined: BMP pixels are opaque here.
      for (uint32_t i = 0; i < rows * w; ++i) job->strip[i * 4 + 3] = 255;
      for (uint32_t r = 0; r < rows; ++r) FeedPictureRows(&job->scaler, job->strip + (rows - 1 - r) * w * 4, 1, w * 4);
    }
  } else if (result == kRead) {
    result = Broken(job, ": no device context to convert it in");
  }
  if (dc) DeleteDC(dc);
  DeleteObject(bitmap);
  if (result == kRead) job->decoder = "the system's BMP loader";
  return result;
}

// An imaging component installed but not loadable. GDI+ may be built on it
// (Wine's is, and then fails with an exception it does not catch), so it is
// not tried; where no component was ever installed (XP as shipped), GDI+ has
// decoders of its own.
bool BrokenWic() {
  static char dll[MAX_PATH + 20];
  const UINT n = GetSystemDirectoryA(dll, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || !Join(dll, sizeof dll, dll, "\\windowscodecs.dll") || !IsFile(dll))
    return false;
  HMODULE wic = LoadLibraryA(dll);
  if (!wic) return true;
  FreeLibrary(wic);
  return false;
}

int ReadPicture(Job* job) {
  static uint8_t start[65536];
  const int32_t got = ReadStart(job->path, start, sizeof start);
  Begin();
  if (got < 0) {
    Add(&gText, "cannot open ");
    Add(&gText, job->path);
    Add(&gText, ": ");
    AddSystemReason(&gText, GetLastError());
    return kFailed;
  }
  // The claimed size is judged before any decoder sees the file: some hold
  // the whole picture, and a header can claim anything.
  const int32_t peek = PeekPicture(start, static_cast<uint32_t>(got), &job->peeked);
  if (peek == -2) {
    Add(&gText, job->path);
    Add(&gText, " cannot be read: its header is damaged or cut short");
    return kFailed;
  }
  if (peek == 0 && job->peeked.width != 0 &&
      CheckPictureSize(job->peeked.width, job->peeked.height) != 0) {
    Add(&gText, job->path);
    Add(&gText, " claims ");
    AddSize(&gText, job->peeked.width, job->peeked.height);
    Add(&gText, " pixels; pictures of at most 100 megapixels and 65535 pixels a side are read");
    return kFailed;
  }
  static wchar_t wide[MAX_PATH * 2];
  int result = kUnavailable;
  if (Wide(job->path, wide, MAX_PATH * 2)) {
    result = ReadWithWic(job, wide);
    if (result == kUnavailable && !BrokenWic()) result = ReadWithGdiplus(job, wide);
  }
  if (result == kUnavailable) result = ReadWithBmpLoader(job);
  if (result != kUnavailable) return result;
  Begin();
  Add(&gText, job->path);
  if (peek != 0) {
    Add(&gText, " is not a picture this system can read (PNG, JPEG, GIF, TIFF, ICO and BMP are)");
  } else {
    Add(&gText, " is a ");
    Add(&gText, PictureKindName(job->peeked.kind));
    Add(&gText, " picture, which this system cannot read: it has ");
    Add(&gText, job->haveWic || job->haveGdiplus ? "no decoder for it"
                                                 : "no working Windows Imaging Component or GDI+");
    Add(&gText, ", so only BMP pictures can be read here");
  }
  return kFailed;
}

// ---- Writing

// A file that is there and is not a map the saver reads stays untouched.
bool MayReplace(const char* out) {
  if (!IsFile(out)) return true;
  uint8_t head[kShadeMapHeaderBytes];
  ShadeMapLayout layout;
  const int32_t got = ReadStart(out, head, sizeof head);
  return got > 0 && CheckShadeMapHeader(head, static_cast<uint32_t>(got), &layout) == 0;
}

// Writes the whole file beside out, then puts it in out's place, so a failure
// leaves no half-written map and the old file as it was.
int WriteMap(const char* out, const uint8_t* file, uint32_t bytes, bool replace) {
  static char part[MAX_PATH + 8];
  Begin();
  if (!Join(part, sizeof part, out, ".new")) {
    Add(&gText, "the name ");
    Add(&gText, out);
    Add(&gText, " is too long");
    return 1;
  }
  HANDLE f = CreateFileA(part, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0, error = 0;
  if (f == INVALID_HANDLE_VALUE) {
    error = GetLastError();
  } else {
    if (!WriteFile(f, file, bytes, &written, nullptr) || written != bytes) error = GetLastError();
    if (!CloseHandle(f) && error == 0) error = GetLastError();
    if (error == 0 && written != bytes) error = ERROR_DISK_FULL;
    if (error == 0 && replace && !Replace(part, out)) error = GetLastError();
    if (error == 0 && !replace && !MoveFileA(part, out)) error = GetLastError();
    if (error != 0) DeleteFileA(part);
  }
  if (error == 0) return 0;
  Add(&gText, "cannot write ");
  Add(&gText, out);
  Add(&gText, ": ");
  AddSystemReason(&gText, error);
  return 1;
}

int Usage() {
  Begin();
  Add(&gText, "usage: mkshademap PICTURE OUT.bmp [SIZE]   (SIZE: the longer side, 64-4096, default 128)\r\n"
              "       mkshademap PATTERN OUT.bmp [SIZE]\r\n"
              "       mkshademap --list\r\n"
              "Or drop a picture on mkshademap.exe: it writes glmire.bmp beside the picture.");
  return Fail(2);
}

int List() {
  for (uint32_t i = 0; i < kMapPatternCount; ++i) {
    Begin();
    Add(&gText, kMapPatterns[i].name);
    for (uint32_t n = gText.length; n < 9; ++n) Add(&gText, " ");
    Add(&gText, kMapPatterns[i].description);
    Say(false);
  }
  return 0;
}

// Keeps the glmire.bmp a drop would replace as glmire-N.bmp; the name taken
// goes into kept. false when no name is free or the move fails.
bool KeepOld(const char* folder, const char* old, char* kept, uint32_t capacity) {
  for (uint32_t n = 1; n < 1000; ++n) {
    Text name = {};
    Add(&name, "glmire-");
    AddNumber(&name, n);
    Add(&name, ".bmp");
    if (!Join(kept, capacity, folder, name.chars)) return false;
    if (!IsFile(kept) && GetFileAttributesA(kept) == INVALID_FILE_ATTRIBUTES) return MoveFileA(old, kept) != 0;
  }
  return false;
}

int Run() {
  static char args[4][MAX_PATH + 1];
  const char* cursor = GetCommandLineA();
  int count = -1;  // the program's own name comes first
  for (;;) {
    static char skip[MAX_PATH * 4];
    char* into = count < 0 ? skip : args[count < 4 ? count : 3];
    const uint32_t room = count < 0 ? sizeof skip : sizeof args[0];
    const int32_t got = NextArgument(&cursor, into, room);
    if (got == 0) break;
    if (got < 0 && count >= 0) {
      Begin();
      Add(&gText, "an argument is longer than a Windows path");
      return Fail(2);
    }
    ++count;
  }
  if (count == 1 && lstrcmpA(args[0], "--list") == 0) return List();
  gDropped = count == 1 && IsFile(args[0]);
  if (count < 2 && !gDropped) return Usage();
  if (count > 3) return Usage();

  Job job = {};
  job.size = kMapSizeDefault;
  job.path = args[0];
  const bool picture = IsFile(args[0]);
  const int32_t pattern = picture ? -1 : FindMapPattern(args[0]);
  if (!picture && pattern < 0) {
    Begin();
    Add(&gText, "no picture or pattern named '");
    Add(&gText, args[0]);
    Add(&gText, "' (try --list)");
    return Fail(2);
  }
  if (count == 3 && (ParseMapSize(args[2], kMapSizeMin, kMapSizeMax, &job.size) != 0 ||
                     (!picture && job.size % 4 != 0))) {
    Begin();
    Add(&gText, picture ? "SIZE must be 64-4096" : "SIZE must be 64-4096 and a multiple of 4");
    return Fail(2);
  }

  static char out[MAX_PATH + 1];
  static char folder[MAX_PATH + 1];
  if (gDropped) {
    FolderOf(args[0], folder);
    if (!Join(out, sizeof out, folder, "glmire.bmp")) return Usage();
  } else {
    lstrcpynA(out, args[1], sizeof out);
    if (!MayReplace(out)) {
      Begin();
      Add(&gText, out);
      Add(&gText, " is there and is not a shade map, so it is left alone; name a new .bmp file");
      return Fail(1);
    }
  }

  uint32_t width = job.size, height = job.size;
  uint8_t* gray = nullptr;
  int status = 0;
  if (picture) {
    status = ReadPicture(&job) == kRead ? 0 : 1;
    if (status == 0 && job.scaler.rowsOut != job.scaler.height) {
      Broken(&job, " cannot be read: it ended early");
      status = 1;
    }
    if (status == 0) {
      width = job.shape.width;
      height = job.shape.height;
      gray = static_cast<uint8_t*>(Take(width * height));
      if (gray) ShadePictureMap(&job.scaler, &job.shape, gray);
    }
  } else {
    gray = static_cast<uint8_t*>(Take(width * height));
    if (gray) RenderMapPattern(static_cast<uint32_t>(pattern), gray, job.size);
  }
  Give(job.strip);
  Give(job.scalerMemory);
  if (status != 0) return Fail(status);

  const uint32_t bytes = MapFileBytes(width, height);
  uint8_t* file = gray && bytes ? static_cast<uint8_t*>(Take(bytes)) : nullptr;
  if (!file) {
    Give(gray);
    Begin();
    Add(&gText, "not enough memory for the map");
    return Fail(1);
  }
  EncodeMapFile(file, gray, width, height);
  Give(gray);

  static char kept[MAX_PATH + 1];
  kept[0] = '\0';
  if (gDropped && IsFile(out) && !KeepOld(folder, out, kept, sizeof kept)) {
    Give(file);
    Begin();
    Add(&gText, "cannot keep the glmire.bmp already in ");
    Add(&gText, folder[0] ? folder : "this folder");
    Add(&gText, " under another name: ");
    AddSystemReason(&gText, GetLastError());
    return Fail(1);
  }
  status = WriteMap(out, file, bytes, !gDropped);
  Give(file);
  if (status != 0) {
    if (kept[0] != '\0') MoveFileA(kept, out);  // the drop changes nothing after all
    return Fail(status);
  }

  Begin();
  Add(&gText, gDropped ? "Wrote " : "wrote ");
  Add(&gText, out);
  Add(&gText, " (");
  AddSize(&gText, width, height);
  Add(&gText, ")");
  if (picture) {
    Add(&gText, " from ");
    Add(&gText, NameOf(job.path));
    Add(&gText, " (");
    AddSize(&gText, job.width, job.height);
    Add(&gText, ", read by ");
    Add(&gText, job.decoder);
    Add(&gText, ")");
  }
  if (gDropped) {
    if (kept[0] != '\0') {
      Add(&gText, ".\r\n\r\nThe glmire.bmp that was there is kept as ");
      Add(&gText, NameOf(kept));
    }
    Add(&gText, ".\r\n\r\nNext: copy glmire.bmp into the folder that holds glmire.scr (the Windows "
                "folder, when the saver is installed there), replacing the one there. The saver "
                "drifts it over the screen the next time it starts; the screen saver settings' "
                "preview shows it at once.");
  }
  Say(false);
  return 0;
}

}  // namespace

extern "C" __attribute__((noreturn)) void StartMapWriter() { ExitProcess(static_cast<UINT>(Run())); }
