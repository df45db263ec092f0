#pragma once
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace portflash {

// The wizard's picture down the left of every page: 150 by 300 (logical) pixels.
inline constexpr int kPictureWidth = 150;
inline constexpr int kPictureHeight = 300;

// Both are painted here rather than loaded, at the screen's pixel ratio.
QPixmap WizardPicture(qreal devicePixelRatio);
QImage PaintIcon(int size);
QIcon ApplicationIcon();

}  // namespace portflash
