#pragma once

#include "CAbstractDeviceForm.h"
#include "CDeviceDelegat.h"
#include "CDeviceSearchModel.h"
#include "CSearchEditWidget.h"
#include "CSimpleRegisterEditWidget.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QStandardItemModel>
#include <QStringList>
#include <QTest>
#include <QTimer>

// Reads and drives the parts of a device form in the widget tests.
class DeviceFormProbe
{
public:
    explicit DeviceFormProbe(CAbstractDeviceForm *form) : f(form) {}

    // What showForm does before it runs the dialog; the dialog is then shown without a modal loop.
    void open(ProtocolOption kind, const QString &title = QStringLiteral("form"))
    {
        f->prepareForm(title, kind);
        f->setResult(0);
        f->show();
    }

    QLabel *titleLabel() const { return f->titleLabel; }
    QLabel *statusLabel() const { return f->statusLabel; }
    int page() const { return f->devicesStack->currentIndex(); }
    // The device list in place of the status text, as an arrived list brings it.
    void showListPage() const { f->devicesStack->setCurrentIndex(1); }
    CSearchEditWidget *searchEdit() const { return f->searchEdit; }
    QListView *deviceList() const { return f->deviceList; }
    QStandardItemModel *deviceModel() const { return f->deviceModel; }
    CDeviceSearchModel *searchModel() const { return f->searchModel; }
    QListView *registerList() const { return f->registerList; }
    QStandardItemModel *registerModel() const { return f->registerModel; }
    QString selectedAppEui() const { return f->selectedAppEui; }
    QLabel *startAddrLabel() const { return f->startAddrLabel; }
    QLineEdit *portEdit() const { return f->portEdit; }
    QLineEdit *startAddrEdit() const { return f->startAddrEdit; }
    QPushButton *portMarker() const { return f->portErrorButton; }
    QPushButton *startAddrMarker() const { return f->startAddrErrorButton; }
    QGridLayout *typeLegend() const { return f->typeLegendLayout; }
    QGroupBox *registersGroup() const { return f->registersGroup; }
    ProtocolOption protocol() const { return f->protocol; }
    CDeviceDelegat *modbusDelegate() const { return f->modbusDeviceDelegat; }
    CDeviceDelegat *tcpDelegate() const { return f->tcpDeviceDelegat; }

    // Texts of the legend labels in grid order (row by row).
    QStringList legendTexts() const
    {
        QStringList texts;
        QGridLayout *grid = f->typeLegendLayout;
        for (int row = 0; row < grid->rowCount(); ++row)
            for (int column = 0; column < grid->columnCount(); ++column)
                if (QLayoutItem *item = grid->itemAtPosition(row, column))
                    if (auto *label = qobject_cast<QLabel *>(item->widget()))
                        texts << label->text();
        return texts;
    }

    // Column of a device row as the list shows it.
    QString shownDevice(int row, int column) const
    {
        return f->deviceList->model()->index(row, column).data().toString();
    }
    QVariant registerCell(int row, int column) const
    {
        return f->registerModel->index(row, column).data();
    }

    // Double-clicks the register card of the row; the editor it opened, or null.
    CSimpleRegisterEditWidget *openRegisterEditor(int row) const
    {
        QListView *list = f->registerList;
        const QModelIndex index = f->registerModel->index(row, list->modelColumn());
        list->scrollTo(index);
        const QPoint centre = list->visualRect(index).center();
        // The view opens the editor on a double click that follows a press on the same card.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
        return qobject_cast<CSimpleRegisterEditWidget *>(list->indexWidget(index));
    }

    // The fields of the register editor, in the order of their rows.
    enum RegisterField { ExtraValueField, MultiplierField, UnitsField };

    // Clicks into the field, selects its text and types over it, without Enter; whether the
    // field took the text.
    static bool typeInto(CSimpleRegisterEditWidget *editor, RegisterField field,
                         const QString &text)
    {
        QLineEdit *edit = editor->findChildren<QLineEdit *>().value(field);
        if (!edit)
            return false;
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, text);
        return edit->hasFocus() && edit->text() == text;
    }

    QPushButton *okButton() const { return roleButton(QDialogButtonBox::AcceptRole); }
    QPushButton *cancelButton() const { return roleButton(QDialogButtonBox::RejectRole); }

private:
    QPushButton *roleButton(QDialogButtonBox::ButtonRole role) const
    {
        auto *box = f->findChild<QDialogButtonBox *>();
        if (!box)
            return nullptr;
        for (QAbstractButton *button : box->buttons())
            if (box->buttonRole(button) == role)
                return qobject_cast<QPushButton *>(button);
        return nullptr;
    }

    CAbstractDeviceForm *f;
};

// Closes the next message box that runs modally, remembering its texts.
class MessageBoxCloser : public QObject
{
public:
    MessageBoxCloser()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            text = box->text();
            informativeText = box->informativeText();
            icon = box->icon();
            buttons = box->standardButtons();
            ++closed;
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
        });
        timer.start();
    }

    int closed = 0;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;

private:
    QTimer timer;
};
