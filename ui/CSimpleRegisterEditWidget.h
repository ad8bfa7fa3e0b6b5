#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// In-place editor of a register card: extra value, multiplier and units of one register.
class CSimpleRegisterEditWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CSimpleRegisterEditWidget(QWidget *parent = nullptr);
    ~CSimpleRegisterEditWidget() override;

public slots:
    void setData(QString name, double _extraValue, double _multiplier, QString _units);
    // An empty or unreadable text reads as 0.0.
    double getExtraValue();
    double getMultiplier();
    QString getUnits();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLineEdit *extraValueEdit = nullptr;
    QLineEdit *multiplierEdit = nullptr;
    QLineEdit *unitsEdit = nullptr;
    QLabel *nameLabel = nullptr;
};
