#pragma once

#include <QImage>

// A framed eye on the window's flat grey; showing the two frames in turn makes it blink.
namespace blink {

// 36 × 36 pixels times the scale, without transparency.
QImage paint(bool open, int scale);

} // namespace blink
