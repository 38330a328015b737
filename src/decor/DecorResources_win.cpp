#include "decor/DecorResources_win.h"

namespace tarnwick {

UniqueBitmap LoadDecorBitmap(const wchar_t* name) {
  return UniqueBitmap(
      static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), name, IMAGE_BITMAP, 0, 0, 0)));
}

}  // namespace tarnwick
