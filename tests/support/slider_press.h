#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QSlider>

// Presses the left mouse button on slider, moves it to value and releases it, as a user
// dragging the knob does.
inline void PressAndReleaseSlider(QSlider* slider, int value)
{
    const QPointF at = slider->rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, at, slider->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, slider->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(slider, &press);
    slider->setValue(value);
    QApplication::sendEvent(slider, &release);
}
