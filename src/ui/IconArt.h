#pragma once
// The tray icon drawn from paths, so it is crisp at any size and scale.
// Frame 0 is the closed look (two waves), frame 1 the open look (white waves
// on an accent square). The closed look follows the panel's brightness; on a
// panel of unknown colour its light waves carry a dark outline, so they read
// on light and dark panels alike.
#include <QColor>
#include <QImage>

namespace IconArt {
enum class Panel { Unknown, Light, Dark };

// The panel kind a background colour stands for.
Panel panelFor(const QColor &background);
// Frame `frame` as a square image of pixelSize device pixels.
QImage render(int frame, int pixelSize, Panel panel);
}
