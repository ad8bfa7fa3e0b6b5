#include "CLeftPanel.h"

#include "StyledBackground.h"

#include <QVBoxLayout>

namespace {
constexpr int ExpandedStretch = 50;
}

CLeftPanel::CLeftPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CLeftPanel"));
    mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
}

CLeftPanel::~CLeftPanel() = default;

void CLeftPanel::addWidget(QWidget *widget, int stretch, Qt::Alignment alignment)
{
    if (widget == nullptr)
        return;
    mainLayout->addWidget(widget, stretch, alignment);
}

void CLeftPanel::expandWidget(QWidget *wdgt)
{
    QWidget *target = wdgt != nullptr ? wdgt : qobject_cast<QWidget *>(sender());
    if (target != nullptr && mainLayout->indexOf(target) >= 0)
        mainLayout->setStretchFactor(target, ExpandedStretch);
    update();
}

void CLeftPanel::unexpandAll()
{
    for (int i = 0; i < mainLayout->count(); ++i)
        mainLayout->setStretch(i, 0);
    update();
}

void CLeftPanel::paintEvent(QPaintEvent *event)
{
    drawStyledBackground(this);
    QWidget::paintEvent(event);
}
