#pragma once

#include "CAbstractPanelButton.h"
#include "MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSqlQueryModel>
#include <QStackedLayout>
#include <QTimer>

#include <functional>

// Reads and drives the parts of the main window in the widget tests.
class MainWindowProbe
{
public:
    explicit MainWindowProbe(MainWindow *window) : w(window) {}

    CAbstractPanelButton *modbusButton() const { return w->modbusButton; }
    CAbstractPanelButton *tcpButton() const { return w->tcpButton; }
    CAbstractPanelButton *settingsButton() const { return w->settingsButton; }
    QComboBox *schemeCombo() const { return w->schemeCombo; }
    QLineEdit *ipEdit() const { return w->ipEdit; }
    QLineEdit *portEdit() const { return w->portEdit; }
    QLineEdit *loginEdit() const { return w->loginEdit; }
    QLineEdit *passwordEdit() const { return w->passwordEdit; }
    QLabel *connectionStateLabel() const { return w->connectionStateLabel; }
    QStackedLayout *pageStack() const { return w->pageStack; }
    QWidget *modbusPage() const { return w->modbusPage; }
    QWidget *tcpPage() const { return w->tcpPage; }
    QListView *modbusDeviceList() const { return w->modbusDeviceList; }
    QListView *tcpDeviceList() const { return w->tcpDeviceList; }
    QSqlQueryModel *modbusDeviceModel() const { return w->modbusDeviceModel; }
    QSqlQueryModel *tcpDeviceModel() const { return w->tcpDeviceModel; }
    QLabel *deviceTitleLabel() const { return w->deviceTitleLabel; }
    QGroupBox *parametersGroup() const { return w->parametersGroup; }
    QLabel *portValueLabel() const { return w->portValueLabel; }
    QLabel *beginRegisterValueLabel() const { return w->beginRegisterValueLabel; }
    QListView *registerList() const { return w->registerList; }
    QSqlQueryModel *registerModel() const { return w->registerModel; }

    // Column of the current row of a device list, as the window reads it.
    static QString currentText(QListView *list, int column)
    {
        return list->model()->index(list->currentIndex().row(), column).data().toString();
    }

private:
    MainWindow *w;
};

// Runs an action on the next modal dialog, once it has opened, and remembers its title.
class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(QDialog *)> action) : act(std::move(action))
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            timer.stop();
            title = dialog->windowTitle();
            className = QString::fromLatin1(dialog->metaObject()->className());
            act(dialog);
        });
        timer.start();
    }

    static void reject(QDialog *dialog) { dialog->reject(); }

    QString title;
    QString className;

private:
    std::function<void(QDialog *)> act;
    QTimer timer;
};
