#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPaintDevice>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// One text run that a painter drew: text, baseline start, pen colour and font.
struct DrawnText
{
    QString text;
    QPointF position;
    QColor color;
    QFont font;
};

// A paint device that keeps the texts drawn on it instead of pixels, so that tests can read what
// a delegate wrote and where.
class TextRecorder : public QPaintDevice
{
public:
    explicit TextRecorder(QSize size);
    ~TextRecorder() override;

    QPaintEngine *paintEngine() const override;

    const QList<DrawnText> &texts() const;
    QStringList strings() const;
    // The first run with exactly this text; a default run (empty text) when there is none.
    DrawnText find(const QString &text) const;
    void clear();

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    class Engine;
    QSize size;
    std::unique_ptr<Engine> engine;
};
