// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>

class QObject;

// What screen readers are told about the template's standard controls where Qt's own answer
// misleads them. Installed once; later calls do nothing.
void InstallControlAccessibility();

// The name a control takes from its caption: the text without its mnemonic marks and without
// the colon that ends a caption.
QString CaptionName(const QString &caption);

// Forgets the accessible interface made for `object` so far. An interface is made the first
// time anything is said about the object, which can be while it is being built, before it has
// become what it will be described as.
void RefreshAccessibleInterface(QObject *object);
