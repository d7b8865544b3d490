#include "window/PanelStyle.h"

#include "window/frmMain.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>

#include <optional>

namespace {

// An icon that asks the desktop's style (not the panel's, which would defer
// again) for the real one the first time it is drawn or measured.
class DeferredIcon : public QIconEngine
{
public:
    DeferredIcon(QStyle* style, QStyle::StandardPixmap which) : m_style(style), m_which(which) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    // Asked as the button is built; answering it must not read the files.
    bool isNull() override { return m_icon ? m_icon->isNull() : false; }
    QString key() const override { return QStringLiteral("DeferredIcon"); }
    QIconEngine* clone() const override { return new DeferredIcon(*this); }

private:
    const QIcon& icon()
    {
        if (!m_icon)
            m_icon = m_style ? m_style->standardIcon(m_which) : QIcon();
        return *m_icon;
    }

    QPointer<QStyle> m_style;
    QStyle::StandardPixmap m_which;
    std::optional<QIcon> m_icon;
};

} // namespace

QIcon PanelStyle::standardIcon(StandardPixmap icon, const QStyleOption* option,
                               const QWidget* widget) const
{
    if (icon == SP_ToolBarHorizontalExtensionButton && !option)
        return QIcon(new DeferredIcon(baseStyle(), icon));
    return QProxyStyle::standardIcon(icon, option, widget);
}

void setUpPanelApplication()
{
    QApplication::setApplicationName(QStringLiteral("QuendraAPP"));
    QApplication::setStyle(new PanelStyle);
    QApplication::setFont(frmMain::dialogFont());
}
