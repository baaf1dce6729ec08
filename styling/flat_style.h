#pragma once

#include "styling/flat_menu_painter.h"

#include <QProxyStyle>

class FlatStyler;

// The drawing of a FlatStyler: installed on the styled widgets only, it paints menu items,
// frames, buttons, check and radio indicators, combo boxes and panels flat, and hands everything
// else (sizes, hit areas, hints, text) to a style of the application's kind unchanged.
class FlatStyle : public QProxyStyle {
    Q_OBJECT

public:
    explicit FlatStyle(const FlatStyler* styler);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;

private:
    void DrawEditFrame(const QStyleOption* option, QPainter* painter, const QWidget* widget, int lineWidth) const;
    void DrawButtonBevel(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    void DrawButtonLabel(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    void DrawIndicator(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const;
    void DrawCombo(const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const;
    void DrawPanel(const QStyleOption* option, QPainter* painter) const;

    const FlatStyler* styler_;
    FlatMenuPainter menus_; // the menus' and the menu bar's items
};
