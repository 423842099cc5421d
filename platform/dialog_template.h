// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QHash>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <utility>
#include <vector>

class DataExchange;
class SystemMenu;
class QFont;
class QKeyEvent;
class QContextMenuEvent;

// Window style bits that the template builder honours.
namespace WindowStyle {
constexpr uint32_t Disabled = 0x08000000;
constexpr uint32_t Visible = 0x10000000;
constexpr uint32_t Border = 0x00800000;
constexpr uint32_t SysMenu = 0x00080000;
constexpr uint32_t MinimizeBox = 0x00020000; // on a dialog window
constexpr uint32_t Group = 0x00020000;       // on a control
constexpr uint32_t TabStop = 0x00010000;
constexpr uint32_t ReportView = 0x00000001; // list view in report mode
} // namespace WindowStyle

enum class ControlKind {
    PushButton,
    CheckBox,
    RadioButton, // an automatic radio button that starts its own group
    Edit,
    DropDownList,
    SpinButton,
    GroupBox,
    StaticText,
    ListView,
    ProgressBar,
    Custom, // a control supplied by the dialog class; a plain panel unless it supplies one
};

// One row of a template's control table. Positions and sizes are in dialog units.
struct ControlTemplate {
    int id; // -1 for statics and group boxes that nothing addresses
    ControlKind kind;
    uint32_t style;
    int x;
    int y;
    int cx;
    int cy;
    const char *text;
};

// Entries a drop-down list receives when the dialog is built, in list order.
struct ListInitData {
    int id;
    std::vector<const char *> entries;
};

// A dialog as data. The dialog font is the desktop's default dialog font.
struct DialogTemplate {
    int id;
    uint32_t style;
    int cx; // client size in dialog units
    int cy;
    const char *caption;
    std::vector<ControlTemplate> controls; // in tab order
    std::vector<ListInitData> listData;
};

// The average character width and the character height of `font`, as the platform derives
// dialog units from them.
QSize DialogBaseUnitsOf(const QFont &font);

// The dialog font to lay out a template of `templateSize` dialog units with, so that the client
// area fits `room` pixels: `font` itself where it fits, otherwise the largest smaller size of it
// that fits (down to a floor below which text would be unreadable).
QFont DialogFontFitting(const QFont &font, const QSize &templateSize, const QSize &room);

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// A dialog built from a template: every control carries its id and is found by GetDlgItem.
// Construction only stores the template; Create (or DoModal) builds the controls and runs
// OnInitDialog, so that derived classes take part through their virtual operations.
class TemplateDialog : public QDialog {
    Q_OBJECT
public:
    explicit TemplateDialog(const DialogTemplate &dialogTemplate, QWidget *parent = nullptr);
    ~TemplateDialog() override;

    // Builds the window once; later calls do nothing.
    void Create();
    // Creates the window if needed and runs it modally; returns the code given to EndDialog.
    int DoModal();
    void EndDialog(int result);

    QWidget *GetDlgItem(int id) const;
    template <class T> T *Item(int id) const { return qobject_cast<T *>(GetDlgItem(id)); }
    const DialogTemplate &Template() const { return dialogTemplate; }

    // Reads the controls into the members and validates them (true), or writes the members
    // into the controls (false). Returns false when a field was refused.
    bool UpdateData(bool saveAndValidate = true);

    // The dialog units of the dialog font.
    QSize DialogBaseUnits() const;
    QRect MapDialogRect(const QRect &dialogUnits) const;

    // The window menu, or null when the template has no system menu.
    SystemMenu *GetSystemMenu() const { return systemMenu; }
    // Every window-menu choice arrives here; the default minimises or closes the window.
    virtual void OnSysCommand(uint32_t id, intptr_t param);

    void reject() override;

    // While suspended, Enter, Esc and Tab are only input of the control with the focus: they
    // neither end the dialog nor move the focus. Calls nest.
    void SuspendDialogKeys(bool suspend);
    bool DialogKeysSuspended() const { return dialogKeysSuspended > 0; }

    // Names control `id` for screen readers after the caption that shows `caption` (a static
    // text, bound to the control as its label, or a group box).
    void NameControlByCaption(int id, const QString &caption);

protected:
    // The widget for a control that the dialog class provides itself (its custom controls),
    // or null for the builder's standard widget of the control's kind.
    virtual QWidget *CreateCustomControl(const ControlTemplate &control);
    // Runs after the controls exist; the default writes the members into the controls.
    // Returning true puts the focus on the first enabled tab-stop control.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(DataExchange &exchange);
    // Enter while the focus is not on a push button; the default validates and ends with IDOK.
    virtual void OnOK();
    // Esc, the close button and the Close choice; the default ends with IDCANCEL.
    virtual void OnCancel();
    void DefaultSysCommand(uint32_t id);

    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QWidget *BuildControl(const ControlTemplate &control);
    void PlaceControl(QWidget *widget, const ControlTemplate &control);
    // Moves each control into the innermost group box whose frame holds it, at the same place
    // in the window, so that the group is the control's context.
    void PlaceInGroupBoxes(const std::vector<std::pair<QWidget *, const ControlTemplate *>> &built);
    // Picks a smaller dialog font when the template at the desktop's font would not fit the
    // screen's free area.
    void FitFontToScreen();

    DialogTemplate dialogTemplate;
    QHash<int, QWidget *> items;
    SystemMenu *systemMenu = nullptr;
    bool created = false;
    int dialogKeysSuspended = 0;
};
