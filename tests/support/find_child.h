#pragma once

#include <QObject>
#include <QString>
#include <gtest/gtest.h>

// A window's control found by its object name; the test fails when there is none.
template <typename T>
T* Child(const QObject* parent, const char* objectName)
{
    T* child = parent->findChild<T*>(QString::fromLatin1(objectName));
    EXPECT_NE(child, nullptr) << objectName;
    return child;
}

template <typename T>
T* Child(const QObject& parent, const char* objectName)
{
    return Child<T>(&parent, objectName);
}
