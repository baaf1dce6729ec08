#include "styling/flat_styler.h"

#include "styling/flat_style.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <optional>
#include <utility>

namespace {

constexpr int kNativeLookTag = 999;

bool Tagged(const QObject* object)
{
    return object != nullptr && object->property("tag").toInt() == kNativeLookTag;
}

QColor Or(const QColor& configured, const QColor& fallback)
{
    return configured.isValid() ? configured : fallback;
}

// The widget a menu hangs from: the first ancestor that is no menu.
const QWidget* MenuHost(const QWidget* menu)
{
    const QWidget* host = menu;
    while (qobject_cast<const QMenu*>(host) != nullptr)
        host = host->parentWidget();
    return host;
}

// A menu or a menu chain whose link is tagged keeps its native look as a whole.
bool MenuChainTagged(const QWidget* menu)
{
    for (const QWidget* link = menu; link != nullptr; link = link->parentWidget()) {
        if (Tagged(link))
            return true;
        if (qobject_cast<const QMenu*>(link) == nullptr)
            return false;
    }
    return false;
}

bool IsPanelFrame(const QWidget* widget)
{
    const auto* frame = qobject_cast<const QFrame*>(widget);
    if (frame == nullptr
        || (frame->metaObject() != &QFrame::staticMetaObject && frame->metaObject() != &QLabel::staticMetaObject))
        return false;
    const QFrame::Shape shape = frame->frameShape();
    return shape == QFrame::Panel || shape == QFrame::WinPanel || shape == QFrame::StyledPanel;
}

std::optional<FlatStyler::ControlKind> ControlKindOf(const QWidget* widget)
{
    if (qobject_cast<const QMenuBar*>(widget) != nullptr)
        return FlatStyler::MainMenuControl;
    if (qobject_cast<const QMenu*>(widget) != nullptr) {
        return qobject_cast<const QMenuBar*>(MenuHost(widget)) != nullptr ? FlatStyler::MainMenuControl
                                                                          : FlatStyler::PopupMenuControl;
    }
    if (qobject_cast<const QComboBox*>(widget) != nullptr)
        return FlatStyler::ComboControl;
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->inputMask().isEmpty() ? FlatStyler::EditControl : FlatStyler::MaskEditControl;
    if (qobject_cast<const QPlainTextEdit*>(widget) != nullptr)
        return FlatStyler::MemoControl;
    if (qobject_cast<const QTextEdit*>(widget) != nullptr)
        return FlatStyler::RichEditControl;
    if (qobject_cast<const QCheckBox*>(widget) != nullptr)
        return FlatStyler::CheckBoxControl;
    if (qobject_cast<const QRadioButton*>(widget) != nullptr)
        return FlatStyler::RadioButtonControl;
    if (const auto* button = qobject_cast<const QPushButton*>(widget))
        return button->icon().isNull() ? FlatStyler::ButtonControl : FlatStyler::BitBtnControl;
    if (IsPanelFrame(widget))
        return FlatStyler::PanelControl;
    return std::nullopt;
}

} // namespace

FlatLook FormFlatLook()
{
    FlatLook look;
    look.font = QFont(QStringLiteral("宋体"));
    look.font.setPixelSize(12);
    return look;
}

FlatStyler::FlatStyler(QWidget* window) : QObject(window), window_(window), style_(new FlatStyle(this))
{
    style_->setParent(this);
    look_.font = QApplication::font("QMenu");
}

FlatStyler::~FlatStyler()
{
    Detach();
}

void FlatStyler::setActive(bool active)
{
    if (active == active_)
        return;
    active_ = active;
    if (active_)
        Attach();
    else
        Detach();
}

void FlatStyler::setStyledContainers(ContainerKinds kinds)
{
    Detach();
    containers_ = kinds;
    if (active_)
        Attach();
}

void FlatStyler::setStyledControls(ControlKinds kinds)
{
    Detach();
    controls_ = kinds;
    if (active_)
        Attach();
}

void FlatStyler::setLook(const FlatLook& look)
{
    look_ = look;
    RepaintStyled();
}

SystemColors FlatStyler::System() const
{
    const QPalette palette = window_->palette();
    return {palette.color(QPalette::Button), palette.color(QPalette::Highlight), palette.color(QPalette::Dark),
            palette.color(QPalette::WindowText)};
}

DerivedColors FlatStyler::Colors() const
{
    const SystemColors system = System();
    const QColor fontColor = Or(look_.fontColor, system.menuText);
    const ConfiguredColors configured{
        Or(look_.color, system.btnFace),
        Or(look_.iconBackColor, system.btnFace),
        Or(look_.menuBarColor, system.btnFace),
        Or(look_.selectColor, system.highlight),
        Or(look_.selectBorderColor, system.highlight),
        Or(look_.selectFontColor, fontColor),
        Or(look_.disabledColor, window_->palette().color(QPalette::Disabled, QPalette::WindowText)),
        Or(look_.separatorColor, system.btnFace),
        Or(look_.checkedColor, system.highlight),
    };
    return SetGlobalColor(configured, system, look_.useSystemColors, HighColor());
}

