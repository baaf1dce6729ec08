#include "styling/flat_colors.h"
#include "styling/flat_styler.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <gtest/gtest.h>

#include <memory>

namespace {

// The desktop colours of the window under test, chosen apart from the toolkit's own.
const QColor kFace(212, 208, 200);
const QColor kHighlight(10, 36, 106);
const QColor kShadow(128, 128, 128);

QImage Grab(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// How many pixels of area in image have exactly colour.
int Count(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += image.pixelColor(x, y) == colour ? 1 : 0;
    }
    return count;
}

// The darkest pixel of area: the colour of the text written there.
QColor Darkest(const QImage& image, const QRect& area)
{
    QColor darkest = Qt::white;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.lightness() < darkest.lightness())
                darkest = pixel;
        }
    }
    return darkest;
}

void Send(QWidget* widget, QEvent::Type type)
{
    QEvent event(type);
    QApplication::sendEvent(widget, &event);
}

class FlatStylerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QPalette palette = window_->palette();
        palette.setColor(QPalette::Window, kFace);
        palette.setColor(QPalette::Button, kFace);
        palette.setColor(QPalette::Highlight, kHighlight);
        palette.setColor(QPalette::Dark, kShadow);
        palette.setColor(QPalette::WindowText, Qt::black);
        palette.setColor(QPalette::Base, Qt::white);
        window_->setPalette(palette);
        window_->resize(300, 200);
        button_ = new QPushButton(QStringLiteral("确定"), window_.get());
        button_->setGeometry(10, 10, 80, 25);
        edit_ = new QLineEdit(window_.get());
        edit_->setGeometry(10, 50, 120, 21);
        combo_ = new QComboBox(window_.get());
        combo_->addItems({QStringLiteral("留言"), QStringLiteral("被叫")});
        combo_->setGeometry(10, 90, 120, 21);
        menu_ = new QMenu(window_.get());
        selected_ = menu_->addAction(QStringLiteral("语音查询(&F)"));
        separator_ = menu_->addSeparator();
        disabled_ = menu_->addAction(QStringLiteral("导出"));
        disabled_->setEnabled(false);
        checked_ = menu_->addAction(QStringLiteral("静音"));
        checked_->setCheckable(true);
        checked_->setChecked(true);
        window_->show();
    }

    FlatStyler* Activate()
    {
        auto* styler = new FlatStyler(window_.get());
        styler->setActive(true);
        return styler;
    }

    QImage GrabMenu()
    {
        menu_->popup(QPoint(0, 0));
        menu_->setActiveAction(selected_);
        QApplication::processEvents();
        const QImage image = Grab(menu_);
        menu_->hide();
        return image;
    }

    // The colours the styler derives from the window's palette.
    DerivedColors Derived() const { return SetGlobalColor({}, {kFace, kHighlight, kShadow, Qt::black}, true, true); }

    std::unique_ptr<QWidget> window_ = std::make_unique<QWidget>();
    QPushButton* button_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QComboBox* combo_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* selected_ = nullptr;
    QAction* separator_ = nullptr;
    QAction* disabled_ = nullptr;
    QAction* checked_ = nullptr;
};

