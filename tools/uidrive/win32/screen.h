// Pictures of what is on the screen: a window's screenshot, one pixel, the
// colours of a list cell, and which standard icon a message box shows. Read
// from the screen itself, so they show what the user would see (custom-drawn
// colours included); the window must not be covered.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace uidrive {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;  // row by row, top first
};

// The screen inside `rect` (screen coordinates).
Picture Capture(const RECT& rect);
// A 24-bit BMP file.
void SaveBmp(const Picture& picture, const std::string& path);
// "RRGGBB".
std::string ColourText(COLORREF colour);

// The colour most pixels have (the background) and the commonest other one
// (the text), from `rect` shrunk by a pixel on each side to skip grid lines.
struct CellColours {
  COLORREF background = 0;
  COLORREF foreground = 0;
};
CellColours ColoursIn(const RECT& screenRect);

// "error", "question", "warning", "information" or "none": the standard icon
// `iconControl` shows, found by drawing each on the dialog's face colour and
// comparing with the screen.
std::string StandardIconShown(HWND iconControl);

}  // namespace uidrive
