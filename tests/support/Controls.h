#pragma once

#include <QList>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

namespace corvidan::test {

/// The one child of `form` named `name` of type T; fails the test when the
/// name is missing or used twice.
template <class T>
T* control(QWidget* form, const QString& name)
{
    const QList<T*> found = form->findChildren<T*>(name);
    EXPECT_EQ(found.size(), 1) << "control " << name.toStdString() << " found " << found.size()
                               << " times";
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace corvidan::test