QFont FlatStyler::MenuFont(const QFont& menuFont) const
{
    return look_.useSystemColors ? menuFont : look_.font;
}

QColor FlatStyler::MenuTextColor() const
{
    const QColor system = System().menuText;
    return look_.useSystemColors ? system : Or(look_.fontColor, system);
}

bool FlatStyler::HighColor()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr || screen->depth() >= 16;
}

bool FlatStyler::IsPanel(const QWidget* widget) const
{
    return IsPanelFrame(widget);
}

bool FlatStyler::KeepsNativeLook(const QAction* action)
{
    return Tagged(action);
}

bool FlatStyler::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::Enter:
        if (widget->isEnabled()) {
            hot_.insert(widget);
            widget->update();
        }
        break;
    case QEvent::FocusIn:
        hot_.insert(widget);
        widget->update();
        break;
    case QEvent::Leave:
    case QEvent::FocusOut:
        hot_.remove(widget);
        widget->update();
        break;
    default:
        break;
    }
    return false;
}

void FlatStyler::Attach()
{
    for (QWidget* widget : window_->findChildren<QWidget*>()) {
        if (Eligible(widget))
            AttachWidget(widget);
    }
}

void FlatStyler::AttachWidget(QWidget* widget)
{
    styled_.append({widget, widget->testAttribute(Qt::WA_SetStyle) ? widget->style() : nullptr});
    widget->setStyle(style_);
    if (qobject_cast<QMenu*>(widget) == nullptr && qobject_cast<QMenuBar*>(widget) == nullptr) {
        widget->installEventFilter(this);
        connect(widget, &QObject::destroyed, this, [this, widget] { hot_.remove(widget); });
    }
    widget->update();
}

// Puts back every widget's previous style (its own, or the application's).
void FlatStyler::Detach()
{
    for (const StyledWidget& styled : std::exchange(styled_, {})) {
        if (styled.widget.isNull())
            continue;
        styled.widget->removeEventFilter(this);
        disconnect(styled.widget, nullptr, this, nullptr);
        styled.widget->setStyle(styled.previous);
        styled.widget->update();
    }
    hot_.clear();
}

bool FlatStyler::Eligible(const QWidget* widget) const
{
    const std::optional<ControlKind> kind = ControlKindOf(widget);
    if (!kind || !controls_.testFlag(*kind))
        return false;
    if (widget->testAttribute(Qt::WA_SetStyle) && !look_.overrideOwnerDraw)
        return false;
    if (qobject_cast<const QMenu*>(widget) != nullptr) {
        const QWidget* host = MenuHost(widget);
        return host != nullptr && host->window() == window_ && !MenuChainTagged(widget);
    }
    const QWidget* parent = widget->parentWidget();
    if (widget->window() != window_ || parent == nullptr || Tagged(widget) || Tagged(parent))
        return false;
    const std::optional<ContainerKind> container = ContainerKindOf(parent);
    return container && containers_.testFlag(*container);
}

std::optional<FlatStyler::ContainerKind> FlatStyler::ContainerKindOf(const QWidget* parent) const
{
    const auto* mainWindow = qobject_cast<const QMainWindow*>(window_);
    if (parent == window_ || (mainWindow != nullptr && parent == mainWindow->centralWidget()))
        return FormContainer;
    if (qobject_cast<const QGroupBox*>(parent) != nullptr)
        return GroupBoxContainer;
    if (qobject_cast<const QToolBar*>(parent) != nullptr)
        return ToolbarContainer;
    const QWidget* above = parent->parentWidget();
    if (qobject_cast<const QStackedWidget*>(above) != nullptr && qobject_cast<const QTabWidget*>(above->parentWidget()))
        return TabSheetContainer;
    if (above != nullptr && qobject_cast<const QScrollArea*>(above->parentWidget()) != nullptr)
        return ScrollBoxContainer;
    // Only plain widgets and frames hold controls as panels do: the inner edit of a combo or date
    // box belongs to its control and is not styled.
    if (parent->metaObject() == &QWidget::staticMetaObject || parent->metaObject() == &QFrame::staticMetaObject)
        return PanelContainer;
    return std::nullopt;
}

// Menus measure their items again on a style change: a new font or icon width reaches them.
void FlatStyler::RepaintStyled()
{
    for (const StyledWidget& styled : styled_) {
        if (styled.widget.isNull())
            continue;
        QEvent change(QEvent::StyleChange);
        QCoreApplication::sendEvent(styled.widget, &change);
        styled.widget->update();
    }
}

FlatStyler* AttachFlatStyler(QWidget* window)
{
    auto* styler = new FlatStyler(window);
    styler->setObjectName(QStringLiteral("FlatStyler1"));
    styler->setLook(FormFlatLook());
    styler->setActive(true);
    return styler;
}
