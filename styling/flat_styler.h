#pragma once

#include "styling/flat_colors.h"

#include <QFlags>
#include <QFont>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <optional>

class FlatStyle;
class QAction;
class QStyle;
class QWidget;

// What a FlatStyler draws with. An invalid colour stands for the desktop colour named beside it,
// read from the window's palette at every drawing.
struct FlatLook {
    int dimLevel = 30;        // how much enabled menu icons are lightened, in percent
    int grayLevel = 10;       // how much disabled menu icons are brightened after greying
    QFont font;               // the menus' font when useSystemColors is off
    QColor fontColor;         // menu text
    QColor color;             // button face
    QColor iconBackColor;     // button face
    QColor menuBarColor;      // button face
    QColor selectColor;       // highlight
    QColor selectBorderColor; // highlight
    QColor selectFontColor;   // fontColor
    QColor disabledColor;     // disabled text
    QColor separatorColor;    // button face
    QColor checkedColor;      // highlight
    int iconWidth = 24;       // the icon column of the menus
    bool drawSelect = true;
    // The desktop's colours and menu font instead of the configured ones.
    bool useSystemColors = true;
    // Also style widgets (menus included) that already have a style of their own.
    bool overrideOwnerDraw = false;
};

// The values every window of the program gives its styler: the "宋体" 12-pixel font in the menu
// text colour, everything else as the styler starts.
FlatLook FormFlatLook();

// Gives the menus and controls of the window that owns it a flat look while it is active:
// owner-drawn menu items with an icon column, a light selection and flat check marks, and thin
// one-pixel frames on buttons, edits, combo boxes, check boxes, radio buttons and panels, whose
// colour follows the mouse, the focus and the pressed state. Only drawing changes, never what a
// control does. Deactivating (or destroying the styler) puts every widget's previous style back.
//
// A widget or menu action whose "tag" property is 999 keeps its native look, and so does every
// widget whose parent's tag is 999.
class FlatStyler : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive WRITE setActive)
    Q_PROPERTY(ContainerKinds styledContainers READ styledContainers WRITE setStyledContainers)
    Q_PROPERTY(ControlKinds styledControls READ styledControls WRITE setStyledControls)

public:
    // The kinds of parent whose controls are styled.
    enum ContainerKind : unsigned {
        FormContainer = 1u << 0, // the window itself or its central widget
        FrameContainer = 1u << 1,
        ToolbarContainer = 1u << 2,
        PanelContainer = 1u << 5, // any other plain widget or frame
        ScrollBoxContainer = 1u << 6,
        GroupBoxContainer = 1u << 7,
        TabSheetContainer = 1u << 8,
    };
    Q_DECLARE_FLAGS(ContainerKinds, ContainerKind)
    Q_FLAG(ContainerKinds)

    // The kinds of widget that are styled.
    enum ControlKind : unsigned {
        MainMenuControl = 1u << 0, // the menu bar and its menus
        PopupMenuControl = 1u << 1,
        ToolbarControl = 1u << 2,
        ComboControl = 1u << 4,
        EditControl = 1u << 5,
        MaskEditControl = 1u << 6, // a line edit with an input mask
        MemoControl = 1u << 7,
        RichEditControl = 1u << 8,
        CheckBoxControl = 1u << 9,
        RadioButtonControl = 1u << 10,
        ButtonControl = 1u << 11,
        BitBtnControl = 1u << 12, // a push button with an icon
        PanelControl = 1u << 14,  // a frame or label with a panel frame
        GroupBoxControl = 1u << 15,
    };
    Q_DECLARE_FLAGS(ControlKinds, ControlKind)
    Q_FLAG(ControlKinds)

    // The styler belongs to window; it starts inactive, with the look FlatLook describes.
    explicit FlatStyler(QWidget* window);
    ~FlatStyler() override;

    bool isActive() const { return active_; }
    void setActive(bool active);
    ContainerKinds styledContainers() const { return containers_; }
    void setStyledContainers(ContainerKinds kinds);
    ControlKinds styledControls() const { return controls_; }
    void setStyledControls(ControlKinds kinds);
    const FlatLook& look() const { return look_; }
    void setLook(const FlatLook& look);

    // The colours of the next drawing, from the look and the window's palette.
    DerivedColors Colors() const;
    // The desktop colours: button face, highlight, button shadow and text of the window's palette.
    SystemColors System() const;
    // Whether the display shows 16 or more bits per pixel.
    static bool HighColor();
    // The menus' font and text colour of the next drawing; menuFont is the menu's own font.
    QFont MenuFont(const QFont& menuFont) const;
    QColor MenuTextColor() const;
    // Whether the mouse is over widget or it has just gained the focus.
    bool IsHot(const QWidget* widget) const { return hot_.contains(widget); }
    // Whether widget is drawn as a panel: a frame or label with a panel-shaped frame.
    bool IsPanel(const QWidget* widget) const;
    // Whether action keeps its native look.
    static bool KeepsNativeLook(const QAction* action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Attach();
    void Detach();
    void AttachWidget(QWidget* widget);
    bool Eligible(const QWidget* widget) const;
    std::optional<ContainerKind> ContainerKindOf(const QWidget* parent) const;
    void RepaintStyled();

    QWidget* window_;
    FlatStyle* style_;
    FlatLook look_;
    ContainerKinds containers_ = ContainerKinds(0x3FF);
    ControlKinds controls_ = ControlKinds(0xFFFF);
    bool active_ = false;
    struct StyledWidget {
        QPointer<QWidget> widget;
        QPointer<QStyle> previous; // the widget's own style, or none for the application's
    };
    QList<StyledWidget> styled_;
    QSet<const QWidget*> hot_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(FlatStyler::ContainerKinds)
Q_DECLARE_OPERATORS_FOR_FLAGS(FlatStyler::ControlKinds)

// Makes the window's styler "FlatStyler1" with the look every window gives it, active.
FlatStyler* AttachFlatStyler(QWidget* window);
