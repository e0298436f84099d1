#include "ui/alert_cursor.h"

#include <QPainter>
#include <QPixmap>

namespace fernwick::ui {

QCursor alert_cursor()
{
    constexpr int n = k_alert_cursor_size;
    QPixmap image(n, n);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(255, 255, 0));
    p.drawEllipse(QRectF(0.5, 0.5, n - 1, n - 1));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(n / 2.0 - 2.5, 5, 5, 15), 2, 2);  // the stroke
    p.drawEllipse(QRectF(n / 2.0 - 2.5, 22, 5, 5));            // the dot
    p.end();
    // The pointer acts at its centre, where the mark is.
    return QCursor(image, n / 2, n / 2);
}

}  // namespace fernwick::ui
