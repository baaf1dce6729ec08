#include "styling/flat_style.h"

#include "styling/flat_colors.h"
#include "styling/flat_styler.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTextEdit>
#include <algorithm>

namespace {

// A style of the application's kind of its own: the proxy owns its base, and the
// application's style must not be handed over.
QStyle* ApplicationKindOfStyle()
{
    return QStyleFactory::create(QApplication::style()->name());
}

// Bevel lines of width pixels along the top and left edges in topLeft and along the bottom
// and right edges in bottomRight.
void DrawBevel(QPainter* painter, const QRect& rect, const QColor& topLeft, const QColor& bottomRight, int width)
{
    for (int ring = 0; ring < width; ++ring) {
        const QRect r = rect.adjusted(ring, ring, -ring, -ring);
        painter->fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
        painter->fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
        painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
        painter->fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    }
}

// A downward arrow of three lines (5, 3 and 1 pixels) centred in area.
void DrawComboArrow(QPainter* painter, const QRect& area, const QColor& colour)
{
    const QPoint centre = area.center();
    for (int line = 0; line < 3; ++line)
        painter->fillRect(QRect(centre.x() - 2 + line, centre.y() - 1 + line, 5 - 2 * line, 1), colour);
}

bool IsEditLike(const QWidget* widget)
{
    return qobject_cast<const QPlainTextEdit*>(widget) != nullptr || qobject_cast<const QTextEdit*>(widget) != nullptr;
}

} // namespace

FlatStyle::FlatStyle(const FlatStyler* styler)
    : QProxyStyle(ApplicationKindOfStyle()), styler_(styler), menus_(styler, this)
{
}

void FlatStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    switch (element) {
    case PE_PanelLineEdit:
        if (qobject_cast<const QLineEdit*>(widget) != nullptr) {
            const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
            DrawEditFrame(option, painter, widget, frame != nullptr ? frame->lineWidth : 1);
            return;
        }
        break;
    case PE_IndicatorCheckBox:
    case PE_IndicatorRadioButton:
        if (qobject_cast<const QAbstractButton*>(widget) != nullptr) {
            DrawIndicator(element, option, painter, widget);
            return;
        }
        break;
    case PE_FrameFocusRect:
        // The flat button shows its focus by its border colour.
        if (qobject_cast<const QPushButton*>(widget) != nullptr)
            return;
        break;
    case PE_PanelMenu:
        // The popup's own border stays; inside it the menu colour.
        if (qobject_cast<const QMenu*>(widget) != nullptr) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            const int border = std::max(1, pixelMetric(PM_MenuPanelWidth, option, widget));
            painter->fillRect(option->rect.adjusted(border, border, -border, -border), styler_->Colors().menu);
            return;
        }
        break;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void FlatStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const
{
    switch (element) {
    case CE_MenuItem:
        if (menus_.DrawItem(option, painter, widget))
            return;
        break;
    case CE_MenuBarItem:
        if (menus_.DrawBarItem(option, painter, widget))
            return;
        break;
    case CE_MenuBarEmptyArea:
        if (qobject_cast<const QMenuBar*>(widget) != nullptr) {
            painter->fillRect(option->rect, styler_->Colors().menuBar);
            return;
        }
        break;
    case CE_MenuEmptyArea:
        if (qobject_cast<const QMenu*>(widget) != nullptr) {
            painter->fillRect(option->rect, styler_->Colors().menu);
            return;
        }
        break;
    case CE_PushButtonBevel:
        if (qobject_cast<const QPushButton*>(widget) != nullptr) {
            DrawButtonBevel(option, painter, widget);
            return;
        }
        break;
    case CE_PushButtonLabel:
        if (qobject_cast<const QPushButton*>(widget) != nullptr) {
            DrawButtonLabel(option, painter, widget);
            return;
        }
        break;
    case CE_ShapedFrame:
        if (IsEditLike(widget)) {
            const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
            DrawEditFrame(option, painter, widget, frame != nullptr ? frame->lineWidth : 1);
            return;
        }
        if (styler_->IsPanel(widget)) {
            DrawPanel(option, painter);
            return;
        }
        break;
    default:
        break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void FlatStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                   const QWidget* widget) const
{
    if (control == CC_ComboBox && qobject_cast<const QComboBox*>(widget) != nullptr) {
        DrawCombo(option, painter, widget);
        return;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

QSize FlatStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                  const QWidget* widget) const
{
    const QSize proposed = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_MenuItem || type == CT_MenuBarItem)
        return menus_.Measure(option, proposed, widget, type == CT_MenuBarItem);
    return proposed;
}

// An edit's frame: one pixel in the select-border colour while hot or focused, otherwise one
// that sets it off from (or, without a border of its own, melts into) its parent's background.
void FlatStyle::DrawEditFrame(const QStyleOption* option, QPainter* painter, const QWidget* widget, int lineWidth) const
{
    const DerivedColors colors = styler_->Colors();
    const bool single = lineWidth > 0;
    const bool hot = styler_->IsHot(widget) || (option->state & State_HasFocus);
    const QWidget* parent = widget->parentWidget();
    const QColor parentBackground = parent != nullptr ? parent->palette().color(parent->backgroundRole())
                                                      : option->palette.color(QPalette::Window);
    QColor frame;
    if (hot)
        frame = NewColor(colors.selectBorder, single ? 60 : 80);
    else
        frame = single ? GetShadeColor(parentBackground, 60) : parentBackground;
    if (qobject_cast<const QLineEdit*>(widget) != nullptr) {
        painter->fillRect(option->rect, option->palette.brush(QPalette::Base));
    } else {
        // A memo's viewport paints its inside; only its frame ring is ours.
        for (int ring = 1; ring < lineWidth; ++ring)
            DrawFrameRect(painter, option->rect.adjusted(ring, ring, -ring, -ring),
                          option->palette.color(QPalette::Base));
    }
    DrawFrameRect(painter, option->rect, frame);
}

void FlatStyle::DrawButtonBevel(const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    const DerivedColors colors = styler_->Colors();
    const SystemColors system = styler_->System();
    const bool hot = styler_->IsHot(widget) && (option->state & State_Enabled);
    const bool pressed = option->state & State_Sunken;
    const bool focused = option->state & State_HasFocus;
    const QColor border = (hot || pressed || focused) ? NewColor(colors.selectBorder, 60) : system.btnShadow;
    const QColor fill = (hot || pressed) ? NewColor(system.btnFace, 60) : colors.iconBackground;
    const QRect outline = option->rect.adjusted(0, 0, -1, -1);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(NewColor(border, 30));
    painter->setBrush(fill);
    painter->drawRoundedRect(outline, 4, 4);
    // The inner edge: top-left while pressed, bottom-right otherwise.
    painter->setPen(GetShadeColor(border, 50));
    const QRect inner = option->rect.adjusted(1, 1, -1, -1);
    if (pressed) {
        painter->drawLine(inner.left() + 2, inner.top(), inner.right() - 2, inner.top());
        painter->drawLine(inner.left(), inner.top() + 2, inner.left(), inner.bottom() - 2);
    } else {
        painter->drawLine(inner.left() + 2, inner.bottom(), inner.right() - 2, inner.bottom());
        painter->drawLine(inner.right(), inner.top() + 2, inner.right(), inner.bottom() - 2);
    }
    painter->restore();
}

// The caption as the application's style places it; the glyph of a bit-map button follows the
// menu icon rules (lightened at rest, greyed when disabled).
void FlatStyle::DrawButtonLabel(const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (button == nullptr || button->icon.isNull()) {
        QProxyStyle::drawControl(CE_PushButtonLabel, option, painter, widget);
        return;
    }
    QStyleOptionButton label = *button;
    QImage image = button->icon.pixmap(button->iconSize).toImage();
    const bool enabled = button->state & State_Enabled;
    const bool active = styler_->IsHot(widget) || (button->state & State_Sunken);
    if (!enabled) {
        GrayBitmap(image, styler_->look().grayLevel);
        DimBitmap(image, 40);
    } else if (!active && FlatStyler::HighColor()) {
        DimBitmap(image, styler_->look().dimLevel);
    }
    const QPixmap pixmap = QPixmap::fromImage(image);
    label.icon = QIcon(pixmap);
    label.icon.addPixmap(pixmap, QIcon::Disabled);
    QProxyStyle::drawControl(CE_PushButtonLabel, &label, painter, widget);
}

// Check box and radio indicators: window colour with a shadow frame at rest, the selection
// colours while hot or focused, the pressed fill while held down.
void FlatStyle::DrawIndicator(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    const DerivedColors colors = styler_->Colors();
    const SystemColors system = styler_->System();
    const bool enabled = option->state & State_Enabled;
    const bool pressed = option->state & State_Sunken;
    const bool hot = (styler_->IsHot(widget) && enabled) || (option->state & State_HasFocus);
    const QColor window = option->palette.color(QPalette::Base);
    QColor fill = window;
    QColor frame = system.btnShadow;
    if (hot) {
        fill = colors.select;
        frame = colors.selectBorder;
    }
    if (pressed)
        fill = colors.checkedAreaSelected;
    QColor mark = pressed ? window : system.highlight;
    if (!enabled)
        mark = colors.disabled;
    const QRect box = option->rect.adjusted(0, 0, -1, -1);

    painter->save();
    painter->setPen(frame);
    painter->setBrush(fill);
    if (element == PE_IndicatorRadioButton) {
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->drawEllipse(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
        if (option->state & State_On) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(mark);
            painter->drawEllipse(QRectF(box).center(), box.width() / 5.0, box.height() / 5.0);
        }
    } else {
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->drawRect(box);
        if (option->state & State_On)
            DrawTick(painter, option->rect, mark);
        else if (option->state & State_NoChange)
            painter->fillRect(option->rect.adjusted(4, 4, -4, -4), mark);
    }
    painter->restore();
}

// A flat frame and a drop-button area as wide as a scroll bar with a small arrow; the colours
// follow hot, focused and dropped down.
void FlatStyle::DrawCombo(const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const
{
    const DerivedColors colors = styler_->Colors();
    const SystemColors system = styler_->System();
    const bool enabled = option->state & State_Enabled;
    const QColor control = option->palette.color(QPalette::Base);
    QColor frame = control;
    QColor button = system.btnFace;
    if (option->state & State_On) {
        frame = colors.selectBorder;
        button = colors.checkedAreaSelected;
    } else if (styler_->IsHot(widget) && enabled) {
        frame = colors.selectBorder;
        button = colors.select;
    } else if (option->state & State_HasFocus) {
        frame = NewColor(colors.selectBorder, 60);
        button = colors.checkedArea;
    }
    const QRect rect = option->rect;
    const int buttonWidth = pixelMetric(PM_ScrollBarExtent, option, widget);
    QRect buttonArea(rect.right() - buttonWidth, rect.top() + 1, buttonWidth, rect.height() - 2);
    if (option->direction == Qt::RightToLeft)
        buttonArea.moveLeft(rect.left() + 1);

    painter->save();
    painter->fillRect(rect, control);
    painter->fillRect(buttonArea, button);
    if (frame != control)
        DrawFrameRect(painter, buttonArea, frame);
    DrawFrameRect(painter, rect, frame);
    DrawComboArrow(painter, buttonArea, enabled ? option->palette.color(QPalette::ButtonText) : colors.disabled);
    painter->restore();
}

// A panel's bevels redrawn flat: light and dark shades of its own colour, raised or lowered as
// the frame says.
void FlatStyle::DrawPanel(const QStyleOption* option, QPainter* painter) const
{
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    const int width = frame != nullptr ? std::max(1, frame->lineWidth) : 1;
    const QColor background = option->palette.color(QPalette::Window);
    const QColor light = NewColor(background, 60);
    const QColor dark = GetShadeColor(background, 60);
    if (option->state & State_Sunken)
        DrawBevel(painter, option->rect, dark, light, width);
    else
        DrawBevel(painter, option->rect, light, dark, width);
}