TEST_F(FlatStylerTest, MenuShowsSelectionSeparatorDisabledAndCheckedItemsInTheFlatColours)
{
    Activate();
    const QImage menu = GrabMenu();
    const DerivedColors colours = Derived();
    const int iconWidth = 24;
    const auto row = [&](QAction* action) { return menu_->actionGeometry(action); };
    const auto column = [&](QAction* action) { return row(action).adjusted(0, 0, iconWidth - row(action).width(), 0); };
    const auto textArea = [&](QAction* action) { return row(action).adjusted(iconWidth + 1, 1, -1, -1); };

    // The selected item: select fill framed in the select-border colour, across the row.
    EXPECT_GT(Count(menu, textArea(selected_), colours.select), 0);
    EXPECT_GT(Count(menu, QRect(row(selected_).topRight(), row(selected_).bottomRight()), colours.selectBorder),
              row(selected_).height() / 2);
    EXPECT_EQ(Count(menu, row(checked_), colours.select), 0);

    // The separator: 4 pixels high, one line in the separator colour on the menu colour.
    EXPECT_EQ(row(separator_).height(), 4);
    EXPECT_GT(Count(menu, row(separator_), colours.separator), row(separator_).width() / 2);
    EXPECT_GT(Count(menu, row(separator_), colours.menu), 0);

    // Unselected items: menu colour with the icon column in the icon-background colour; the
    // disabled text in the disabled colour, the enabled text in the menu text colour.
    EXPECT_GT(Count(menu, textArea(disabled_), colours.menu), 0);
    EXPECT_GT(Count(menu, column(disabled_), colours.iconBackground), 0);
    EXPECT_EQ(Darkest(menu, textArea(disabled_)), colours.disabled);
    EXPECT_EQ(Darkest(menu, textArea(checked_)), QColor(Qt::black));

    // The checked item: a square in the checked colour, filled with the checked-area colour,
    // with a black tick, in its icon column.
    EXPECT_GT(Count(menu, column(checked_), colours.checked), 8);
    EXPECT_GT(Count(menu, column(checked_), colours.checkedArea), 8);
    EXPECT_GT(Count(menu, column(checked_), Qt::black), 4);
    EXPECT_EQ(Count(menu, column(disabled_), colours.checked), 0);

    // Items are measured taller than their text by three quarters.
    EXPECT_GE(row(checked_).height(), MenuItemHeight(QFontMetrics(menu_->font()).height(), 0));
}

TEST_F(FlatStylerTest, FrameColoursFollowHotFocusedAndPressed)
{
    Activate();
    const DerivedColors colours = Derived();
    const QColor hotBorder = NewColor(kHighlight, 60);
    const auto leftEdge = [](QWidget* widget) { return Grab(widget).pixelColor(0, widget->height() / 2); };
    const auto topEdge = [](QWidget* widget) { return Grab(widget).pixelColor(widget->width() / 2, 0); };
    const auto arrowArea = [](QWidget* widget) { return QRect(widget->width() - 14, 2, 12, widget->height() - 4); };

    // At rest: the edit's frame a shade of the window, the combo's invisible with a face-coloured
    // drop button, the button outlined in the lightened shadow colour with its edge at the bottom.
    EXPECT_EQ(leftEdge(edit_), GetShadeColor(kFace, 60));
    EXPECT_EQ(leftEdge(combo_), QColor(Qt::white));
    EXPECT_GT(Count(Grab(combo_), arrowArea(combo_), kFace), 20);
    EXPECT_EQ(topEdge(button_), NewColor(kShadow, 30));
    EXPECT_EQ(Grab(button_).pixelColor(button_->width() / 2, button_->height() - 2), GetShadeColor(kShadow, 50));
    EXPECT_EQ(Grab(button_).pixelColor(button_->width() / 2, button_->height() / 2 + 8), colours.iconBackground);

    // The mouse over them.
    for (QWidget* widget :
         {static_cast<QWidget*>(edit_), static_cast<QWidget*>(combo_), static_cast<QWidget*>(button_)})
        Send(widget, QEvent::Enter);
    EXPECT_EQ(leftEdge(edit_), hotBorder);
    EXPECT_EQ(leftEdge(combo_), colours.selectBorder);
    EXPECT_GT(Count(Grab(combo_), arrowArea(combo_), colours.select), 20);
    EXPECT_EQ(topEdge(button_), NewColor(hotBorder, 30));
    EXPECT_EQ(Grab(button_).pixelColor(button_->width() / 2, button_->height() / 2 + 8), NewColor(kFace, 60));
    for (QWidget* widget :
         {static_cast<QWidget*>(edit_), static_cast<QWidget*>(combo_), static_cast<QWidget*>(button_)})
        Send(widget, QEvent::Leave);
    EXPECT_EQ(leftEdge(edit_), GetShadeColor(kFace, 60));

    // Focused, the mouse gone: the edit and the combo keep the focus colours.
    QApplication::setActiveWindow(window_.get());
    edit_->setFocus();
    ASSERT_TRUE(edit_->hasFocus());
    EXPECT_EQ(leftEdge(edit_), hotBorder);
    combo_->setFocus();
    Send(combo_, QEvent::Leave);
    EXPECT_EQ(leftEdge(combo_), hotBorder);
    EXPECT_GT(Count(Grab(combo_), arrowArea(combo_), colours.checkedArea), 20);
    EXPECT_EQ(leftEdge(edit_), GetShadeColor(kFace, 60));

    // Pressed: the button's edge moves to the top; the dropped-down combo shows its own colours.
    button_->setDown(true);
    EXPECT_EQ(topEdge(button_), NewColor(hotBorder, 30));
    EXPECT_EQ(Grab(button_).pixelColor(button_->width() / 2, 1), GetShadeColor(hotBorder, 50));
    button_->setDown(false);
    combo_->showPopup();
    EXPECT_EQ(leftEdge(combo_), colours.selectBorder);
    EXPECT_GT(Count(Grab(combo_), arrowArea(combo_), colours.checkedAreaSelected), 20);
    combo_->hidePopup();
}

