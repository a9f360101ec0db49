#include "ui/platform/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>

namespace pelwick {

namespace {

void addMessage(QFileDialog& dialog, const std::string& message) {
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid || message.empty()) {
        return;
    }
    // A row of its own below the dialog's controls, spanning all columns.
    auto* label = new QLabel(QString::fromStdString(message), &dialog);
    label->setWordWrap(true);
    label->setContentsMargins(0, 6, 0, 0);
    grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
}

void prepared(QFileDialog& dialog, const std::string& title) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowTitle(QString::fromStdString(title));
    dialog.setWindowModality(Qt::ApplicationModal);
}

/// The folder last used for a kind of dialog, else the home folder.
QString startFolder(const QString& last) {
    return !last.isEmpty() && QDir(last).exists() ? last : QDir::homePath();
}

} // namespace

std::optional<std::filesystem::path> QtDialogs::run(QFileDialog& dialog, QString& folder) {
    dialog.setViewMode(QFileDialog::Detail);
    // Wide enough for the name, size, type and date columns beside the places list.
    dialog.resize(960, 560);
    if (auto* files = dialog.findChild<QTreeView*>("treeView")) {
        files->header()->resizeSection(0, 340);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString chosen = dialog.selectedFiles().first();
    // A chosen folder is itself where the next choice of a folder starts; a chosen file's folder
    // is where the next file is looked for.
    folder = dialog.fileMode() == QFileDialog::Directory ? QFileInfo(chosen).absoluteFilePath()
                                                         : QFileInfo(chosen).absolutePath();
    return std::filesystem::path(chosen.toStdString());
}

std::optional<std::filesystem::path> QtDialogs::saveFile(const std::string& title,
                                                         const std::string& proposedName) {
    QFileDialog dialog(QApplication::activeWindow());
    prepared(dialog, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDirectory(startFolder(saveFolder_));
    dialog.selectFile(QString::fromStdString(proposedName));
    return run(dialog, saveFolder_);
}

std::optional<std::filesystem::path> QtDialogs::openFile(const std::string& title,
                                                         const std::string& message) {
    QFileDialog dialog(QApplication::activeWindow());
    prepared(dialog, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const auto start = openFileStartFolder();
    dialog.setDirectory(start ? QString::fromStdString(start->string()) : startFolder(openFolder_));
    addMessage(dialog, message);
    return run(dialog, openFolder_);
}

std::optional<std::filesystem::path> QtDialogs::chooseFolder(const std::string& title,
                                                             const std::string& message) {
    QFileDialog dialog(QApplication::activeWindow());
    prepared(dialog, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setDirectory(startFolder(chooseFolder_));
    addMessage(dialog, message);
    return run(dialog, chooseFolder_);
}

} // namespace pelwick
