#pragma once

#include <QWidget>

#include <filesystem>
#include <initializer_list>
#include <optional>

class QPushButton;
class QVBoxLayout;

namespace pelwick {

class FlasherStore;
class NoticeBox;
class BackupChecksumAssessment;
class FirmwareFileAssessment;

/// The body of one wizard step. It shows what the store holds and calls the store's operations;
/// `refresh` brings it up to date.
class StepBody : public QWidget {
public:
    StepBody(FlasherStore& store, QWidget* parent);

    virtual void refresh() = 0;

protected:
    QVBoxLayout* column() const { return column_; }
    /// A row of buttons aligned left, added to the column.
    QWidget* addButtonRow(std::initializer_list<QPushButton*> buttons);

    /// Shows a verdict on the calculator's firmware (`full`: its message, else its summary).
    static void showVerdict(NoticeBox& box, const BackupChecksumAssessment& assessment, bool full);
    /// Shows a verdict on the chosen file (`full`: its message, else its summary), followed in
    /// DEMO by a line saying so when the file is the demo pattern.
    void showVerdict(NoticeBox& box, const FirmwareFileAssessment& assessment, bool full) const;

    FlasherStore& store_;

private:
    bool isDemoPattern(const std::optional<std::filesystem::path>& file) const;

    QVBoxLayout* column_;
    mutable std::optional<std::filesystem::path> demoCheckedFile_;
    mutable bool demoPattern_ = false;
};

} // namespace pelwick
