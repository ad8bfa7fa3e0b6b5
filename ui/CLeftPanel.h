#pragma once

#include <QWidget>

class QVBoxLayout;

// Left column of the main window: a vertical stack of panel buttons on a style-drawn background.
class CLeftPanel : public QWidget
{
    Q_OBJECT
public:
    explicit CLeftPanel(QWidget *parent = nullptr);
    ~CLeftPanel() override;

    // A null widget is ignored.
    void addWidget(QWidget *widget, int stretch = 0, Qt::Alignment alignment = Qt::Alignment());

public slots:
    // Gives the widget (or the sending widget when none is given) the larger share of the height.
    void expandWidget(QWidget *wdgt = nullptr);
    void unexpandAll();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *mainLayout = nullptr;
};
