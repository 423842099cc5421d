// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "viewer/dispatch_target.h"

#include <QWidget>

#include <cstdint>

class QLabel;
class QLineEdit;
class QToolButton;
class PageView;

// The document viewer control: shows the pages of one PDF document in a scrolling column, under
// a navigation bar with a page field that tells the current page (a number typed there and Enter
// go to that page) and the page count. Scrolls with the wheel, the scroll bar and the keyboard
// (arrows, Page Up/Down, Space; Home and End go to the first and the last page); zooms with
// Ctrl+wheel and Ctrl+plus/minus, and Ctrl+0 returns to the fitting set by the calls below.
// Only the pages in view are measured and rendered, and a few are kept, so even a long document
// opens at once. A file that cannot be shown is named as such, with the reason, in the panel.
//
// Calls by dispatch id (Invoke), with their arguments and results:
//   1 CloseDocument()                               -> none
//       Closes the open document; accepted with none open.
//   2 GetPageCount()                                -> int
//       The page count of the open document; 0 when none is open.
//   3 ApplyPreviewSetting(int setting)              -> bool
//       0 hides the navigation bar, 1 shows it. Any other value changes nothing and
//       answers false.
//   4 OpenDocument(text path, text, text, short zoom) -> bool
//       Closes the open document and opens `path`, shown at `zoom` percent of its actual size
//       (100: a point of the page is a point on the screen), from the first page. The second and
//       third texts are reserved and must be empty. A file that cannot be read (missing, not a
//       PDF, damaged, password-protected, a folder, a pipe or device) leaves no document open,
//       shows why in the panel until the next call that closes or opens, and answers false.
//   8 ApplyDisplaySetting(short setting)            -> none
//       How the pages are fitted to the view: 1 at the zoom given to OpenDocument, 2 the whole
//       page in view, 3 the page width across the view.
//
// A call that cannot be carried out raises DispatchError: an unknown dispatch id, the wrong
// number of arguments, an argument of the wrong type or out of range. An unreadable file is not
// such a failure.
class DocViewerControl : public QWidget, public DispatchTarget {
    Q_OBJECT
public:
    enum Dispid {
        kCloseDocument = 1,
        kGetPageCount = 2,
        kApplyPreviewSetting = 3,
        kOpenDocument = 4,
        kApplyDisplaySetting = 8,
    };
    enum PreviewSetting { kHideNavigationBar = 0, kShowNavigationBar = 1 };
    enum DisplaySetting { kAtZoom = 1, kFitPage = 2, kFitWidth = 3 };
    static constexpr int kMinZoom = 10;
    static constexpr int kMaxZoom = 800;

    explicit DocViewerControl(QWidget *parent = nullptr);
    ~DocViewerControl() override;

    QVariant Invoke(int dispid, const QVariantList &args) override;

    void CloseDocument();
    int32_t GetPageCount() const;
    bool ApplyPreviewSetting(int32_t setting);
    bool OpenDocument(const QString &path, const QString &second, const QString &third,
                      int16_t zoom);
    void ApplyDisplaySetting(int16_t setting);

    PageView *pageView() const { return view_; }
    QWidget *navigationBar() const { return navigationBar_; }
    QLineEdit *pageField() const { return pageField_; }
    // "Page 3 of 20", or empty without a document.
    QString navigationText() const;
    // Why the file last opened cannot be shown, as the panel says it; empty otherwise.
    QString message() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void UpdateNavigation();
    void GoToTypedPage();
    void ShowFailure(const QString &reason);

    QWidget *navigationBar_ = nullptr;
    QToolButton *previousButton_ = nullptr;
    QToolButton *nextButton_ = nullptr;
    QLabel *pageLabel_ = nullptr;
    QLineEdit *pageField_ = nullptr;
    QLabel *countLabel_ = nullptr;
    PageView *view_ = nullptr;
};