TEST_F(FlatStylerTest, TaggedWidgetsAndADeactivatedStylerKeepTheNativeLook)
{
    const QList<QWidget*> widgets = {button_, edit_, combo_};
    QList<QImage> native;
    for (QWidget* widget : widgets)
        native.append(Grab(widget));
    const QImage nativeMenu = GrabMenu();

    // Tag 999 on the widget, or on its parent for the edit moved onto a tagged panel.
    auto* panel = new QWidget(window_.get());
    panel->setGeometry(edit_->geometry());
    panel->setProperty("tag", 999);
    edit_->setParent(panel);
    edit_->move(0, 0);
    edit_->show();
    for (QObject* tagged :
         {static_cast<QObject*>(button_), static_cast<QObject*>(combo_), static_cast<QObject*>(menu_)})
        tagged->setProperty("tag", 999);
    FlatStyler* styler = Activate();
    for (int i = 0; i < widgets.size(); ++i)
        EXPECT_EQ(Grab(widgets[i]), native[i]) << i;
    EXPECT_EQ(GrabMenu(), nativeMenu);

    // A tagged action keeps the native look inside a styled menu.
    styler->setActive(false);
    menu_->setProperty("tag", QVariant());
    selected_->setProperty("tag", 999);
    styler->setActive(true);
    const QImage menu = GrabMenu();
    EXPECT_EQ(Count(menu, menu_->actionGeometry(selected_), Derived().select), 0);
    EXPECT_GT(Count(menu, menu_->actionGeometry(checked_), Derived().iconBackground), 0);

    // Untagged and styled they look different; deactivated, as before.
    for (QObject* tagged : {static_cast<QObject*>(button_), static_cast<QObject*>(combo_), static_cast<QObject*>(panel),
                            static_cast<QObject*>(selected_)})
        tagged->setProperty("tag", QVariant());
    styler->setActive(false);
    styler->setActive(true);
    for (int i = 0; i < widgets.size(); ++i)
        EXPECT_NE(Grab(widgets[i]), native[i]) << i;
    EXPECT_NE(GrabMenu(), nativeMenu);
    styler->setActive(false);
    for (int i = 0; i < widgets.size(); ++i)
        EXPECT_EQ(Grab(widgets[i]), native[i]) << i;
    EXPECT_EQ(GrabMenu(), nativeMenu);

    // Destroying an active styler puts the native look back too.
    styler->setActive(true);
    delete styler;
    EXPECT_EQ(Grab(button_), native[0]);
}

} // namespace
