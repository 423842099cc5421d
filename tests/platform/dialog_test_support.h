// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "platform/data_exchange.h"
#include "platform/dialog_template.h"
#include "platform/message_box.h"

#include <QMessageBox>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

// Where a control lies in its window's client area, whichever frame of the window holds it.
inline QRect RectInWindow(const QWidget *control)
{
    return QRect(control->mapTo(control->window(), QPoint(0, 0)), control->size());
}

// Messages shown through the application message box while an instance lives.
class MessageRecorder {
public:
    struct Message {
        QString text;
        QMessageBox::Icon icon;
    };
    MessageRecorder()
    {
        SetMessageBoxHandlerForTesting(
            [this](QWidget *, const QString &text, QMessageBox::Icon icon) {
                messages.push_back({text, icon});
                return int(QMessageBox::Ok);
            });
    }
    ~MessageRecorder() { SetMessageBoxHandlerForTesting({}); }
    std::vector<Message> messages;
};

// A small template with every kind of control the exchange handles.
inline const DialogTemplate &SmallTemplate()
{
    static const DialogTemplate dialog{
        200,
        0x90CA00C0,
        200,
        120,
        "Small",
        {
            {10, ControlKind::Edit, 0x50810080, 10, 10, 40, 14, nullptr},
            {11, ControlKind::Edit, 0x50810080, 10, 30, 40, 14, nullptr},
            {12, ControlKind::CheckBox, 0x50010003, 10, 50, 50, 10, "Check"},
            {13, ControlKind::DropDownList, 0x50210003, 10, 64, 50, 60, nullptr},
            {14, ControlKind::PushButton, 0x50010000, 100, 10, 40, 14, "Push"},
            {15, ControlKind::RadioButton, 0x50020009, 100, 30, 40, 8, "Radio"},
            {16, ControlKind::SpinButton, 0x50000026, 60, 10, 11, 14, nullptr},
            {17, ControlKind::PushButton, 0x58010000, 100, 50, 40, 14, "Off"},
            {-1, ControlKind::GroupBox, 0x50000007, 90, 2, 100, 80, "Group"},
            {18, ControlKind::StaticText, 0x50020000, 10, 100, 60, 8, "Label"},
        },
        {{13, {"zero", "one", "two"}}},
    };
    return dialog;
}

// The members of the small dialog, exchanged in this order: edit 10 (range 10..20), check 12,
// list 13, edit 11 (no range).
struct SmallRecord {
    uint32_t first = 15;
    int32_t check = 0;
    int32_t index = 1;
    uint32_t second = 7;
};

class SmallDialog : public TemplateDialog {
public:
    SmallDialog() : TemplateDialog(SmallTemplate()) {}
    SmallRecord record;
    int okCalls = 0;
    int cancelCalls = 0;

protected:
    void DoDataExchange(DataExchange &dx) override
    {
        dx.Text(10, record.first);
        dx.Range(record.first, 10, 20);
        dx.Check(12, record.check);
        dx.ListIndex(13, record.index);
        dx.Text(11, record.second);
    }
    void OnOK() override
    {
        ++okCalls;
        TemplateDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancelCalls;
        TemplateDialog::OnCancel();
    }
};
