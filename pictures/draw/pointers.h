#pragma once

#include <QImage>

// Pointer pictures, built pixel by pixel so every edge is crisp: 32 pixels times the scale,
// in a few indexed colours and transparency.
namespace pointers {

// Its hot spot is the fingertip, at (12, 1) times the scale.
QImage pointingHand(int scale);
QImage computer(int scale);

} // namespace pointers
