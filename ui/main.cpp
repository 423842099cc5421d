// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/converter_app.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pagemint.png")));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.pagemint.Pagemint"));
    ConverterApp converter;
    converter.InitInstance();
    return 0;
}
