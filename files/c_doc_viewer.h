// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QWidget>

#include <cstdint>

class DispatchTarget;

// The dialog's handle on the document viewer control: each operation is one call by dispatch
// id. Failures of the control propagate as DispatchError. While no control is attached, or
// the attached widget is not one that answers dispatch ids, every call does nothing and
// returns false or 0.
class CDocViewer {
public:
    void Attach(QWidget *control);
    QWidget *control() const { return control_; }

    void CloseDocument();
    int32_t GetPageCount();
    bool ApplyPreviewSetting(int32_t setting);
    bool OpenDocument(const QString &path, const QString &second, const QString &third,
                      int16_t zoom);
    void ApplyDisplaySetting(int16_t setting);

private:
    QVariant InvokeHelper(int dispid, const QVariantList &args);

    QPointer<QWidget> control_;
};
