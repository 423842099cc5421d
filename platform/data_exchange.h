// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "platform/dialog_template.h"

#include <QString>
#include <cstdint>

// One pass of moving values between a dialog's controls and its members. When reading, the
// first refused field shows its message, gets the focus with its text selected, and ends the
// pass: every later call does nothing and Failed() is true.
class DataExchange {
public:
    DataExchange(TemplateDialog &dialog, bool saveAndValidate);

    bool SaveAndValidate() const { return saveAndValidate; }
    bool Failed() const { return failed; }

    // An edit holding an unsigned decimal number.
    void Text(int id, uint32_t &value);
    // Range check of the value just read by Text; only when reading, and only if Text stored it.
    void Range(uint32_t value, uint32_t lower, uint32_t upper);
    // A check box: 0 unchecked, 1 checked.
    void Check(int id, int32_t &value);
    // A drop-down list: index of the selected entry, -1 for none.
    void ListIndex(int id, int32_t &value);
    // Binds a member pointer to the control's widget on the first pass; later passes leave it.
    template <class T> void Bind(int id, T *&member);

    static QString NotANumberMessage();
    static QString RangeMessage(uint32_t lower, uint32_t upper);

private:
    QWidget *Item(int id) const;
    void Fail(int id, const QString &message);

    TemplateDialog &dialog;
    bool saveAndValidate;
    bool failed = false;
    int lastTextId = 0;
    bool lastTextStored = false;
};

template <class T> void DataExchange::Bind(int id, T *&member)
{
    if (!member)
        member = dialog.Item<T>(id);
}
