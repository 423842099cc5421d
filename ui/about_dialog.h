// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "controls/hyper_link_label.h"
#include "platform/dialog_template.h"

// Ids of the About box's controls.
namespace AboutControl {
constexpr int kWebLink = 1044;
constexpr int kMailLink = 1045;
} // namespace AboutControl

// The product's web site and support address, as shown and as opened.
inline const QString kWebSiteUrl = QStringLiteral("https://www.example.com/pagemint");
inline const QString kSupportMailUrl = QStringLiteral("mailto:pagemint@example.com");

const DialogTemplate &AboutDialogTemplate();

// The About box: product name and version, icon, copyright line, and two links.
class AboutDialog : public TemplateDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    HyperLinkLabel &WebLink() { return webLink; }
    HyperLinkLabel &MailLink() { return mailLink; }

protected:
    QWidget *CreateCustomControl(const ControlTemplate &control) override;
    void DoDataExchange(DataExchange &exchange) override;
    bool OnInitDialog() override;

private:
    HyperLinkLabel webLink;
    HyperLinkLabel mailLink;
};
