#pragma once

#include "protocol/protocol.h"

#include <QWidget>

#include <array>

// Six seven-segment digits with decimal points, drawn as segment shapes:
// lit segments glow, unlit ones stay faintly visible, and the dim state
// lowers the glow.
class SevenSegmentDisplay : public QWidget
{
    Q_OBJECT

public:
    explicit SevenSegmentDisplay(QWidget* parent = nullptr);

    // Patterns in the module's bit order, leftmost position first.
    void setPatterns(const std::array<quint8, protocol::DisplayPositions>& patterns, bool dim);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<quint8, protocol::DisplayPositions> m_patterns{};
    bool m_dim = false;
};
