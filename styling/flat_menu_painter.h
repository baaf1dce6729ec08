#pragma once

#include <QSize>

class FlatStyler;
class QColor;
class QPainter;
class QRect;
class QStyle;
class QStyleOption;
class QStyleOptionMenuItem;
class QWidget;

// The menus of a FlatStyle: an icon column with lightened icons, a light selection framed in the
// highlight colour, one-line separators and flat check marks, and the menu bar's items to match.
// An item whose action keeps its native look is left to the base style.
class FlatMenuPainter {
public:
    // style gives the pixel metrics and hints: the FlatStyle that owns this painter.
    FlatMenuPainter(const FlatStyler* styler, const QStyle* style);

    // The size of an item of a menu or (topItem) of the menu bar, from the size the base style
    // proposes.
    QSize Measure(const QStyleOption* option, QSize size, const QWidget* widget, bool topItem) const;
    // Draw a menu's item or a menu bar's item; false when the base style draws it.
    bool DrawItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    bool DrawBarItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;

private:
    void DrawCheck(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const;
    void DrawIcon(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const;
    void DrawText(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& area, const QColor& colour) const;

    const FlatStyler* styler_;
    const QStyle* style_;
};
