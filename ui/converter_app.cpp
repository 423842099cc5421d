// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/converter_app.h"

#include "ui/main_dialog.h"

bool ConverterApp::InitInstance()
{
    MainDialog dialog;
    dialog.DoModal();
    return false;
}
