#include "app/icons.h"

#include <functional>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace icons {
namespace {

// Every icon is drawn on a 24-unit grid and rendered at a few sizes, so it
// stays crisp in the toolbar, the list and the menus.
QIcon Draw(const std::function<void(QPainter&)>& paint) {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    paint(p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

const QColor kInk(0x2e, 0x34, 0x40);
const QColor kBlue(0x2f, 0x6f, 0xd0);
const QColor kGreen(0x2e, 0x9e, 0x4f);
const QColor kRed(0xd0, 0x36, 0x36);
const QColor kAmber(0xe8, 0xa3, 0x2a);
const QColor kFolder(0xf2, 0xc1, 0x4e);
const QColor kPaper(0xfa, 0xfa, 0xfa);

QPen Pen(const QColor& c, double w) {
  QPen pen(c, w);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

void PlusBadge(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  p.drawEllipse(QPointF(18, 18), 5.5, 5.5);
  p.setPen(Pen(Qt::white, 2));
  p.drawLine(QPointF(18, 15), QPointF(18, 21));
  p.drawLine(QPointF(15, 18), QPointF(21, 18));
}

void Note(QPainter& p, const QColor& c) {
  p.setPen(Pen(c, 1.6));
  p.drawLine(QPointF(11, 7), QPointF(11, 15));
  p.drawLine(QPointF(11, 7), QPointF(15, 6));
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawEllipse(QPointF(9.2, 15.2), 2.2, 1.8);
}

}  // namespace

QIcon AddFolder() {
  return Draw([](QPainter& p) {
    p.setPen(Pen(kInk.lighter(130), 1));
    p.setBrush(kFolder.darker(110));
    QPainterPath back;
    back.moveTo(2, 6);
    back.lineTo(9, 6);
    back.lineTo(11, 8);
    back.lineTo(20, 8);
    back.lineTo(20, 19);
    back.lineTo(2, 19);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(kFolder);
    p.drawRect(QRectF(2, 10, 18, 9));
    PlusBadge(p);
  });
}

QIcon AddFiles() {
  return Draw([](QPainter& p) {
    p.setPen(Pen(kInk.lighter(130), 1));
    p.setBrush(kPaper);
    QPainterPath page;
    page.moveTo(4, 2);
    page.lineTo(14, 2);
    page.lineTo(18, 6);
    page.lineTo(18, 21);
    page.lineTo(4, 21);
    page.closeSubpath();
    p.drawPath(page);
    Note(p, kBlue);
    PlusBadge(p);
  });
}

QIcon Delete() {
  return Draw([](QPainter& p) {
    p.setPen(Pen(kInk.lighter(130), 1));
    p.setBrush(kPaper);
    p.drawRect(QRectF(4, 2, 13, 18));
    Note(p, kBlue);
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QPointF(18, 18), 5.5, 5.5);
    p.setPen(Pen(Qt::white, 2));
    p.drawLine(QPointF(15.8, 15.8), QPointF(20.2, 20.2));
    p.drawLine(QPointF(20.2, 15.8), QPointF(15.8, 20.2));
  });
}

QIcon Clear() {
  return Draw([](QPainter& p) {
    p.setPen(Pen(kInk, 1.2));
    p.setBrush(QColor(0xd8, 0xdc, 0xe2));
    p.drawRect(QRectF(6, 7, 12, 14));
    p.drawLine(QPointF(4, 6), QPointF(20, 6));
    p.drawLine(QPointF(10, 6), QPointF(10.5, 3.5));
    p.drawLine(QPointF(10.5, 3.5), QPointF(13.5, 3.5));
    p.drawLine(QPointF(13.5, 3.5), QPointF(14, 6));
    p.setPen(Pen(kInk, 1.4));
    for (double x : {9.5, 12.0, 14.5}) p.drawLine(QPointF(x, 10), QPointF(x, 18));
  });
}

QIcon Convert() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawPolygon(QPolygonF({QPointF(6, 3.5), QPointF(20, 12), QPointF(6, 20.5)}));
  });
}

QIcon Pause() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawRoundedRect(QRectF(5, 4, 5, 16), 1, 1);
    p.drawRoundedRect(QRectF(14, 4, 5, 16), 1, 1);
  });
}

QIcon Stop() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawRoundedRect(QRectF(5, 5, 14, 14), 2, 2);
  });
}

QIcon Settings() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk.lighter(140));
    p.translate(12, 12);
    for (int i = 0; i < 8; ++i) {
      p.drawRect(QRectF(-1.8, -10, 3.6, 5));
      p.rotate(45);
    }
    p.drawEllipse(QPointF(0, 0), 7, 7);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, 0), 3, 3);
  });
}

QIcon Eject() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk.lighter(130));
    p.drawPolygon(QPolygonF({QPointF(12, 4), QPointF(20, 13), QPointF(4, 13)}));
    p.drawRect(QRectF(4, 16, 16, 3));
  });
}

QIcon CloseTray() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk.lighter(130));
    p.drawRect(QRectF(4, 4, 16, 3));
    p.drawPolygon(QPolygonF({QPointF(4, 10), QPointF(20, 10), QPointF(12, 19)}));
  });
}

QIcon RowInProgress() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(12, 12), 10, 10);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(9, 6.5), QPointF(17.5, 12), QPointF(9, 17.5)}));
  });
}

QIcon RowDone() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(12, 12), 10, 10);
    p.setPen(Pen(Qt::white, 2.6));
    p.drawPolyline(QPolygonF({QPointF(7, 12.5), QPointF(10.5, 16), QPointF(17, 8.5)}));
  });
}

QIcon RowSkipped() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawEllipse(QPointF(12, 12), 10, 10);
    p.setPen(Pen(Qt::white, 2.6));
    p.drawPolyline(QPolygonF({QPointF(8, 7.5), QPointF(12.5, 12), QPointF(8, 16.5)}));
    p.drawLine(QPointF(16, 7.5), QPointF(16, 16.5));
  });
}

QIcon RowFailed() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QPointF(12, 12), 10, 10);
    p.setPen(Pen(Qt::white, 2.6));
    p.drawLine(QPointF(8, 8), QPointF(16, 16));
    p.drawLine(QPointF(16, 8), QPointF(8, 16));
  });
}

namespace {

// desktop/quellmark.svg is the same drawing (the desktop's icon): change both.
void PaintProgram(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(1, 1, 22, 22), 5, 5);
  p.setPen(Pen(Qt::white, 1.8));
  p.setBrush(Qt::NoBrush);
  QPainterPath wave;
  wave.moveTo(3.5, 12);
  wave.cubicTo(5.5, 4, 7.5, 4, 9.5, 12);
  wave.cubicTo(11.5, 20, 13.5, 20, 15, 12);
  p.drawPath(wave);
  p.drawLine(QPointF(15, 12), QPointF(20.5, 12));
  p.drawPolyline(QPolygonF({QPointF(17.5, 9), QPointF(20.5, 12), QPointF(17.5, 15)}));
}

}  // namespace

QIcon Program() { return Draw(PaintProgram); }

QImage ProgramImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 24.0, size / 24.0);
  PaintProgram(p);
  p.end();
  return image;
}

}  // namespace icons
