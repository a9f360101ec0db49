#pragma once

#include "store/Platform.h"

#include <QString>

#include <functional>

class QFileDialog;

namespace pelwick {

/// The store's file dialogs as Qt file dialogs, modal to the active window. The dialogs are Qt's
/// own (not the desktop's), so that the explaining message can be shown below the file list.
/// Each kind of dialog (saving a backup, choosing a firmware file, choosing a backup folder)
/// opens in the folder last used for it, else in the home folder, large enough to show the
/// file list's columns.
class QtDialogs : public Dialogs {
public:
    /// Where an open dialog starts; none: the folder last used for it.
    using StartFolder = std::function<std::optional<std::filesystem::path>()>;

    void setOpenFileStartFolder(StartFolder folder) { openFileStartFolder_ = std::move(folder); }
    /// The folder the next open dialog starts in, if one is set for it.
    std::optional<std::filesystem::path> openFileStartFolder() const {
        return openFileStartFolder_ ? openFileStartFolder_() : std::nullopt;
    }

    std::optional<std::filesystem::path> saveFile(const std::string& title,
                                                  const std::string& proposedName) override;
    std::optional<std::filesystem::path> openFile(const std::string& title,
                                                  const std::string& message) override;
    std::optional<std::filesystem::path> chooseFolder(const std::string& title,
                                                      const std::string& message) override;

private:
    /// Runs `dialog` in `folder` (or the home folder); a choice makes its folder `folder`.
    std::optional<std::filesystem::path> run(QFileDialog& dialog, QString& folder);

    StartFolder openFileStartFolder_;
    QString saveFolder_;
    QString openFolder_;
    QString chooseFolder_;
};

} // namespace pelwick
