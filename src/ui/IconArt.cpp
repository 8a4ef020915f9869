#include "ui/IconArt.h"

#include <QPainter>
#include <QPainterPath>

namespace {
// Proportions of the unit square.
constexpr double kWaveLeft = 0.16;
constexpr double kWaveRight = 0.84;
constexpr double kWaveRows[] = {0.38, 0.64};
constexpr double kAmplitude = 0.075;
constexpr double kStroke = 0.12;
constexpr double kOutline = 0.07;
constexpr double kCornerRadius = 0.2;
const QColor kDarkGlyph(0x2b, 0x2b, 0x2b);
const QColor kLightGlyph(0xf2, 0xf2, 0xf2);
const QColor kAccent(0x1f, 0x6f, 0xd0);

QPainterPath waves(double size)
{
    QPainterPath path;
    const double left = kWaveLeft * size, right = kWaveRight * size;
    const double step = (right - left) / 4;
    for (double row : kWaveRows) {
        const double y = row * size, a = kAmplitude * size;
        path.moveTo(left, y);
        // Two periods of a smooth wave.
        for (int i = 0; i < 4; ++i) {
            const double x0 = left + i * step;
            const double dy = (i % 2 == 0) ? -a : a;
            path.cubicTo(x0 + step * 0.35, y + dy * 1.3, x0 + step * 0.65, y + dy * 1.3, x0 + step, y);
        }
    }
    return path;
}
}

IconArt::Panel IconArt::panelFor(const QColor &background)
{
    if (!background.isValid())
        return Panel::Unknown;
    return background.lightnessF() >= 0.5 ? Panel::Light : Panel::Dark;
}

QImage IconArt::render(int frame, int pixelSize, Panel panel)
{
    const int size = qMax(1, pixelSize);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = waves(size);
    const double stroke = qMax(1.4, kStroke * size);
    auto strokeWith = [&](const QColor &colour, double width) {
        p.strokePath(path, QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    };
    if (frame == 1) {
        const double inset = size * 0.04;
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        p.drawRoundedRect(QRectF(inset, inset, size - 2 * inset, size - 2 * inset), kCornerRadius * size, kCornerRadius * size);
        strokeWith(Qt::white, stroke);
    } else if (panel == Panel::Light) {
        strokeWith(kDarkGlyph, stroke);
    } else if (panel == Panel::Dark) {
        strokeWith(kLightGlyph, stroke);
    } else {
        strokeWith(kDarkGlyph, stroke + 2 * qMax(1.0, kOutline * size));
        strokeWith(kLightGlyph, stroke);
    }
    return image;
}
