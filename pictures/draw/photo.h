#pragma once

#include <QImage>

// A close-up of a made-up eye, worked out pixel by pixel to look like a photograph.
namespace photo {

// 141 × 82 pixels times the scale, without transparency.
QImage paint(int scale);

} // namespace photo
