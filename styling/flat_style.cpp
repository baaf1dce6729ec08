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

// A one-pixel rectangle whose outer edge is rect.
void DrawFrameRect(QPainter* painter, const QRect& rect, const QColor& colour)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(colour);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
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

// A tick inside box in colour.
void DrawTick(QPainter* painter, const QRect& box, const QColor& colour)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    const int unit = std::max(1, box.width() / 8);
    const QPoint points[] = {{box.left() + 2 * unit, box.center().y()},
                             {box.left() + 3 * unit + 1, box.bottom() - 2 * unit},
                             {box.right() - 2 * unit, box.top() + 2 * unit}};
    painter->drawPolyline(points, 3);
    painter->restore();
}

// A downward arrow of three lines (5, 3 and 1 pixels) centred in area.
void DrawComboArrow(QPainter* painter, const QRect& area, const QColor& colour)
{
    const QPoint centre = area.center();
    for (int line = 0; line < 3; ++line)
        painter->fillRect(QRect(centre.x() - 2 + line, centre.y() - 1 + line, 5 - 2 * line, 1), colour);
}

// A right-pointing (left-pointing for right-to-left) sub-menu arrow at the right end of rect.
void DrawSubMenuArrow(QPainter* painter, const QRect& rect, bool rightToLeft, const QColor& colour)
{
    const int x = rightToLeft ? rect.left() + 6 : rect.right() - 9;
    const int y = rect.center().y();
    for (int column = 0; column < 4; ++column) {
        const int half = 3 - column;
        const int at = rightToLeft ? x + 3 - column : x + column;
        painter->fillRect(QRect(at, y - half, 1, 2 * half + 1), colour);
    }
}

// Whether the action under rect of the menu or menu bar keeps its native look.
bool NativeAction(const QWidget* widget, const QRect& rect)
{
    if (const auto* menu = qobject_cast<const QMenu*>(widget))
        return FlatStyler::KeepsNativeLook(menu->actionAt(rect.center()));
    if (const auto* bar = qobject_cast<const QMenuBar*>(widget))
        return FlatStyler::KeepsNativeLook(bar->actionAt(rect.center()));
    return false;
}

// The menu's action whose text (with its shortcut after a tab) the option carries; the menu
// measures its items without telling where they are.
const QAction* MeasuredAction(const QWidget* widget, const QString& text)
{
    const auto* menu = qobject_cast<const QMenu*>(widget);
    if (menu == nullptr)
        return nullptr;
    const QString caption = text.section(QLatin1Char('\t'), 0, 0);
    for (const QAction* action : menu->actions()) {
        if (action->text() == caption)
            return action;
    }
    return nullptr;
}

QString Caption(const QStyleOptionMenuItem& item)
{
    return item.text.section(QLatin1Char('\t'), 0, 0);
}

QString ShortcutText(const QStyleOptionMenuItem& item)
{
    return item.text.section(QLatin1Char('\t'), 1);
}

bool IsEditLike(const QWidget* widget)
{
    return qobject_cast<const QPlainTextEdit*>(widget) != nullptr || qobject_cast<const QTextEdit*>(widget) != nullptr;
}

} // namespace

FlatStyle::FlatStyle(const FlatStyler* styler) : QProxyStyle(ApplicationKindOfStyle()), styler_(styler)
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
        if (DrawMenuItem(option, painter, widget))
            return;
        break;
    case CE_MenuBarItem:
        if (DrawMenuBarItem(option, painter, widget))
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
        return MeasureMenuItem(option, proposed, widget, type == CT_MenuBarItem);
    return proposed;
}

// The measuring rules only ever raise the size the menu proposes, except for separators, which
// are one line of 4 pixels. The menu bar keeps its own height.
QSize FlatStyle::MeasureMenuItem(const QStyleOption* option, QSize size, const QWidget* widget, bool topItem) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item == nullptr || (!topItem && qobject_cast<const QMenu*>(widget) == nullptr))
        return size;
    if (!topItem && FlatStyler::KeepsNativeLook(MeasuredAction(widget, item->text)))
        return size;
    if (item->menuItemType == QStyleOptionMenuItem::Separator)
        return QSize(size.width(), 4);

    const QFontMetrics metrics(styler_->MenuFont(item->font));
    const QString caption = Caption(*item);
    int width = metrics.horizontalAdvance(caption) + 5;
    if (caption.contains(QLatin1Char('&')))
        width -= metrics.horizontalAdvance(QLatin1Char('&'));
    // The menu adds the shortcut's own width; "WWW" is the gap before it.
    if (!ShortcutText(*item).isEmpty())
        width += metrics.horizontalAdvance(QStringLiteral("WWW"));
    const int imageSize = item->icon.isNull() ? 0 : pixelMetric(PM_SmallIconSize, option, widget);
    if (topItem)
        return QSize(std::max(size.width(), width + imageSize + 8), size.height());
    width += std::max(imageSize, styler_->look().iconWidth);
    return QSize(std::max(size.width(), width), std::max(size.height(), MenuItemHeight(metrics.height(), imageSize)));
}

