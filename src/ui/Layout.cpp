#include "ui/Layout.h"

#include <algorithm>
#include <numeric>

namespace tarnwick {

std::vector<Rect> AlignChildren(const Rect& client, const std::vector<AlignItem>& items) {
  std::vector<Rect> out(items.size());
  Rect room = client;
  room.width = std::max(room.width, 0);
  room.height = std::max(room.height, 0);

  auto place = [&](Align which) {
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].align != which) continue;
      const Rect& b = items[i].bounds;
      Rect& r = out[i];
      switch (which) {
        case Align::Top: {
          int h = std::clamp(b.height, 0, room.height);
          r = {room.left, room.top, room.width, h};
          room.top += h;
          room.height -= h;
          break;
        }
        case Align::Bottom: {
          int h = std::clamp(b.height, 0, room.height);
          r = {room.left, room.bottom() - h, room.width, h};
          room.height -= h;
          break;
        }
        case Align::Left: {
          int w = std::clamp(b.width, 0, room.width);
          r = {room.left, room.top, w, room.height};
          room.left += w;
          room.width -= w;
          break;
        }
        case Align::Right: {
          int w = std::clamp(b.width, 0, room.width);
          r = {room.right() - w, room.top, w, room.height};
          room.width -= w;
          break;
        }
        case Align::Client:
          r = room;
          break;
        case Align::None:
          break;
      }
    }
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].align == Align::None) out[i] = items[i].bounds;
  }
  place(Align::Top);
  place(Align::Bottom);
  place(Align::Left);
  place(Align::Right);
  place(Align::Client);
  return out;
}

Point CenterOnScreen(int screenWidth, int screenHeight, int width, int height) noexcept {
  auto axis = [](int screen, int size) { return size >= screen ? 0 : (screen - size) / 2; };
  return {axis(screenWidth, width), axis(screenHeight, height)};
}

std::vector<std::size_t> TabSequence(const std::vector<int>& tabOrders) {
  std::vector<std::size_t> idx;
  for (std::size_t i = 0; i < tabOrders.size(); ++i) {
    if (tabOrders[i] >= 0) idx.push_back(i);
  }
  std::stable_sort(idx.begin(), idx.end(),
                   [&](std::size_t a, std::size_t b) { return tabOrders[a] < tabOrders[b]; });
  return idx;
}

namespace {
// Decodes one UTF-8 sequence at p; 0 for a malformed or truncated one.
char32_t DecodeAt(const unsigned char* p) noexcept {
  unsigned char c = p[0];
  if (c < 0x80) return c;
  int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0) return 0;
  char32_t cp = c & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating NUL
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  return cp;
}
}  // namespace

char32_t MnemonicOf(const char* caption) noexcept {
  if (caption == nullptr) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(caption);
  while (*p != 0) {
    if (*p != '&') {
      ++p;
      continue;
    }
    if (p[1] == '&') {
      p += 2;
      continue;
    }
    if (p[1] == 0) return 0;
    char32_t cp = DecodeAt(p + 1);
    if (cp >= 'a' && cp <= 'z') cp -= 'a' - 'A';
    return cp;
  }
  return 0;
}

}  // namespace tarnwick
