#include "CSearchEditWidget.h"

#include "StyledBackground.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr int ButtonSize = 26;

QPushButton *makeButton(const QString &iconPath, QWidget *parent)
{
    auto *button = new QPushButton(QIcon(iconPath), QString(), parent);
    button->setObjectName(QStringLiteral("searchBtn"));
    button->setFixedSize(ButtonSize, ButtonSize);
    return button;
}
} // namespace

CSearchEditWidget::CSearchEditWidget(QWidget *parent) : QWidget(parent)
{
    installEventFilter(this);
    setObjectName(QStringLiteral("CSearchEditWidget"));

    searchLayout = new QHBoxLayout(this);
    searchLayout->setContentsMargins(3, 3, 3, 3);
    searchLayout->setSpacing(4);

    searchButton = makeButton(QStringLiteral(":/searchIco.png"), this);
    connect(searchButton, &QPushButton::clicked, this, &CSearchEditWidget::textChangedSlot);
    searchLayout->addWidget(searchButton);

    clearButton = makeButton(QStringLiteral(":/deleteIco.png"), this);
    connect(clearButton, &QPushButton::clicked, this, &CSearchEditWidget::textClearSlot);
    searchLayout->addWidget(clearButton);

    searchEdit = new QLineEdit(this);
    connect(searchEdit, &QLineEdit::textChanged, this, &CSearchEditWidget::textImmediatelyChanged);
    searchLayout->addWidget(searchEdit);
}

CSearchEditWidget::~CSearchEditWidget() = default;

bool CSearchEditWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            emit textChangedSignal(searchEdit->text());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void CSearchEditWidget::textChangedSlot()
{
    emit textChangedSignal(searchEdit->text());
}

void CSearchEditWidget::textClearSlot()
{
    searchEdit->clear();
    emit textChangedSignal(QString());
}

void CSearchEditWidget::setText(QString _text)
{
    searchEdit->setText(_text);
}

void CSearchEditWidget::clear()
{
    textClearSlot();
}

void CSearchEditWidget::paintEvent(QPaintEvent *)
{
    drawStyledBackground(this);
}
