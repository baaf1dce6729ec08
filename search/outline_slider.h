#pragma once

#include "audio/loudness_outline.h"

#include <QSlider>

#include <memory>

// A horizontal slider whose groove shows a recording's loudness outline: a bar a pixel column
// wide for each column, as high as the loudest sample it covers, the part before the handle in
// the selection colour. The handle, the size and the mouse work as a plain slider's.
class OutlineSlider : public QSlider {
    Q_OBJECT

public:
    explicit OutlineSlider(QWidget* parent = nullptr);

    // The outline to draw; none draws the plain slider.
    void SetOutline(std::shared_ptr<const Outline> outline);
    bool HasOutline() const { return outline_ && !outline_->empty(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const Outline> outline_;
};
