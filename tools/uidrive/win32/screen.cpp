#include "win32/screen.h"

#include <cstdio>
#include <map>

#include "win32/window_access.h"

namespace uidrive {

namespace {

// Pixels of a device context's area, through a 32-bit top-down DIB.
Picture Grab(HDC source, int x, int y, int width, int height) {
  Picture picture;
  if (width <= 0 || height <= 0) Fail("empty area");
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) {
    DeleteDC(memory);
    Fail("cannot make a bitmap");
  }
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  GdiFlush();
  picture.width = width;
  picture.height = height;
  const auto* p = static_cast<const DWORD*>(bits);
  for (int i = 0; i < width * height; ++i)
    picture.pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return picture;
}

int Distance(COLORREF a, COLORREF b) {
  return abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) +
         abs(GetBValue(a) - GetBValue(b));
}

}  // namespace

Picture Capture(const RECT& rect) {
  HDC screen = GetDC(nullptr);
  Picture picture = Grab(screen, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  ReleaseDC(nullptr, screen);
  return picture;
}

void SaveBmp(const Picture& picture, const std::string& path) {
  const int stride = (picture.width * 3 + 3) & ~3;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = picture.width;
  header.biHeight = picture.height;  // bottom-up
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(stride * picture.height);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + header.biSizeImage;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) Fail("cannot write " + path);
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&header, sizeof header, 1, out);
  std::vector<unsigned char> line(static_cast<std::size_t>(stride), 0);
  for (int y = picture.height - 1; y >= 0; --y) {
    for (int x = 0; x < picture.width; ++x) {
      const COLORREF c = picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
      line[static_cast<std::size_t>(x * 3)] = GetBValue(c);
      line[static_cast<std::size_t>(x * 3 + 1)] = GetGValue(c);
      line[static_cast<std::size_t>(x * 3 + 2)] = GetRValue(c);
    }
    std::fwrite(line.data(), line.size(), 1, out);
  }
  const bool written = std::ferror(out) == 0;
  if (std::fclose(out) != 0 || !written) Fail("cannot write " + path);
}

std::string ColourText(COLORREF colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

CellColours ColoursIn(const RECT& screenRect) {
  RECT inner = screenRect;
  InflateRect(&inner, -1, -1);
  const Picture picture = Capture(inner);
  std::map<COLORREF, int> counts;
  for (COLORREF c : picture.pixels) ++counts[c];
  CellColours colours;
  int best = -1;
  for (const auto& [colour, count] : counts)
    if (count > best) best = count, colours.background = colour;
  colours.foreground = colours.background;
  best = -1;
  for (const auto& [colour, count] : counts)
    if (colour != colours.background && count > best) best = count, colours.foreground = colour;
  return colours;
}

std::string StandardIconShown(HWND iconControl) {
  if (!iconControl || !IsWindowVisible(iconControl)) return "none";
  RECT rect;
  GetWindowRect(iconControl, &rect);
  const int size = GetSystemMetrics(SM_CXICON);
  rect.right = rect.left + size;
  rect.bottom = rect.top + size;
  const Picture shown = Capture(rect);
  struct Kind {
    LPCSTR id;
    const char* name;
  };
  const Kind kinds[] = {{IDI_HAND, "error"},
                        {IDI_QUESTION, "question"},
                        {IDI_EXCLAMATION, "warning"},
                        {IDI_ASTERISK, "information"}};
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
  HGDIOBJ old = SelectObject(memory, bitmap);
  std::string best = "none";
  long bestDifference = -1;
  for (const Kind& kind : kinds) {
    RECT all{0, 0, size, size};
    FillRect(memory, &all, GetSysColorBrush(COLOR_3DFACE));
    DrawIcon(memory, 0, 0, LoadIconA(nullptr, kind.id));
    const Picture drawn = Grab(memory, 0, 0, size, size);
    long difference = 0;
    for (std::size_t i = 0; i < drawn.pixels.size() && i < shown.pixels.size(); ++i)
      difference += Distance(drawn.pixels[i], shown.pixels[i]);
    if (bestDifference < 0 || difference < bestDifference) bestDifference = difference, best = kind.name;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return best;
}

}  // namespace uidrive
