// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/folder_browser_window.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>

bool FolderPathFromItem(const QString &item, QString *path)
{
    if (item.isEmpty() || !QFileInfo(item).isDir())
        return false;
    *path = item;
    return true;
}

FolderBrowserWindow::FolderBrowserWindow(QWidget *owner, const Options &opts)
    : QDialog(owner), options(opts), model(new QFileSystemModel(this)), tree(new QTreeView(this)),
      titleLabel(new QLabel(opts.title, this)),
      buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(tr("Browse for Folder"));
    setModal(true);

    model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model->setReadOnly(true);
    model->setRootPath(options.rootPath);

    tree->setModel(model);
    // Only the folder names matter here; size, type and date columns would be noise.
    for (int column = 1; column < model->columnCount(); ++column)
        tree->hideColumn(column);
    tree->header()->hide();
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    if (!options.rootPath.isEmpty())
        tree->setRootIndex(model->index(options.rootPath));

    titleLabel->setWordWrap(true);
    titleLabel->setVisible(!options.title.isEmpty());

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel);
    if (options.statusLine) {
        statusLabel = new QLabel(this);
        statusLabel->setTextFormat(Qt::PlainText);
        layout->addWidget(statusLabel);
    }
    layout->addWidget(tree, 1);
    layout->addWidget(buttons);
    resize(360, 420);

    connect(buttons, &QDialogButtonBox::accepted, this, &FolderBrowserWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FolderBrowserWindow::reject);
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FolderBrowserWindow::OnCurrentChanged);
    // The model reads folders in the background, and every row it adds or re-sorts above the
    // selected folder pushes that folder down, out of view.
    connect(model, &QFileSystemModel::rowsInserted, this, &FolderBrowserWindow::RevealSelection);
    connect(model, &QFileSystemModel::layoutChanged, this, &FolderBrowserWindow::RevealSelection);
    connect(tree->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { revealPath.clear(); });
    tree->installEventFilter(this);
    tree->viewport()->installEventFilter(this);
    UpdateConfirmButton();
}

bool FolderBrowserWindow::Run()
{
    if (onInitialized)
        onInitialized();
    // The window's own default selection, when its owner chose none: the user's home folder.
    if (!tree->currentIndex().isValid())
        SelectFolder(QDir::homePath());
    return exec() == QDialog::Accepted;
}

void FolderBrowserWindow::SelectFolder(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return;
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!options.rootPath.isEmpty()) {
        const QString top = QDir::cleanPath(options.rootPath);
        if (folder != top && !folder.startsWith(top == "/" ? top : top + '/'))
            return;
    }
    const QModelIndex index = model->index(folder);
    if (!index.isValid())
        return;
    tree->setCurrentIndex(index);
    revealPath = folder;
    tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void FolderBrowserWindow::RevealSelection()
{
    if (revealPath.isEmpty())
        return;
    const QModelIndex index = tree->currentIndex();
    if (!index.isValid() || model->filePath(index) != revealPath) {
        revealPath.clear();
        return;
    }
    tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void FolderBrowserWindow::SetStatusText(const QString &text)
{
    if (statusLabel)
        statusLabel->setText(text);
}

QString FolderBrowserWindow::StatusText() const
{
    return statusLabel ? statusLabel->text() : QString();
}

QString FolderBrowserWindow::SelectedPath() const
{
    const QModelIndex index = tree->currentIndex();
    return index.isValid() ? model->filePath(index) : QString();
}

bool FolderBrowserWindow::CanConfirm() const
{
    const QString path = SelectedPath();
    if (path.isEmpty())
        return false;
    QString folder;
    return !options.fileSystemFoldersOnly || FolderPathFromItem(path, &folder);
}

void FolderBrowserWindow::accept()
{
    // A folder can vanish while the window is open; the button state may be stale by now.
    if (!CanConfirm()) {
        UpdateConfirmButton();
        return;
    }
    QDialog::accept();
}

bool FolderBrowserWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Once the user clicks, types or scrolls in the tree, where it shows is theirs to choose.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        revealPath.clear();
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void FolderBrowserWindow::OnCurrentChanged()
{
    UpdateConfirmButton();
    if (onSelectionChanged)
        onSelectionChanged(SelectedPath());
}

void FolderBrowserWindow::UpdateConfirmButton()
{
    buttons->button(QDialogButtonBox::Ok)->setEnabled(CanConfirm());
}
