#pragma once

#include <QRect>

#include <cmath>

// Window lengths are given in twips; 15 twips make one device-independent pixel.
namespace quavelle {

inline constexpr float kTwipsPerPixel = 15.0f;

inline int TwipsToPixels(float twips) {
  return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

inline float PixelsToTwips(int pixels) { return static_cast<float>(pixels) * kTwipsPerPixel; }

inline QRect TwipsRect(float left, float top, float width, float height) {
  return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
               TwipsToPixels(height));
}

}  // namespace quavelle
