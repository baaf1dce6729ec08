#include "styling/flat_colors.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

namespace {

int Channel(int value, int high = 255)
{
    return std::clamp(value, 0, high);
}

// numerator / denominator rounded to the nearest integer, a half to the even neighbour.
int RoundHalfEven(int numerator, int denominator)
{
    const int quotient = numerator / denominator;
    const int twiceRemainder = 2 * std::abs(numerator % denominator);
    const int away = numerator < 0 ? -1 : 1;
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0))
        return quotient + away;
    return quotient;
}

int Lighten(int channel, int v)
{
    return Channel(channel + RoundHalfEven((255 - channel) * v, 100));
}

template <typename Convert>
void ConvertPixels(QImage& bitmap, Convert convert)
{
    bitmap.convertTo(QImage::Format_ARGB32);
    bool first = true;
    QRgb previous = 0;
    QRgb converted = 0;
    for (int row = 0; row < bitmap.height(); ++row) {
        auto* pixels = reinterpret_cast<QRgb*>(bitmap.scanLine(row));
        for (int column = 0; column < bitmap.width(); ++column) {
            if (first || pixels[column] != previous) {
                first = false;
                previous = pixels[column];
                converted = convert(QColor::fromRgba(previous)).rgba();
            }
            pixels[column] = converted;
        }
    }
}

} // namespace

QColor NewColor(const QColor& colour, int v)
{
    v = std::min(v, 100);
    return QColor(Lighten(colour.red(), v), Lighten(colour.green(), v), Lighten(colour.blue(), v), colour.alpha());
}

QColor GetShadeColor(const QColor& colour, int v)
{
    return QColor(Channel(colour.red() - v), Channel(colour.green() - v + 2), Channel(colour.blue() - v),
                  colour.alpha());
}

QColor GrayColor(const QColor& colour, int v)
{
    const int grey = Channel((colour.red() + colour.green() + colour.blue()) / 3 + v, 240);
    return QColor(grey, grey, grey, colour.alpha());
}

QColor TopMenuFontColor(const QColor& background, const QColor& fontColour)
{
    // (red + blue) / 2 > 150, without losing the half.
    if (background.red() + background.blue() > 300 || background.green() > 200)
        return fontColour;
    return NewColor(background, 90);
}

void GrayBitmap(QImage& bitmap, int v)
{
    ConvertPixels(bitmap, [v](const QColor& pixel) { return GrayColor(pixel, v); });
}

void DimBitmap(QImage& bitmap, int v)
{
    ConvertPixels(bitmap, [v](const QColor& pixel) { return NewColor(pixel, std::min(v, 100)); });
}

void DrawBitmapShadow(const QImage& bitmap, QPainter& canvas, int x, int y, const QColor& colour)
{
    if (bitmap.isNull())
        return;
    const QImage source = bitmap.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = source.pixel(0, source.height() - 1);
    QImage shadow(source.size(), QImage::Format_ARGB32);
    shadow.fill(Qt::transparent);
    for (int row = 0; row < source.height(); ++row) {
        const auto* pixels = reinterpret_cast<const QRgb*>(source.constScanLine(row));
        auto* shade = reinterpret_cast<QRgb*>(shadow.scanLine(row));
        for (int column = 0; column < source.width(); ++column) {
            if (pixels[column] != transparent)
                shade[column] = colour.rgba();
        }
    }
    canvas.drawImage(x, y, shadow);
}

int MenuItemHeight(int textHeight, int imageHeight)
{
    return std::max(textHeight + RoundHalfEven(3 * textHeight, 4), imageHeight + 6);
}

DerivedColors SetGlobalColor(const ConfiguredColors& configured, const SystemColors& system, bool useSystemColors,
                             bool highColor)
{
    const QColor white(255, 255, 255);
    DerivedColors derived;
    // Frame and shadow of the popup follow the button face in every mode.
    derived.menuBorder = highColor ? GetShadeColor(system.btnFace, 90) : system.btnShadow;
    derived.menuShadow = highColor ? GetShadeColor(system.btnFace, 76) : system.btnShadow;
    if (useSystemColors) {
        derived.menu = highColor ? NewColor(system.btnFace, 86) : white;
        derived.iconBackground = highColor ? NewColor(system.btnFace, 16) : system.btnFace;
        derived.select = highColor ? NewColor(system.highlight, 68) : white;
        derived.selectBorder = system.highlight;
        derived.selectFont = system.menuText;
        derived.checkedArea = highColor ? NewColor(system.highlight, 80) : white;
        derived.checkedAreaSelected = highColor ? NewColor(system.highlight, 50) : white;
        derived.checked = system.highlight;
        derived.menuBar = system.btnFace;
        derived.disabled = highColor ? NewColor(system.btnShadow, 10) : system.btnShadow;
        derived.separator = highColor ? NewColor(system.btnShadow, 25) : system.btnShadow;
        return derived;
    }
    derived.menu = configured.color;
    derived.iconBackground = configured.iconBackColor;
    derived.select = highColor ? NewColor(configured.selectColor, 68) : configured.selectColor;
    derived.selectBorder = configured.selectBorderColor;
    derived.selectFont = configured.selectFontColor;
    derived.checkedArea = highColor ? NewColor(configured.selectColor, 80) : white;
    derived.checkedAreaSelected = highColor ? NewColor(configured.selectColor, 50) : QColor(0xC0, 0xC0, 0xC0);
    derived.checked = configured.checkedColor;
    derived.menuBar = configured.menuBarColor;
    derived.disabled = configured.disabledColor;
    derived.separator = configured.separatorColor;
    return derived;
}

void DrawFrameRect(QPainter* painter, const QRect& rect, const QColor& colour)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(colour);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

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