bool FlatStyle::DrawMenuItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item == nullptr || qobject_cast<const QMenu*>(widget) == nullptr || NativeAction(widget, item->rect))
        return false;
    switch (item->menuItemType) {
    case QStyleOptionMenuItem::Normal:
    case QStyleOptionMenuItem::DefaultItem:
    case QStyleOptionMenuItem::SubMenu:
    case QStyleOptionMenuItem::Separator:
        break;
    default:
        return false;
    }
    const DerivedColors colors = styler_->Colors();
    const FlatLook& look = styler_->look();
    const QRect rect = item->rect;
    const bool rightToLeft = item->direction == Qt::RightToLeft;
    const bool enabled = item->state & State_Enabled;
    const bool selected = item->state & State_Selected;
    const bool hasImage = !item->icon.isNull();

    // The icon column, widened by an image wider than it, and the check or icon box inside it.
    const int iconSize = pixelMetric(PM_SmallIconSize, option, widget);
    const int columnWidth = std::max(look.iconWidth, hasImage ? iconSize + 4 : 0);
    QRect column(rect.left(), rect.top(), columnWidth, rect.height());
    if (rightToLeft)
        column.moveRight(rect.right());
    const QRect box = hasImage ? column.adjusted(1, 2, -3, -2) : QRect(column.center() - QPoint(4, 4), QSize(10, 10));
    QRect textArea = rect;
    if (rightToLeft)
        textArea.setRight(column.left() - 1);
    else
        textArea.setLeft(column.right() + 1);

    painter->save();
    painter->fillRect(rect, colors.menu);
    painter->fillRect(column, colors.iconBackground);
    if (selected && enabled && look.drawSelect) {
        const QRect selection = rect.adjusted(0, 1, 0, -1);
        painter->fillRect(selection, colors.select);
        DrawFrameRect(painter, selection, colors.selectBorder);
    }
    if (item->checkType != QStyleOptionMenuItem::NotCheckable && item->checked)
        DrawMenuCheck(*item, painter, box);
    if (hasImage)
        DrawMenuIcon(*item, painter, box);

    if (item->menuItemType == QStyleOptionMenuItem::Separator) {
        const int y = rect.center().y();
        const QRect line = rightToLeft ? QRect(textArea.left(), y, textArea.width() - 7, 1)
                                       : QRect(textArea.left() + 7, y, textArea.width() - 7, 1);
        painter->fillRect(line, colors.separator);
    } else {
        QColor text = styler_->MenuTextColor();
        if (!enabled)
            text = colors.disabled;
        else if (selected)
            text = colors.selectFont;
        DrawMenuText(*item, painter, textArea, text);
        if (item->menuItemType == QStyleOptionMenuItem::SubMenu)
            DrawSubMenuArrow(painter, rect, rightToLeft, text);
    }
    painter->restore();
    return true;
}

