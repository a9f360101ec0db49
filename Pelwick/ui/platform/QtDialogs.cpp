#include "ui/platform/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QStandardPaths>

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

} // namespace

std::optional<std::filesystem::path> QtDialogs::run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString chosen = dialog.selectedFiles().first();
    lastFolder_ = dialog.directory().absolutePath();
    return std::filesystem::path(chosen.toStdString());
}

std::optional<std::filesystem::path> QtDialogs::saveFile(const std::string& title,
                                                         const std::string& proposedName) {
    QFileDialog dialog(QApplication::activeWindow());
    prepared(dialog, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QString folder =
        !lastFolder_.isEmpty()
            ? lastFolder_
            : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    dialog.setDirectory(QDir(folder).exists() ? folder : QDir::homePath());
    dialog.selectFile(QString::fromStdString(proposedName));
    return run(dialog);
}

std::optional<std::filesystem::path> QtDialogs::openFile(const std::string& title,
                                                         const std::string& message) {
    QFileDialog dialog(QApplication::activeWindow());
    prepared(dialog, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const auto start = openFileStartFolder();
    if (start) {
        dialog.setDirectory(QString::fromStdString(start->string()));
    } else if (!lastFolder_.isEmpty()) {
        dialog.setDirectory(lastFolder_);
    }
    addMessage(dialog, message);
    return run(dialog);
}

std::optional<std::filesystem::path> QtDialogs::chooseFolder(const std::string& title,
                                                             const std::string& message) {
    QFileDialog dialog(QApplication::activeWindow());
    prepared(dialog, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (!lastFolder_.isEmpty()) {
        dialog.setDirectory(lastFolder_);
    }
    addMessage(dialog, message);
    return run(dialog);
}

} // namespace pelwick
