#pragma once

#include <QWidget>

class QHBoxLayout;
class QLineEdit;
class QPushButton;

// Search line above a device list: one signal while typing, one for an explicit search request
// (search button, Return or Enter, clearing).
class CSearchEditWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CSearchEditWidget(QWidget *parent = nullptr);
    ~CSearchEditWidget() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void textImmediatelyChanged(QString _text);
    void textChangedSignal(QString _text);

public slots:
    void textChangedSlot();
    void textClearSlot();
    void setText(QString _text = QString());
    void clear();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QHBoxLayout *searchLayout = nullptr;
    QLineEdit *searchEdit = nullptr;
    QPushButton *searchButton = nullptr;
    QPushButton *clearButton = nullptr;
};
