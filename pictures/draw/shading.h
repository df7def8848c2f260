#pragma once

// Helpers for pictures worked out pixel by pixel from formulas.

#include <QRgb>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

constexpr double pi = std::numbers::pi;

inline double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

inline double smoothstep(double edge0, double edge1, double x)
{
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}

inline double gaussian(double offset, double spread)
{
    return std::exp(-(offset * offset) / (2 * spread * spread));
}

// A smooth hump over 0..1 whose top sits at peakAt; zero outside.
inline double bump(double t, double peakAt)
{
    if (t <= 0 || t >= 1)
        return 0;
    return std::sin(pi * std::pow(t, std::log(0.5) / std::log(peakAt)));
}

struct Rgb
{
    double r = 0;
    double g = 0;
    double b = 0;
};

inline Rgb mix(Rgb a, Rgb b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

inline Rgb scaled(Rgb c, double factor)
{
    return {c.r * factor, c.g * factor, c.b * factor};
}

inline QRgb toQRgb(Rgb c)
{
    const auto channel = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0))); };
    return qRgb(channel(c.r), channel(c.g), channel(c.b));
}

// Hash-based value noise: the same coordinates always give the same texture.
inline std::uint32_t mixBits(std::uint32_t v)
{
    v ^= v >> 16;
    v *= 0x7feb352dU;
    v ^= v >> 15;
    v *= 0x846ca68bU;
    v ^= v >> 16;
    return v;
}

inline double latticeValue(int x, int y, std::uint32_t seed)
{
    const std::uint32_t h = mixBits(static_cast<std::uint32_t>(x) * 0x9e3779b1U
                                    ^ mixBits(static_cast<std::uint32_t>(y) + seed * 0x85ebca77U));
    return (h & 0xffffffU) / double(0x1000000);
}

inline double valueNoise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    const double u = smoothstep(0, 1, x - fx);
    const double v = smoothstep(0, 1, y - fy);
    const double top =
        latticeValue(ix, iy, seed) + (latticeValue(ix + 1, iy, seed) - latticeValue(ix, iy, seed)) * u;
    const double bottom = latticeValue(ix, iy + 1, seed)
        + (latticeValue(ix + 1, iy + 1, seed) - latticeValue(ix, iy + 1, seed)) * u;
    return top + (bottom - top) * v;
}
