#include "TextRecorder.h"

#include <QPaintEngine>
#include <QPainter>

class TextRecorder::Engine : public QPaintEngine
{
public:
    Engine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override {}
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawPath(const QPainterPath &) override {}
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF &p, const QTextItem &textItem) override
    {
        texts.append({textItem.text(), p, painter()->pen().color(), textItem.font()});
    }
    Type type() const override { return QPaintEngine::User; }

    QList<DrawnText> texts;
};

TextRecorder::TextRecorder(QSize size) : size(size), engine(std::make_unique<Engine>()) {}

TextRecorder::~TextRecorder() = default;

QPaintEngine *TextRecorder::paintEngine() const
{
    return engine.get();
}

const QList<DrawnText> &TextRecorder::texts() const
{
    return engine->texts;
}

QStringList TextRecorder::strings() const
{
    QStringList result;
    for (const DrawnText &drawn : engine->texts)
        result.append(drawn.text);
    return result;
}

DrawnText TextRecorder::find(const QString &text) const
{
    for (const DrawnText &drawn : engine->texts) {
        if (drawn.text == text)
            return drawn;
    }
    return DrawnText();
}

void TextRecorder::clear()
{
    engine->texts.clear();
}

int TextRecorder::metric(PaintDeviceMetric metric) const
{
    constexpr int Dpi = 96;
    switch (metric) {
    case PdmWidth:
        return size.width();
    case PdmHeight:
        return size.height();
    case PdmWidthMM:
        return size.width() * 254 / (10 * Dpi);
    case PdmHeightMM:
        return size.height() * 254 / (10 * Dpi);
    case PdmNumColors:
        return INT_MAX;
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return Dpi;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return int(devicePixelRatioFScale());
    default:
        return QPaintDevice::metric(metric);
    }
}
