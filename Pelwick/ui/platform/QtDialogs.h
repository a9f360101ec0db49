#pragma once

#include "store/Platform.h"

#include <QString>

#include <functional>

class QFileDialog;

namespace pelwick {

/// The store's file dialogs as Qt file dialogs, modal to the active window. The dialogs are Qt's
/// own (not the desktop's), so that the explaining message can be shown above the file list.
class QtDialogs : public Dialogs {
public:
    /// Where an open dialog starts; none leaves Qt's choice (the last folder used).
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
    std::optional<std::filesystem::path> run(QFileDialog& dialog);

    StartFolder openFileStartFolder_;
    QString lastFolder_;
};

} // namespace pelwick
