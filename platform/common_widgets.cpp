#include "platform/common_widgets.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

namespace {

const QColor kBusyPanelColour(166, 202, 240); // sky blue

} // namespace

void SetUpRecordingView(QTableView* view, QAbstractItemView::SelectionMode selection,
                        std::initializer_list<int> columnWidths)
{
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(selection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setTabKeyNavigation(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 2);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    int column = 0;
    for (const int width : columnWidths)
        header->resizeSection(column++, width);
}

QLabel* MakeBusyPanel(const QString& text, QWidget* parent)
{
    auto* panel = MakeNamed<QLabel>("PanelShow", text, parent);
    panel->setAlignment(Qt::AlignCenter);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, kBusyPanelColour);
        palette.setColor(group, QPalette::WindowText, Qt::black);
    }
    panel->setPalette(palette);
    panel->hide();
    return panel;
}

void ResizeToOuterSize(QWidget* window, QSize outer)
{
    window->resize(outer - (window->frameGeometry().size() - window->geometry().size()));
}

void PlaceBusyPanel(QLabel* panel, QSize outer)
{
    panel->move(outer.width() / 2 - panel->width() / 2, outer.height() / 2 - panel->height() / 2 - 40);
}

QPointer<QWidget> EnterBusy(QWidget* window, QLabel* panel)
{
    QPointer<QWidget> focus = window->focusWidget();
    panel->show();
    panel->raise();
    window->setEnabled(false);
    return focus;
}

void LeaveBusy(QWidget* window, QLabel* panel, const QPointer<QWidget>& focus)
{
    window->setEnabled(true);
    panel->hide();
    if (focus)
        focus->setFocus();
}

QPushButton* MakeDialogButton(const char* objectName, const QString& text, QWidget* parent, QSize size)
{
    auto* button = MakeNamed<QPushButton>(objectName, text, parent);
    button->setAutoDefault(false);
    button->resize(size);
    return button;
}
