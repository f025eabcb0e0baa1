// Draws the connect button's two pictures, 51 x 51: a USB plug with a green tick (port
// open) and with a red cross (port closed). Usage: zpi_draw_plugs <folder>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

QImage DrawPlug(bool open) {
  QImage image(51, 51, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  // Cable.
  p.setPen(QPen(QColor(60, 60, 60), 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(20.5, 42), QPointF(20.5, 50));

  // Metal head with its two contact windows.
  QLinearGradient metal(QPointF(10, 0), QPointF(31, 0));
  metal.setColorAt(0, QColor(200, 200, 205));
  metal.setColorAt(0.5, QColor(238, 238, 242));
  metal.setColorAt(1, QColor(160, 160, 168));
  p.setPen(QPen(QColor(100, 100, 108), 1));
  p.setBrush(metal);
  p.drawRect(QRectF(11.5, 2.5, 18, 16));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(70, 70, 78));
  p.drawRect(QRectF(14.5, 7, 4, 4));
  p.drawRect(QRectF(22.5, 7, 4, 4));

  // Body with a highlight and the USB trident.
  QLinearGradient body(QPointF(8, 0), QPointF(33, 0));
  body.setColorAt(0, QColor(70, 70, 76));
  body.setColorAt(0.4, QColor(105, 105, 112));
  body.setColorAt(1, QColor(45, 45, 50));
  p.setPen(QPen(QColor(30, 30, 34), 1));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(8.5, 18.5, 24, 25), 4, 4);
  p.setPen(QPen(QColor(235, 235, 235), 1.4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(20.5, 24), QPointF(20.5, 38));
  p.drawLine(QPointF(20.5, 34), QPointF(16, 30));
  p.drawLine(QPointF(16, 30), QPointF(16, 28));
  p.drawLine(QPointF(20.5, 32), QPointF(25, 29));
  p.drawLine(QPointF(25, 29), QPointF(25, 27.5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(235, 235, 235));
  p.drawEllipse(QPointF(20.5, 38.5), 1.8, 1.8);
  p.drawEllipse(QPointF(16, 27), 1.4, 1.4);
  p.drawRect(QRectF(23.8, 25.5, 2.6, 2.6));
  QPainterPath arrow;
  arrow.moveTo(20.5, 21.5);
  arrow.lineTo(18.3, 25);
  arrow.lineTo(22.7, 25);
  arrow.closeSubpath();
  p.drawPath(arrow);

  // Badge: green tick (open) or red cross (closed).
  const QPointF centre(38.5, 37.5);
  p.setPen(QPen(Qt::white, 2));
  p.setBrush(open ? QColor(34, 150, 60) : QColor(205, 40, 40));
  p.drawEllipse(centre, 11, 11);
  p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  if (open) {
    const QPointF tick[] = {{33, 37.5}, {37, 42}, {44, 33}};
    p.drawPolyline(tick, 3);
  } else {
    p.drawLine(QPointF(34, 33), QPointF(43, 42));
    p.drawLine(QPointF(43, 33), QPointF(34, 42));
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const bool ok = DrawPlug(true).save(folder + QStringLiteral("/usb_open.png")) &&
                  DrawPlug(false).save(folder + QStringLiteral("/usb_closed.png"));
  return ok ? 0 : 1;
}
