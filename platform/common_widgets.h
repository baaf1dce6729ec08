#pragma once

#include <QAbstractItemView>
#include <QPointer>
#include <QString>
#include <initializer_list>
#include <utility>

class QLabel;
class QPushButton;
class QSize;
class QTableView;
class QWidget;

// Pieces that more than one window builds the same way.

// A widget made with its object name, the name the window's definition gives the control.
template <typename Widget, typename... Arguments>
Widget* MakeNamed(const char* objectName, Arguments&&... arguments)
{
    auto* widget = new Widget(std::forward<Arguments>(arguments)...);
    widget->setObjectName(QString::fromLatin1(objectName));
    return widget;
}

// A push button of the given size that never acts as the dialog's default button: Enter in an
// edit box of a dialog must not press it.
QPushButton* MakeDialogButton(const char* objectName, const QString& text, QWidget* parent, QSize size);

// A list of recordings in report style: grid lines, whole rows selected, nothing editable, no
// row numbers, one text line per row, clickable column titles of the given widths, and Tab moving
// on to the next control instead of walking the cells.
void SetUpRecordingView(QTableView* view, QAbstractItemView::SelectionMode selection,
                        std::initializer_list<int> columnWidths);

// The sky-blue, raised, hidden panel that tells that a list is being built. It shows while its
// window is disabled, so its text stays black in every colour group.
QLabel* MakeBusyPanel(const QString& text, QWidget* parent);
// While a window lists: the window is disabled and the busy panel shown over it. EnterBusy
// returns the widget that had the keyboard focus; LeaveBusy gives it back, so that keys go on
// where they went before (Up and Down in a tree list folder after folder).
QPointer<QWidget> EnterBusy(QWidget* window, QLabel* panel);
void LeaveBusy(QWidget* window, QLabel* panel, const QPointer<QWidget>& focus);

// A notice that passes, for what the user needs to know but need not answer: a one-line panel
// ("passingNotice") centred at the foot of window over its other controls, hidden again after a
// few seconds or at a click on it. A newer notice takes the place of the one showing. A text too
// wide for the window is shortened in its middle; the whole text is the panel's tool tip.
void ShowPassingNotice(QWidget* window, const QString& text);

// Gives a top-level window the outer size outer, its frame included (the frame is known only
// once the window is shown; before that it counts as nothing).
void ResizeToOuterSize(QWidget* window, QSize outer);

// Centres the busy panel 40 pixels above the middle of a window of outer size outer.
void PlaceBusyPanel(QLabel* panel, QSize outer);
