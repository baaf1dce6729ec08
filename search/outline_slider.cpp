#include "search/outline_slider.h"

#include <QPainter>
#include <QStyleOptionSlider>

OutlineSlider::OutlineSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
}

void OutlineSlider::SetOutline(std::shared_ptr<const Outline> outline)
{
    outline_ = std::move(outline);
    update();
}

// The bars stand symmetric about the middle line, over the groove's width; the handle is drawn
// over them by the style, as on a plain slider.
void OutlineSlider::paintEvent(QPaintEvent* event)
{
    if (!HasOutline()) {
        QSlider::paintEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int left = groove.left();
    const int middle = rect().center().y();
    const int reach = rect().height() / 2 - 1;
    const Outline columns = OutlineColumns(*outline_, groove.width());
    QPainter painter(this);
    const QColor played = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
    const QColor ahead = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Dark);
    for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
        const int x = left + column;
        const int half = columns[column] * reach / 32768;
        // A silent column is still a pixel high: the outline reads as a line through silence.
        painter.fillRect(x, middle - half, 1, 2 * half + 1, x < handle.center().x() ? played : ahead);
    }
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
