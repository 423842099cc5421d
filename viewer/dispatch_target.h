// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <stdexcept>

// Raised by a control when a call by dispatch id fails. The description is the text the
// window shows the user; it may be empty.
class DispatchError : public std::runtime_error {
public:
    explicit DispatchError(const QString &description)
        : std::runtime_error(description.toStdString()), description_(description)
    {
    }
    const QString &description() const { return description_; }

private:
    QString description_;
};

// A control that answers method calls by dispatch id. Texts travel as QString (a null QString is
// an empty text), 16-bit integers as short, 32-bit integers as int, booleans as bool; a method
// without result returns an invalid QVariant.
class DispatchTarget {
public:
    virtual ~DispatchTarget() = default;
    virtual QVariant Invoke(int dispid, const QVariantList &args) = 0;
};
