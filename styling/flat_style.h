#pragma once

#include <QProxyStyle>

class FlatStyler;
class QMenu;
class QStyleOptionMenuItem;

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
    bool DrawMenuItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    bool DrawMenuBarItem(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    void DrawMenuCheck(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const;
    void DrawMenuIcon(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& box) const;
    void DrawMenuText(const QStyleOptionMenuItem& item, QPainter* painter, const QRect& area,
                      const QColor& colour) const;
    QSize MeasureMenuItem(const QStyleOption* option, QSize size, const QWidget* widget, bool topItem) const;
    void DrawEditFrame(const QStyleOption* option, QPainter* painter, const QWidget* widget, int lineWidth) const;
    void DrawButtonBevel(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    void DrawButtonLabel(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    void DrawIndicator(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const;
    void DrawCombo(const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const;
    void DrawPanel(const QStyleOption* option, QPainter* painter) const;

    const FlatStyler* styler_;
};
