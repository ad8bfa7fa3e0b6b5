#pragma once

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QSpinBox;

// Modal dialog that edits the log options of the settings file.
class GlobalSettingsWindow : public QDialog
{
    Q_OBJECT
public:
    // The stored byte count is a 32-bit signed int: 2147 MB is the largest size it holds.
    static constexpr int MaxFileSizeMb = 2147;

    GlobalSettingsWindow();
    ~GlobalSettingsWindow() override;

public slots:
    void saveSettings();

private:
    QCheckBox *useLogCheck = nullptr;
    QCheckBox *expandedLogCheck = nullptr;
    QLabel *fileCounterLabel = nullptr;
    QLabel *fileMaxSizeLabel = nullptr;
    QSpinBox *fileCounterSpin = nullptr;
    QSpinBox *fileMaxSizeSpin = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};
