#pragma once

#include <QGroupBox>

// A captioned group whose caption is set into its top edge, the border
// running out on either side of it, whatever the widget style would do.
// Controls inside keep their positions from the group's outer corner.
class GroupFrame : public QGroupBox
{
    Q_OBJECT

public:
    explicit GroupFrame(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
