#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QRect>

#include <cmath>

// WCAG 2 relative luminance of an sRGB colour.
inline double relativeLuminance(const QColor &color)
{
    auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.red()) + 0.7152 * linear(color.green()) +
           0.0722 * linear(color.blue());
}

// WCAG 2 contrast ratio, from 1 (same) to 21 (black on white).
inline double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// The colour that covers most pixels of `area`: the face or background behind a text.
inline QColor dominantColor(const QImage &image, const QRect &area)
{
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    QRgb best = 0;
    int bestCount = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > bestCount) {
            best = it.key();
            bestCount = it.value();
        }
    }
    return QColor(best);
}

// The pixel of `area` that stands out most against `background`: the text's own colour
// where a stroke covers a whole pixel.
inline QColor mostContrastingColor(const QImage &image, const QRect &area, const QColor &background)
{
    QColor best = background;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor color(image.pixel(x, y));
            if (contrastRatio(color, background) > contrastRatio(best, background))
                best = color;
        }
    return best;
}
