// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/c_doc_viewer.h"

#include "viewer/dispatch_target.h"
#include "viewer/doc_viewer_control.h"

void CDocViewer::Attach(QWidget *control)
{
    control_ = control;
}

QVariant CDocViewer::InvokeHelper(int dispid, const QVariantList &args)
{
    auto *target = dynamic_cast<DispatchTarget *>(control_.data());
    if (target == nullptr) {
        return QVariant();
    }
    return target->Invoke(dispid, args);
}

void CDocViewer::CloseDocument()
{
    InvokeHelper(DocViewerControl::kCloseDocument, {});
}

int32_t CDocViewer::GetPageCount()
{
    return InvokeHelper(DocViewerControl::kGetPageCount, {}).toInt();
}

bool CDocViewer::ApplyPreviewSetting(int32_t setting)
{
    return InvokeHelper(DocViewerControl::kApplyPreviewSetting, {QVariant(int(setting))}).toBool();
}

bool CDocViewer::OpenDocument(const QString &path, const QString &second, const QString &third,
                              int16_t zoom)
{
    return InvokeHelper(DocViewerControl::kOpenDocument,
                        {QVariant(path), QVariant(second), QVariant(third),
                         QVariant::fromValue<short>(zoom)})
        .toBool();
}

void CDocViewer::ApplyDisplaySetting(int16_t setting)
{
    InvokeHelper(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(setting)});
}
