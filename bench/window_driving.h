#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QObject>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>

// The benchmarks drive the real windows as a user does.

// A window's control by its object name; the benchmark ends when there is none.
template <typename T>
T* Control(const QObject& window, const char* name)
{
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr) {
        std::fprintf(stderr, "the window has no control %s\n", name);
        std::exit(1);
    }
    return control;
}

// A left click on the tree node at index, as a user selects a folder.
inline void ClickNode(QTreeView* tree, const QModelIndex& index)
{
    const QPointF at = tree->visualRect(index).center();
    const QPointF global = tree->viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &press);
    QApplication::sendEvent(tree->viewport(), &release);
}
