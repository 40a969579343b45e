#pragma once

#include <QGroupBox>

// A frame drawn as a plain line with its caption on it, filled with its own colour (white, or the
// button face once skinned) rather than the style's tinted panel.
class PlainFrame final : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};
