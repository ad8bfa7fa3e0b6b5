#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QIcon>

class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLayout;
class QPropertyAnimation;
class QVBoxLayout;

// Checkable button of the left panel: indicator stripe, icon and title, and an optional group of
// extra widgets that unfolds below it while the button is active.
class CAbstractPanelButton : public QAbstractButton
{
    Q_OBJECT
    Q_PROPERTY(int sPicAlign READ getPicAlign WRITE setPicAlign)
    Q_PROPERTY(QColor backColor READ getBackColor WRITE setBackColor)
public:
    explicit CAbstractPanelButton(QString title, QIcon icon = QIcon(), QWidget *parent = nullptr);
    ~CAbstractPanelButton() override;

    int getPicAlign() const { return picAlign; }
    // The colour is not kept; the property always reads black.
    QColor getBackColor() const { return QColor(Qt::black); }

    QSize sizeHint() const override;

public slots:
    void setBackColor(QColor _backColor);
    // 1 puts the icon after the indicator, 2 at the right end; other values apply 1.
    void setPicAlign(int sPicAlign);
    void clickSlot(bool _click);
    void setIcon(QIcon icon);
    void addWidget(QWidget *wdgt);
    void addLayout(QLayout *layout);
    // Fades the background from green (success) or red (failure) to the rest colour.
    void animationEvent(bool success = true);
    void setFullView(bool _fullView);
    void setExtraGroupVisible(bool visible);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int picAlign = Qt::AlignLeft;
    bool active = false;
    bool fullView = false;
    bool extraGroupVisible = false;
    QPropertyAnimation *animation = nullptr;
    QVBoxLayout *mainLayout = nullptr;
    QHBoxLayout *topLayout = nullptr;
    QWidget *indicator = nullptr;
    QLabel *iconLabel = nullptr;
    QLabel *titleLabel = nullptr;
    QGroupBox *extraGroup = nullptr;
    QVBoxLayout *extraLayout = nullptr;
};
