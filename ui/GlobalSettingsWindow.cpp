#include "GlobalSettingsWindow.h"

#include "CSettings.h"
#include "SharedConstants.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace {
constexpr int BytesPerMb = 1000000;

QHBoxLayout *makeRow(const QString &name)
{
    auto *row = new QHBoxLayout();
    row->setObjectName(name);
    return row;
}

void setButtonText(QPushButton *button, const QString &text)
{
    button->setText(text);
    QFont font = button->font();
    font.setPointSize(9);
    button->setFont(font);
}
} // namespace

GlobalSettingsWindow::GlobalSettingsWindow() : QDialog(nullptr)
{
    auto *grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));

    auto *useLogRow = makeRow(QStringLiteral("horizontalLayout_3"));
    useLogCheck = new QCheckBox(this);
    useLogCheck->setObjectName(QStringLiteral("UseLog"));
    useLogCheck->setText(tr("Включить логирование"));
    useLogCheck->setLayoutDirection(Qt::RightToLeft);
    useLogCheck->setAutoFillBackground(false);
    useLogCheck->setChecked(CSettings::readValue(SettingsKey::UseLog, true).toBool());
    useLogRow->addWidget(useLogCheck);
    grid->addLayout(useLogRow, 0, 0, 1, 1);

    auto *counterRow = makeRow(QStringLiteral("horizontalLayout"));
    fileCounterLabel = new QLabel(this);
    fileCounterLabel->setObjectName(QStringLiteral("LBLFileCounter"));
    fileCounterLabel->setText(tr("Количество файлов для логирования:"));
    counterRow->addWidget(fileCounterLabel);
    fileCounterSpin = new QSpinBox(this);
    fileCounterSpin->setObjectName(QStringLiteral("spinBox"));
    fileCounterSpin->setMinimum(1);
    fileCounterSpin->setMaximum(20);
    fileCounterSpin->setValue(
        CSettings::readValue(SettingsKey::MaxFilesCounter, SettingsKey::DefaultMaxFilesCounter)
            .toInt());
    counterRow->addWidget(fileCounterSpin);
    grid->addLayout(counterRow, 1, 0, 1, 1);

    auto *expandedRow = makeRow(QStringLiteral("horizontalLayout_4"));
    expandedLogCheck = new QCheckBox(this);
    expandedLogCheck->setObjectName(QStringLiteral("checkBox"));
    expandedLogCheck->setText(tr("Расширенное логирование"));
    expandedLogCheck->setLayoutDirection(Qt::RightToLeft);
    expandedLogCheck->setAutoFillBackground(false);
    expandedLogCheck->setChecked(CSettings::readValue(SettingsKey::ExpandedLog, false).toBool());
    expandedRow->addWidget(expandedLogCheck);
    grid->addLayout(expandedRow, 5, 0, 1, 1);

    auto *sizeRow = makeRow(QStringLiteral("horizontalLayout_2"));
    fileMaxSizeLabel = new QLabel(this);
    fileMaxSizeLabel->setObjectName(QStringLiteral("LBLFileMaxSize"));
    fileMaxSizeLabel->setText(tr("Максимальный размер лога(МБ):"));
    sizeRow->addWidget(fileMaxSizeLabel);
    fileMaxSizeSpin = new QSpinBox(this);
    fileMaxSizeSpin->setObjectName(QStringLiteral("FileMaxSize"));
    fileMaxSizeSpin->setMaximum(MaxFileSizeMb);
    fileMaxSizeSpin->setValue(99);
    fileMaxSizeSpin->setValue(
        CSettings::readValue(SettingsKey::FileMaxSize, SettingsKey::DefaultFileMaxSize).toInt()
        / BytesPerMb);
    sizeRow->addWidget(fileMaxSizeSpin);
    grid->addLayout(sizeRow, 4, 0, 1, 1);

    buttonBox = new QDialogButtonBox(this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setLayoutDirection(Qt::LeftToRight);
    buttonBox->setStandardButtons(QDialogButtonBox::Save | QDialogButtonBox::Close);
    buttonBox->setCenterButtons(false);
    setButtonText(buttonBox->button(QDialogButtonBox::Close), tr("Отмена"));
    setButtonText(buttonBox->button(QDialogButtonBox::Save), tr("Сохранить"));
    grid->addWidget(buttonBox, 6, 0, 1, 1);

    connect(buttonBox, &QDialogButtonBox::accepted, this, &GlobalSettingsWindow::saveSettings);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

GlobalSettingsWindow::~GlobalSettingsWindow() = default;

void GlobalSettingsWindow::saveSettings()
{
    CSettings::writeValue(SettingsKey::UseLog, useLogCheck->isChecked());
    CSettings::writeValue(SettingsKey::ExpandedLog, expandedLogCheck->isChecked());
    CSettings::writeValue(SettingsKey::MaxFilesCounter, fileCounterSpin->value());
    // The spin box stops at MaxFileSizeMb, so the product fits an int.
    CSettings::writeValue(SettingsKey::FileMaxSize,
                          static_cast<qint32>(fileMaxSizeSpin->value() * BytesPerMb));
    close();
}
