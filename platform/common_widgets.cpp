#include "platform/common_widgets.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

namespace {

const QColor kBusyPanelColour(166, 202, 240); // sky blue
constexpr int kNoticeMilliseconds = 8000;
constexpr int kNoticeMargin = 8;

// The notice panel hides itself at a click.
class NoticePanel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void mousePressEvent(QMouseEvent*) override { hide(); }
};

QLabel* NoticePanelOf(QWidget* window)
{
    if (auto* panel = window->findChild<QLabel*>(QStringLiteral("passingNotice"), Qt::FindDirectChildrenOnly))
        return panel;
    auto* panel = MakeNamed<NoticePanel>("passingNotice", window);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Plain);
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::ToolTipBase);
    panel->setForegroundRole(QPalette::ToolTipText);
    panel->setContentsMargins(6, 3, 6, 3);
    auto* timer = new QTimer(panel);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, panel, &QWidget::hide);
    return panel;
}

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

void ShowPassingNotice(QWidget* window, const QString& text)
{
    QLabel* panel = NoticePanelOf(window);
    const int widest = window->width() - 2 * kNoticeMargin - 20;
    panel->setText(panel->fontMetrics().elidedText(text, Qt::ElideMiddle, widest));
    panel->setToolTip(text);
    panel->adjustSize();
    panel->move((window->width() - panel->width()) / 2, window->height() - panel->height() - kNoticeMargin);
    panel->show();
    panel->raise();
    panel->findChild<QTimer*>()->start(kNoticeMilliseconds);
}
