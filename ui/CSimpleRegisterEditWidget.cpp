#include "CSimpleRegisterEditWidget.h"

#include "StyledBackground.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {
// Text colour black in every colour group.
void makeTextBlack(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setBrush(QPalette::All, QPalette::Text, QBrush(QColor(QStringLiteral("black"))));
    widget->setPalette(palette);
}

QString fixedText(double value)
{
    return QStringLiteral("%1").arg(value, 0, 'f', 6);
}

template<typename Box> Box *tightBox(int spacing)
{
    auto *layout = new Box;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}
} // namespace

CSimpleRegisterEditWidget::CSimpleRegisterEditWidget(QWidget *parent) : QWidget(parent)
{
    setStyleSheet(QStringLiteral("QWidget{background-color: #FFF;}"));

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(5, 5, 5, 5);
    mainLayout->setSpacing(1);

    auto *upperRow = tightBox<QHBoxLayout>(5);
    mainLayout->addLayout(upperRow, 0);

    auto *leftColumn = tightBox<QVBoxLayout>(1);
    upperRow->addLayout(leftColumn, 1);

    const auto addFieldRow = [&](const QString &labelText, QLineEdit *edit) {
        auto *row = tightBox<QHBoxLayout>(5);
        leftColumn->addLayout(row, 0);
        auto *label = new QLabel(labelText, this);
        makeTextBlack(label);
        makeTextBlack(edit);
        row->addWidget(label, 0);
        row->addWidget(edit, 0);
        row->addStretch(2);
    };

    extraValueEdit = new QLineEdit(this);
    auto *numberValidator = new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{1,}\\.[0-9]{1,}")), this);
    extraValueEdit->setValidator(numberValidator);
    addFieldRow(QStringLiteral("ExtraValue: "), extraValueEdit);

    multiplierEdit = new QLineEdit(this);
    multiplierEdit->setValidator(numberValidator);
    addFieldRow(QStringLiteral("Multiplier: "), multiplierEdit);

    unitsEdit = new QLineEdit(this);
    addFieldRow(QStringLiteral("Units: "), unitsEdit);

    auto *rightColumn = tightBox<QVBoxLayout>(1);
    upperRow->addLayout(rightColumn, 1);

    nameLabel = new QLabel(this);
    nameLabel->setStyleSheet(QStringLiteral("QLabel { color: #0c3342; font-weight: bold;}"));
    nameLabel->setWordWrap(true);
    nameLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    nameLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::MinimumExpanding);
    rightColumn->addWidget(nameLabel, 0, Qt::AlignTop | Qt::AlignHCenter);

    auto *hintLabel = new QLabel(QStringLiteral("Value = RAW * Multiplier + ExtraValue"), this);
    hintLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::MinimumExpanding);
    hintLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    makeTextBlack(hintLabel);
    rightColumn->addWidget(hintLabel, 0, Qt::AlignHCenter | Qt::AlignVCenter);
}

CSimpleRegisterEditWidget::~CSimpleRegisterEditWidget() = default;

void CSimpleRegisterEditWidget::setData(QString name, double _extraValue, double _multiplier,
                                        QString _units)
{
    nameLabel->setText(name);
    extraValueEdit->setText(fixedText(_extraValue));
    multiplierEdit->setText(fixedText(_multiplier));
    unitsEdit->setText(_units);
}

double CSimpleRegisterEditWidget::getExtraValue()
{
    return extraValueEdit->text().toDouble();
}

double CSimpleRegisterEditWidget::getMultiplier()
{
    return multiplierEdit->text().toDouble();
}

QString CSimpleRegisterEditWidget::getUnits()
{
    return unitsEdit->text();
}

void CSimpleRegisterEditWidget::paintEvent(QPaintEvent *)
{
    drawStyledBackground(this);
}
