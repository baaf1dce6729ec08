#include "styling/flat_colors.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

using Rgb = std::tuple<int, int, int>;

Rgb Channels(const QColor& colour)
{
    return {colour.red(), colour.green(), colour.blue()};
}

} // namespace

TEST(FlatColors, ColourFunctionsFollowTheirWorkedExamples)
{
    // NewColor mixes towards white, halves rounded to even, v capped at 100.
    EXPECT_EQ(Channels(NewColor(Qt::black, 50)), Rgb(128, 128, 128));         // 127.5 -> 128
    EXPECT_EQ(Channels(NewColor(QColor(1, 3, 255), 50)), Rgb(128, 129, 255)); // 127 and 126 exactly
    EXPECT_EQ(Channels(NewColor(QColor(5, 15, 25), 50)), Rgb(130, 135, 140)); // 125, 120, 115 exactly
    EXPECT_EQ(Channels(NewColor(QColor(245, 0, 0), 25)), Rgb(247, 64, 64));   // 2.5 -> 2, 63.75 -> 64
    EXPECT_EQ(Channels(NewColor(QColor(10, 36, 106), 68)), Rgb(177, 185, 207));
    EXPECT_EQ(Channels(NewColor(QColor(10, 36, 106), 150)), Rgb(255, 255, 255));
    EXPECT_EQ(NewColor(QColor(0, 0, 0, 100), 50).alpha(), 100);

    EXPECT_EQ(Channels(GetShadeColor(QColor(100, 100, 100), 10)), Rgb(90, 92, 90));
    EXPECT_EQ(Channels(GetShadeColor(Qt::white, -40)), Rgb(255, 255, 255));
    EXPECT_EQ(Channels(GetShadeColor(QColor(5, 0, 5), 10)), Rgb(0, 0, 0));

    EXPECT_EQ(Channels(GrayColor(QColor(30, 60, 90), 10)), Rgb(70, 70, 70));
    EXPECT_EQ(Channels(GrayColor(QColor(250, 250, 245), 10)), Rgb(240, 240, 240));

    // A light background keeps the font colour; a dark one gets a lightened text.
    EXPECT_EQ(TopMenuFontColor(QColor(151, 0, 150), Qt::black), QColor(Qt::black)); // (151 + 150) / 2 > 150
    EXPECT_EQ(TopMenuFontColor(QColor(0, 201, 0), Qt::black), QColor(Qt::black));
    EXPECT_EQ(TopMenuFontColor(QColor(150, 200, 150), Qt::black), NewColor(QColor(150, 200, 150), 90));

    // Bitmaps: every pixel converted, alpha kept, runs of one colour included.
    QImage bitmap(3, 2, QImage::Format_ARGB32);
    bitmap.fill(QColor(30, 60, 90));
    bitmap.setPixelColor(2, 1, QColor(0, 0, 0, 128));
    QImage gray = bitmap;
    GrayBitmap(gray, 10);
    EXPECT_EQ(gray.pixelColor(0, 0), QColor(70, 70, 70));
    EXPECT_EQ(gray.pixelColor(1, 1), QColor(70, 70, 70));
    EXPECT_EQ(gray.pixelColor(2, 1), QColor(10, 10, 10, 128));
    QImage dim = bitmap;
    DimBitmap(dim, 150);
    EXPECT_EQ(dim.pixelColor(1, 0), QColor(Qt::white));
    EXPECT_EQ(dim.pixelColor(2, 1), QColor(255, 255, 255, 128));

    // The shadow marks every pixel that differs from the bottom-left one, offset by (x, y).
    QImage icon(3, 3, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    icon.setPixelColor(1, 0, Qt::red);
    icon.setPixelColor(2, 2, Qt::blue);
    QImage canvas(6, 6, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        DrawBitmapShadow(icon, painter, 2, 1, Qt::darkGray);
    }
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool shaded = (x == 3 && y == 1) || (x == 4 && y == 3);
            EXPECT_EQ(canvas.pixelColor(x, y), shaded ? QColor(Qt::darkGray) : QColor(Qt::white)) << x << "," << y;
        }
    }

    // Menu item heights: text plus three quarters of it, at least the image and 6.
    EXPECT_EQ(MenuItemHeight(12, 0), 21);
    EXPECT_EQ(MenuItemHeight(14, 0), 24); // 10.5 -> 10
    EXPECT_EQ(MenuItemHeight(10, 16), 22);
}

TEST(FlatColors, DerivedColoursFollowTheSystemOrTheConfiguredColoursAndTheDisplayDepth)
{
    const SystemColors system{QColor(212, 208, 200), QColor(10, 36, 106), QColor(128, 128, 128), QColor(1, 2, 3)};
    const ConfiguredColors configured{QColor(1, 1, 1),   QColor(2, 2, 2), QColor(3, 3, 3),
                                      QColor(100, 0, 0), QColor(5, 5, 5), QColor(6, 6, 6),
                                      QColor(7, 7, 7),   QColor(8, 8, 8), QColor(9, 9, 9)};
    const QColor white(255, 255, 255);
    using Table = std::vector<QColor>;
    const auto row = [](const DerivedColors& d) {
        return Table{d.menu,        d.iconBackground,      d.select,    d.selectBorder, d.selectFont,
                     d.checkedArea, d.checkedAreaSelected, d.checked,   d.menuBar,      d.disabled,
                     d.separator,   d.menuBorder,          d.menuShadow};
    };
    const QColor border = GetShadeColor(system.btnFace, 90);
    const QColor shadow = GetShadeColor(system.btnFace, 76);

    EXPECT_EQ(row(SetGlobalColor(configured, system, false, true)),
              (Table{configured.color, configured.iconBackColor, NewColor(configured.selectColor, 68),
                     configured.selectBorderColor, configured.selectFontColor, NewColor(configured.selectColor, 80),
                     NewColor(configured.selectColor, 50), configured.checkedColor, configured.menuBarColor,
                     configured.disabledColor, configured.separatorColor, border, shadow}));
    EXPECT_EQ(row(SetGlobalColor(configured, system, false, false)),
              (Table{configured.color, configured.iconBackColor, configured.selectColor, configured.selectBorderColor,
                     configured.selectFontColor, white, QColor(0xC0, 0xC0, 0xC0), configured.checkedColor,
                     configured.menuBarColor, configured.disabledColor, configured.separatorColor, system.btnShadow,
                     system.btnShadow}));
    EXPECT_EQ(
        row(SetGlobalColor(configured, system, true, true)),
        (Table{NewColor(system.btnFace, 86), NewColor(system.btnFace, 16), QColor(177, 185, 207), system.highlight,
               system.menuText, NewColor(system.highlight, 80), NewColor(system.highlight, 50), system.highlight,
               system.btnFace, NewColor(system.btnShadow, 10), NewColor(system.btnShadow, 25), border, shadow}));
    EXPECT_EQ(row(SetGlobalColor(configured, system, true, false)),
              (Table{white, system.btnFace, white, system.highlight, system.menuText, white, white, system.highlight,
                     system.btnFace, system.btnShadow, system.btnShadow, system.btnShadow, system.btnShadow}));
}
