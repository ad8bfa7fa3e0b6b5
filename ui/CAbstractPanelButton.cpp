#include "CAbstractPanelButton.h"

#include "Palette.h"
#include "StyledBackground.h"

#include <QDebug>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QVBoxLayout>

namespace {
const QString activeIndicatorStyle = QStringLiteral("QWidget{background-color: #f5494d;}");
const QString idleIndicatorStyle = QStringLiteral("QWidget{background-color: rgba(0, 0, 0, 0%);}");
const QColor &successColor = QC_GLOB_GREEN2_L2;
const QColor &failureColor = QC_GLOB_RED1_L2;
const QColor &restColor = QC_GLOB_WHITE1_L1;

constexpr int AnimationDurationMs = 1000;
constexpr int IndicatorWidth = 6;
constexpr int InitialIconSize = 40;
constexpr int IconSize = 45;
} // namespace

CAbstractPanelButton::CAbstractPanelButton(QString title, QIcon icon, QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setChecked(false);

    mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
    topLayout = new QHBoxLayout();
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setSpacing(0);
    mainLayout->addLayout(topLayout);

    indicator = new QWidget(this);
    indicator->setFixedWidth(IndicatorWidth);
    indicator->setStyleSheet(idleIndicatorStyle);
    topLayout->addWidget(indicator, 0, Qt::AlignLeft);

    iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("icoLab"));
    if (!icon.isNull())
        iconLabel->setPixmap(icon.pixmap(InitialIconSize));
    topLayout->addWidget(iconLabel, icon.isNull() ? 0 : 1, Qt::AlignCenter);

    titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("titleLable"));
    titleLabel->setAlignment(Qt::AlignCenter);
    topLayout->addWidget(titleLabel, 3, Qt::AlignCenter);

    extraLayout = new QVBoxLayout();
    extraLayout->setContentsMargins(3, 3, 3, 3);
    extraLayout->setSpacing(3);
    extraGroup = new QGroupBox(this);
    extraGroup->setObjectName(QStringLiteral("mainBox"));
    extraGroup->hide();
    extraGroup->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    mainLayout->addWidget(extraGroup, 0);
    extraGroup->setLayout(extraLayout);

    animation = new QPropertyAnimation(this, "backColor", this);

    connect(this, &QAbstractButton::toggled, this, &CAbstractPanelButton::clickSlot);
}

CAbstractPanelButton::~CAbstractPanelButton() = default;

QSize CAbstractPanelButton::sizeHint() const
{
    return QSize(6, 6);
}

void CAbstractPanelButton::setBackColor(QColor _backColor)
{
    setStyleSheet(tr("CAbstractPanelButton { background-color: rgba(%1, %2, %3, %4);}")
                      .arg(_backColor.red())
                      .arg(_backColor.green())
                      .arg(_backColor.blue())
                      .arg(_backColor.alpha()));
}

void CAbstractPanelButton::setPicAlign(int sPicAlign)
{
    if (sPicAlign == picAlign)
        return;
    if (sPicAlign != Qt::AlignLeft && sPicAlign != Qt::AlignRight) {
        qDebug() << "[CAbstractPanelButton::setPicAlign] Current alingn for ICO is not supported. "
                    "Auto-apply with Qt::AlignLeft";
        sPicAlign = Qt::AlignLeft;
    }
    topLayout->removeWidget(iconLabel);
    if (sPicAlign == Qt::AlignLeft)
        topLayout->insertWidget(1, iconLabel, 1, Qt::AlignCenter);
    else
        topLayout->addWidget(iconLabel, 1, Qt::AlignCenter);
    picAlign = sPicAlign;
}

void CAbstractPanelButton::clickSlot(bool _click)
{
    active = _click;
    extraGroup->setVisible(active && fullView && extraLayout->count() > 0);
    indicator->setStyleSheet(active ? activeIndicatorStyle : idleIndicatorStyle);
}

void CAbstractPanelButton::setIcon(QIcon icon)
{
    iconLabel->setPixmap(icon.pixmap(IconSize));
}

void CAbstractPanelButton::addWidget(QWidget *wdgt)
{
    const bool wasHidden = extraGroup->isHidden();
    extraLayout->addWidget(wdgt, 0);
    extraGroup->setHidden(wasHidden);
}

void CAbstractPanelButton::addLayout(QLayout *layout)
{
    const bool wasHidden = extraGroup->isHidden();
    extraLayout->addLayout(layout, 0);
    extraGroup->setHidden(wasHidden);
}

void CAbstractPanelButton::animationEvent(bool success)
{
    if (animation->state() == QAbstractAnimation::Running)
        animation->stop();
    animation->setDuration(AnimationDurationMs);
    animation->setStartValue(success ? successColor : failureColor);
    animation->setEndValue(restColor);
    animation->start();
}

void CAbstractPanelButton::setFullView(bool _fullView)
{
    fullView = _fullView;
    if (active && extraLayout->count() > 0 && extraGroupVisible)
        extraGroup->setVisible(_fullView);
    else
        extraGroup->hide();
    titleLabel->setVisible(_fullView);
}

void CAbstractPanelButton::setExtraGroupVisible(bool visible)
{
    extraGroupVisible = visible;
    // An empty group stays folded whatever is asked.
    if (fullView && active)
        extraGroup->setVisible(visible && extraLayout->count() > 0);
}

void CAbstractPanelButton::paintEvent(QPaintEvent *)
{
    const bool sunken = (isCheckable() && isChecked()) || isDown();
    drawStyledBackground(this, sunken ? QStyle::State_Sunken : QStyle::State_None);
}