void FlatStyle::DrawMenuCheck(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const
{
    const DerivedColors colors = styler_->Colors();
    const bool enabled = item.state & State_Enabled;
    const bool hasImage = !item.icon.isNull();
    const QColor fill = (item.state & State_Selected) ? colors.checkedAreaSelected : colors.checkedArea;
    const QColor frame = enabled ? colors.selectBorder : colors.disabled;
    painter->save();
    painter->setBrush(fill);
    painter->setPen(frame);
    const QRect outline = box.adjusted(0, 0, -1, -1);
    if (item.checkType == QStyleOptionMenuItem::Exclusive) {
        painter->setRenderHint(QPainter::Antialiasing, true);
        if (hasImage) {
            painter->drawRoundedRect(outline, 3, 3);
        } else {
            painter->drawEllipse(outline);
            painter->setPen(Qt::NoPen);
            painter->setBrush(enabled ? QColor(Qt::black) : colors.disabled);
            painter->drawEllipse(QRectF(box).center(), 2, 2);
        }
    } else if (hasImage) {
        painter->drawRect(outline);
    } else {
        painter->setPen(enabled ? colors.checked : colors.disabled);
        painter->drawRect(outline);
        DrawTick(painter, box, enabled ? QColor(Qt::black) : colors.disabled);
    }
    painter->restore();
}

// Enabled icons at rest are lightened, disabled ones greyed, and a selected one floats one
// pixel up and left over its shadow.
void FlatStyle::DrawMenuIcon(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const
{
    const int size = pixelMetric(PM_SmallIconSize, &item, nullptr);
    QImage image = item.icon.pixmap(QSize(size, size)).toImage();
    const FlatLook& look = styler_->look();
    const bool enabled = item.state & State_Enabled;
    const bool selected = item.state & State_Selected;
    const bool checked = item.checkType != QStyleOptionMenuItem::NotCheckable && item.checked;
    QPoint at = box.center() - QPoint(image.width() / 2 - 1, image.height() / 2 - 1);
    if (!enabled) {
        GrayBitmap(image, look.grayLevel);
        DimBitmap(image, 40);
    } else if (selected && !checked && look.drawSelect) {
        at -= QPoint(1, 1);
        DrawBitmapShadow(image, *painter, at.x() + 2, at.y() + 2, GetShadeColor(styler_->Colors().select, 50));
    } else if (!selected && !checked && FlatStyler::HighColor()) {
        DimBitmap(image, look.dimLevel);
    }
    painter->drawImage(at, image);
}

void FlatStyle::DrawMenuText(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& area,
                             const QColor& colour) const
{
    const bool rightToLeft = item.direction == Qt::RightToLeft;
    const int mnemonic = styleHint(SH_UnderlineShortcut, &item, nullptr) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic;
    const int align = Qt::AlignVCenter | Qt::TextSingleLine | mnemonic;
    const QRect textRect = area.adjusted(rightToLeft ? 0 : 3, 0, rightToLeft ? -3 : 0, 0);
    painter->setFont(styler_->MenuFont(item.font));
    painter->setPen(colour);
    const QString caption = QLatin1Char(' ') + Caption(item);
    const int side = rightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    // A default item is printed twice, one pixel apart.
    if (item.menuItemType == QStyleOptionMenuItem::DefaultItem)
        painter->drawText(textRect.translated(1, 0), align | side, caption);
    painter->drawText(textRect, align | side, caption);

    const QString shortcut = ShortcutText(item);
    if (shortcut.isEmpty())
        return;
    painter->setPen(FlatStyler::HighColor() ? GetShadeColor(colour, -40) : colour);
    const QRect shortcutRect = area.adjusted(rightToLeft ? 10 : 0, 0, rightToLeft ? 0 : -10, 0);
    painter->drawText(shortcutRect,
                      Qt::AlignVCenter | Qt::TextSingleLine | (rightToLeft ? Qt::AlignLeft : Qt::AlignRight), shortcut);
}

bool FlatStyle::DrawMenuBarItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item == nullptr || qobject_cast<const QMenuBar*>(widget) == nullptr || NativeAction(widget, item->rect))
        return false;
    const DerivedColors colors = styler_->Colors();
    const FlatLook& look = styler_->look();
    const bool enabled = item->state & State_Enabled;
    const bool selected = enabled && (item->state & (State_Selected | State_Sunken)) && look.drawSelect;
    const QRect rect = item->rect;

    painter->save();
    painter->fillRect(rect, colors.menuBar);
    QColor text = styler_->MenuTextColor();
    if (!enabled) {
        text = colors.disabled;
    } else if (selected) {
        // The selection leaves a two-pixel strip at the right for its shadow.
        const QRect selection = rect.adjusted(0, 0, -2, 0);
        painter->fillRect(selection, colors.select);
        DrawFrameRect(painter, selection, colors.selectBorder);
        painter->fillRect(QRect(rect.right() - 1, rect.top() + 2, 1, rect.height() - 2),
                          GetShadeColor(colors.menuBar, 40));
        painter->fillRect(QRect(rect.right(), rect.top() + 3, 1, rect.height() - 3), GetShadeColor(colors.menuBar, 20));
        text = look.useSystemColors ? TopMenuFontColor(colors.iconBackground, styler_->MenuTextColor())
                                    : colors.selectFont;
    }
    const int mnemonic = styleHint(SH_UnderlineShortcut, item, widget) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic;
    painter->setFont(styler_->MenuFont(item->font));
    painter->setPen(text);
    painter->drawText(rect.adjusted(0, 0, -2, 0), Qt::AlignCenter | Qt::TextSingleLine | mnemonic, item->text);
    painter->restore();
    return true;
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
