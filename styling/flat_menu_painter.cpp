#include "styling/flat_menu_painter.h"

#include "styling/flat_colors.h"
#include "styling/flat_styler.h"

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyleOption>
#include <algorithm>

namespace {

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

} // namespace

FlatMenuPainter::FlatMenuPainter(const FlatStyler* styler, const QStyle* style) : styler_(styler), style_(style)
{
}

// The measuring rules only ever raise the size the menu proposes, except for separators, which
// are one line of 4 pixels. The menu bar keeps its own height.
QSize FlatMenuPainter::Measure(const QStyleOption* option, QSize size, const QWidget* widget, bool topItem) const
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
    const int imageSize = item->icon.isNull() ? 0 : style_->pixelMetric(QStyle::PM_SmallIconSize, option, widget);
    if (topItem)
        return QSize(std::max(size.width(), width + imageSize + 8), size.height());
    width += std::max(imageSize, styler_->look().iconWidth);
    return QSize(std::max(size.width(), width), std::max(size.height(), MenuItemHeight(metrics.height(), imageSize)));
}

bool FlatMenuPainter::DrawItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const
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
    const bool enabled = item->state & QStyle::State_Enabled;
    const bool selected = item->state & QStyle::State_Selected;
    const bool hasImage = !item->icon.isNull();

    // The icon column, widened by an image wider than it, and the check or icon box inside it.
    const int iconSize = style_->pixelMetric(QStyle::PM_SmallIconSize, option, widget);
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
        DrawCheck(*item, painter, box);
    if (hasImage)
        DrawIcon(*item, painter, box);

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
        DrawText(*item, painter, textArea, text);
        if (item->menuItemType == QStyleOptionMenuItem::SubMenu)
            DrawSubMenuArrow(painter, rect, rightToLeft, text);
    }
    painter->restore();
    return true;
}

void FlatMenuPainter::DrawCheck(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const
{
    const DerivedColors colors = styler_->Colors();
    const bool enabled = item.state & QStyle::State_Enabled;
    const bool hasImage = !item.icon.isNull();
    const QColor fill = (item.state & QStyle::State_Selected) ? colors.checkedAreaSelected : colors.checkedArea;
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
void FlatMenuPainter::DrawIcon(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const
{
    const int size = style_->pixelMetric(QStyle::PM_SmallIconSize, &item, nullptr);
    QImage image = item.icon.pixmap(QSize(size, size)).toImage();
    const FlatLook& look = styler_->look();
    const bool enabled = item.state & QStyle::State_Enabled;
    const bool selected = item.state & QStyle::State_Selected;
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

void FlatMenuPainter::DrawText(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& area,
                               const QColor& colour) const
{
    const bool rightToLeft = item.direction == Qt::RightToLeft;
    const int mnemonic = style_->styleHint(QStyle::SH_UnderlineShortcut, &item, nullptr) ? Qt::TextShowMnemonic
                                                                                         : Qt::TextHideMnemonic;
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

bool FlatMenuPainter::DrawBarItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item == nullptr || qobject_cast<const QMenuBar*>(widget) == nullptr || NativeAction(widget, item->rect))
        return false;
    const DerivedColors colors = styler_->Colors();
    const FlatLook& look = styler_->look();
    const bool enabled = item->state & QStyle::State_Enabled;
    const bool selected = enabled && (item->state & (QStyle::State_Selected | QStyle::State_Sunken)) && look.drawSelect;
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
    const int mnemonic = style_->styleHint(QStyle::SH_UnderlineShortcut, item, widget) ? Qt::TextShowMnemonic
                                                                                       : Qt::TextHideMnemonic;
    painter->setFont(styler_->MenuFont(item->font));
    painter->setPen(text);
    painter->drawText(rect.adjusted(0, 0, -2, 0), Qt::AlignCenter | Qt::TextSingleLine | mnemonic, item->text);
    painter->restore();
    return true;
}
