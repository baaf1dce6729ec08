#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QSlider>

// Presses or releases the left mouse button on the middle of slider.
inline void SendSliderButton(QSlider* slider, QEvent::Type type)
{
    const QPointF at = slider->rect().center();
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, at, slider->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(slider, &event);
}

// Presses the left mouse button on slider, moves it to value and releases it, as a user
// dragging the knob does.
inline void PressAndReleaseSlider(QSlider* slider, int value)
{
    SendSliderButton(slider, QEvent::MouseButtonPress);
    slider->setValue(value);
    SendSliderButton(slider, QEvent::MouseButtonRelease);
}
