#pragma once

#include <QProxyStyle>

// The desktop's style, with one change: the icons it draws from its own
// image files are read when first drawn, not when asked for. The menu bar
// asks for its overflow button's icon as it is built, and reading an image
// file by name makes Qt load every image-format plugin to guess its format;
// the button shows only when the menus do not fit, which in this window
// they always do.
class PanelStyle : public QProxyStyle
{
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

// The panel's look for the whole program, its message boxes and menus too:
// its name, this style, and the window's dialog font. Set before the window
// is built, the font is also the one every text field lays out its empty
// text in before taking its own, so that start-up loads one font fewer.
void setUpPanelApplication();
