// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/about_dialog.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

// WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
constexpr uint32_t kDialogStyle = 0x80C800C0;
constexpr uint32_t kIcon = 0x50000003;
constexpr uint32_t kDefaultPush = 0x50030001;
constexpr uint32_t kNoPrefixText = 0x50020080;
constexpr uint32_t kText = 0x50020000;
constexpr uint32_t kLinkText = 0x50020200;

// The icon row's text names the application icon resource.
constexpr char kAppIconResource[] = "128";
constexpr int kIconSize = 32;

} // namespace

// The icon is a resource of this static library, which the linker keeps only when something
// refers to it; the macro cannot stand in a namespace.
static QIcon ApplicationIcon()
{
    Q_INIT_RESOURCE(pagemint);
    QIcon icon(QStringLiteral(":/pagemint.png"));
    return icon.isNull() ? QApplication::windowIcon() : icon;
}

const DialogTemplate &AboutDialogTemplate()
{
    using K = ControlKind;
    static const DialogTemplate dialog{
        100,
        kDialogStyle,
        265,
        101,
        "Pagemint",
        {
            {-1, K::StaticText, kIcon, 11, 17, 20, 20, kAppIconResource},
            {IDOK, K::PushButton, kDefaultPush, 208, 7, 50, 14, "OK"},
            {-1, K::StaticText, kNoPrefixText, 37, 11, 139, 8, "Pagemint v2.1"},
            {-1, K::StaticText, kText, 37, 26, 193, 8, "Copyright (C) 2026 The Pagemint authors"},
            {AboutControl::kWebLink, K::StaticText, kLinkText, 37, 41, 193, 8,
             "www.example.com/pagemint"},
            {AboutControl::kMailLink, K::StaticText, kLinkText, 37, 56, 193, 8,
             "Email:pagemint@example.com"},
        },
        {},
    };
    return dialog;
}

AboutDialog::AboutDialog(QWidget *parent) : TemplateDialog(AboutDialogTemplate(), parent) {}

AboutDialog::~AboutDialog() = default;

QWidget *AboutDialog::CreateCustomControl(const ControlTemplate &control)
{
    if (control.kind == ControlKind::StaticText &&
        (control.style & StaticStyle::TypeMask) == StaticStyle::Icon) {
        auto *label = new QLabel;
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setPixmap(ApplicationIcon().pixmap(kIconSize, kIconSize));
        return label;
    }
    if (control.id == IDOK) {
        auto *button = new QPushButton(QString::fromUtf8(control.text));
        button->setDefault(true);
        connect(button, &QPushButton::clicked, this, [this] { EndDialog(IDOK); });
        return button;
    }
    return nullptr;
}

void AboutDialog::DoDataExchange(DataExchange &exchange)
{
    TemplateDialog::DoDataExchange(exchange);
    if (!webLink.Window())
        webLink.SubclassDlgItem(AboutControl::kWebLink, *this);
    if (!mailLink.Window())
        mailLink.SubclassDlgItem(AboutControl::kMailLink, *this);
}

bool AboutDialog::OnInitDialog()
{
    TemplateDialog::OnInitDialog();
    mailLink.SetLinkTarget(kSupportMailUrl);
    mailLink.SetUnderlined(false);
    webLink.SetLinkTarget(kWebSiteUrl);
    webLink.SetUnderlined(false);
    return true;
}
