// Paints the gateway's icons and logo into PNG files: icon-painter <resources folder>.
// Run by hand when a picture changes; the PNG files are committed.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace {

const QColor Ink("#245365");
const QColor Green("#39b88c");
const QColor Red("#f5494d");
const QColor White("#ffffff");

bool paintTo(const QString &path, QSize size, const std::function<void(QPainter &, QRectF)> &draw)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    return image.save(path, "PNG");
}

QPen pen(const QColor &color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawAntenna(QPainter &p, QRectF r, const QColor &color)
{
    const qreal w = r.width();
    const QPointF top(r.center().x(), r.top() + w * 0.30);
    p.setPen(pen(color, w * 0.07));
    p.drawLine(top, QPointF(r.center().x(), r.bottom() - w * 0.08));
    p.drawLine(QPointF(r.center().x() - w * 0.18, r.bottom() - w * 0.08),
               QPointF(r.center().x() + w * 0.18, r.bottom() - w * 0.08));
    p.setBrush(color);
    p.drawEllipse(top, w * 0.06, w * 0.06);
    p.setBrush(Qt::NoBrush);
    for (qreal k : {0.16, 0.28}) {
        const QRectF arc(top.x() - w * k, top.y() - w * k, 2 * w * k, 2 * w * k);
        p.drawArc(arc, 30 * 16, 120 * 16);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    const QSize icon(64, 64);
    bool ok = true;

    ok &= paintTo(root + "/Icon.png", QSize(128, 128), [](QPainter &p, QRectF r) {
        p.setPen(Qt::NoPen);
        p.setBrush(Ink);
        p.drawRoundedRect(r.adjusted(4, 4, -4, -4), 24, 24);
        drawAntenna(p, r.adjusted(16, 10, -16, -18), Green);
    });
    ok &= paintTo(root + "/searchIco.png", icon, [](QPainter &p, QRectF r) {
        p.setPen(pen(White, 7));
        p.drawEllipse(QRectF(r.left() + 10, r.top() + 10, 30, 30));
        p.drawLine(QPointF(36, 36), QPointF(54, 54));
    });
    ok &= paintTo(root + "/deleteIco.png", icon, [](QPainter &p, QRectF) {
        p.setPen(pen(White, 7));
        p.drawLine(QPointF(18, 18), QPointF(46, 46));
        p.drawLine(QPointF(46, 18), QPointF(18, 46));
    });
    ok &= paintTo(root + "/delete2Ico.png", icon, [](QPainter &p, QRectF) {
        p.setPen(pen(White, 5));
        p.drawLine(QPointF(14, 18), QPointF(50, 18));
        p.drawLine(QPointF(26, 18), QPointF(28, 10));
        p.drawLine(QPointF(28, 10), QPointF(36, 10));
        p.drawLine(QPointF(36, 10), QPointF(38, 18));
        QPainterPath bin;
        bin.moveTo(18, 24);
        bin.lineTo(22, 54);
        bin.lineTo(42, 54);
        bin.lineTo(46, 24);
        p.drawPath(bin);
        p.drawLine(QPointF(28, 30), QPointF(29, 48));
        p.drawLine(QPointF(36, 30), QPointF(35, 48));
    });
    ok &= paintTo(root + "/addIco.png", icon, [](QPainter &p, QRectF) {
        p.setPen(pen(White, 8));
        p.drawLine(QPointF(32, 12), QPointF(32, 52));
        p.drawLine(QPointF(12, 32), QPointF(52, 32));
    });
    ok &= paintTo(root + "/editIco.png", icon, [](QPainter &p, QRectF) {
        p.setPen(pen(White, 5));
        QPainterPath pencil;
        pencil.moveTo(14, 50);
        pencil.lineTo(18, 38);
        pencil.lineTo(42, 14);
        pencil.lineTo(50, 22);
        pencil.lineTo(26, 46);
        pencil.closeSubpath();
        p.drawPath(pencil);
        p.drawLine(QPointF(36, 20), QPointF(44, 28));
    });
    ok &= paintTo(root + "/refresh2Ico.png", icon, [](QPainter &p, QRectF) {
        p.setPen(pen(White, 6));
        p.drawArc(QRectF(14, 14, 36, 36), 60 * 16, 280 * 16);
        QPainterPath head;
        head.moveTo(44, 6);
        head.lineTo(50, 20);
        head.lineTo(35, 20);
        head.closeSubpath();
        p.setBrush(White);
        p.drawPath(head);
    });
    ok &= paintTo(root + "/connectionGoodIco.png", icon, [](QPainter &p, QRectF r) {
        p.setPen(Qt::NoPen);
        p.setBrush(Green);
        p.drawEllipse(r.adjusted(4, 4, -4, -4));
        p.setPen(pen(White, 7));
        p.drawLine(QPointF(18, 33), QPointF(28, 43));
        p.drawLine(QPointF(28, 43), QPointF(46, 22));
    });
    ok &= paintTo(root + "/connectionFailIco.png", icon, [](QPainter &p, QRectF r) {
        p.setPen(Qt::NoPen);
        p.setBrush(Red);
        p.drawEllipse(r.adjusted(4, 4, -4, -4));
        p.setPen(pen(White, 7));
        p.drawLine(QPointF(21, 21), QPointF(43, 43));
        p.drawLine(QPointF(43, 21), QPointF(21, 43));
    });
    ok &= paintTo(root + "/flat/settingsFlatInvertIco.png", icon, [](QPainter &p, QRectF r) {
        p.setPen(Qt::NoPen);
        p.setBrush(White);
        p.save();
        p.translate(r.center());
        for (int i = 0; i < 8; ++i) {
            p.drawRoundedRect(QRectF(-5, -28, 10, 14), 2, 2);
            p.rotate(45);
        }
        p.restore();
        p.drawEllipse(r.center(), 19, 19);
        p.setBrush(Ink);
        p.drawEllipse(r.center(), 8, 8);
    });
    ok &= paintTo(root + "/tarnmark_logo5_horizontal_gradient.png", QSize(420, 96),
                  [](QPainter &p, QRectF r) {
                      QLinearGradient gradient(r.topLeft(), r.topRight());
                      gradient.setColorAt(0, QColor("#39b88c"));
                      gradient.setColorAt(1, QColor("#417bb3"));
                      drawAntenna(p, QRectF(8, 8, 80, 80), QColor("#39b88c"));
                      QFont font(QStringLiteral("DejaVu Sans"));
                      font.setPixelSize(38);
                      font.setBold(true);
                      p.setFont(font);
                      p.setPen(QPen(QBrush(gradient), 1));
                      p.drawText(QRectF(96, 0, r.width() - 100, r.height()),
                                 Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("LoRa Brindle"));
                  });
    return ok ? 0 : 1;
}
