// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/data_exchange.h"

#include "core/conversion_settings.h"
#include "platform/message_box.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

namespace {

// The platform reads at most this many characters of an edit for a number.
constexpr int kNumberTextLimit = 31;

} // namespace

DataExchange::DataExchange(TemplateDialog &dialog, bool saveAndValidate)
    : dialog(dialog), saveAndValidate(saveAndValidate)
{
}

QString DataExchange::NotANumberMessage()
{
    return QStringLiteral("Please enter a positive integer.");
}

QString DataExchange::RangeMessage(uint32_t lower, uint32_t upper)
{
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(lower).arg(upper);
}

QWidget *DataExchange::Item(int id) const
{
    return dialog.GetDlgItem(id);
}

void DataExchange::Text(int id, uint32_t &value)
{
    if (failed)
        return;
    lastTextId = id;
    lastTextStored = false;
    auto *edit = qobject_cast<QLineEdit *>(Item(id));
    if (!edit)
        return;
    if (!saveAndValidate) {
        edit->setText(QString::number(value));
        return;
    }
    const std::string text = edit->text().left(kNumberTextLimit).toStdString();
    const std::optional<uint32_t> parsed = ParseUnsignedText(text);
    if (!parsed) {
        Fail(id, NotANumberMessage());
        return;
    }
    value = *parsed;
    lastTextStored = true;
}

void DataExchange::Range(uint32_t value, uint32_t lower, uint32_t upper)
{
    if (failed || !saveAndValidate || !lastTextStored)
        return;
    if (value < lower || value > upper)
        Fail(lastTextId, RangeMessage(lower, upper));
}

void DataExchange::Check(int id, int32_t &value)
{
    if (failed)
        return;
    auto *box = qobject_cast<QAbstractButton *>(Item(id));
    if (!box)
        return;
    if (saveAndValidate)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

void DataExchange::ListIndex(int id, int32_t &value)
{
    if (failed)
        return;
    auto *combo = qobject_cast<QComboBox *>(Item(id));
    if (!combo)
        return;
    if (saveAndValidate)
        value = combo->currentIndex();
    else
        combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : -1);
}

void DataExchange::Fail(int id, const QString &message)
{
    failed = true;
    ShowAppMessage(&dialog, message, QMessageBox::Warning, QMessageBox::Ok);
    if (auto *edit = qobject_cast<QLineEdit *>(Item(id))) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
}
