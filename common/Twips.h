#pragma once

#include <QRect>
#include <QtMath>

// The windows were laid out in twips, 15 to a pixel on the screens they were
// drawn for; this is the one conversion both programs use.
namespace Twips {

constexpr int kPerPixel = 15;

constexpr int toPixels(double twips)
{
    return qRound(twips / kPerPixel);
}

constexpr QRect toPixels(const QRect &twips)
{
    return {toPixels(twips.x()), toPixels(twips.y()), toPixels(twips.width()), toPixels(twips.height())};
}

constexpr double fromPixels(double pixels)
{
    return pixels * kPerPixel;
}

} // namespace Twips
