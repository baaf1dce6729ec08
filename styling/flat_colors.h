#pragma once

#include <QColor>

class QImage;
class QPainter;
class QRect;

// The colour arithmetic of the flat look, and the small shapes both its style and its menus draw.
// Every function keeps the alpha of the colour it is given.

// Each channel c becomes c + round((255 - c) x v / 100), the half rounded to even: mixes
// towards white by v percent. v is capped at 100.
QColor NewColor(const QColor& colour, int v);

// red - v, green - v + 2, blue - v, each held within 0..255: darkens for positive v and
// lightens for negative v.
QColor GetShadeColor(const QColor& colour, int v);

// The grey (g, g, g) with g = (red + green + blue) / 3 + v, held within 0..240.
QColor GrayColor(const QColor& colour, int v);

// The text colour of a selected item on the menu bar over background: fontColour on a light
// background, otherwise background lightened by 90 percent.
QColor TopMenuFontColor(const QColor& background, const QColor& fontColour);

// Replace every pixel by GrayColor(pixel, v), respectively NewColor(pixel, min(v, 100)). A pixel
// equal to the one before it reuses that one's result, so runs of one colour cost one conversion.
void GrayBitmap(QImage& bitmap, int v);
void DimBitmap(QImage& bitmap, int v);

// Paints every pixel of bitmap that differs from its bottom-left pixel (the transparent colour)
// in colour onto canvas, at (x + column, y + row).
void DrawBitmapShadow(const QImage& bitmap, QPainter& canvas, int x, int y, const QColor& colour);

// A one-pixel rectangle in colour whose outer edge is rect.
void DrawFrameRect(QPainter* painter, const QRect& rect, const QColor& colour);
// A tick inside box in colour.
void DrawTick(QPainter* painter, const QRect& box, const QColor& colour);

// The height of a menu item with text of textHeight pixels: textHeight plus three quarters of
// it (the half rounded to even), at least imageHeight + 6.
int MenuItemHeight(int textHeight, int imageHeight);

// The colours a FlatStyler is configured with.
struct ConfiguredColors {
    QColor color;
    QColor iconBackColor;
    QColor menuBarColor;
    QColor selectColor;
    QColor selectBorderColor;
    QColor selectFontColor;
    QColor disabledColor;
    QColor separatorColor;
    QColor checkedColor;
};

// The desktop's colours of the same names.
struct SystemColors {
    QColor btnFace;
    QColor highlight;
    QColor btnShadow;
    QColor menuText; // the colour of the system menu font
};

// The colours the menus and controls are drawn in.
struct DerivedColors {
    QColor menu;
    QColor iconBackground;
    QColor select;
    QColor selectBorder;
    QColor selectFont;
    QColor checkedArea;
    QColor checkedAreaSelected;
    QColor checked;
    QColor menuBar;
    QColor disabled;
    QColor separator;
    QColor menuBorder;
    QColor menuShadow;
};

// The derived colours from the configured ones, or from the system's when useSystemColors is
// set; highColor tells whether the display shows 16 or more bits per pixel.
DerivedColors SetGlobalColor(const ConfiguredColors& configured, const SystemColors& system, bool useSystemColors,
                             bool highColor);
