#include "app/menu_icons.h"

#include <QPainter>
#include <QPixmap>

QIcon DrawMenuIcon(MenuIcon kind)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case MenuIcon::Search:
        painter.setPen(QPen(QColor(40, 70, 140), 2));
        painter.setBrush(QColor(200, 225, 255));
        painter.drawEllipse(QRectF(2, 2, 8, 8));
        painter.setPen(QPen(QColor(90, 60, 30), 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(10, 10), QPointF(14, 14));
        break;
    case MenuIcon::Exit:
        painter.setPen(QPen(QColor(90, 60, 30), 1));
        painter.setBrush(QColor(200, 150, 90));
        painter.drawRect(QRectF(2.5, 1.5, 8, 13));
        painter.setPen(QPen(QColor(200, 30, 30), 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(7, 8), QPointF(14, 8));
        painter.drawLine(QPointF(11, 5), QPointF(14, 8));
        painter.drawLine(QPointF(11, 11), QPointF(14, 8));
        break;
    case MenuIcon::Spreadsheet:
        painter.setPen(QPen(QColor(20, 110, 50), 1));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(1.5, 1.5, 13, 13));
        for (double x : {5.5, 9.5})
            painter.drawLine(QPointF(x, 1.5), QPointF(x, 14.5));
        for (double y : {5.5, 9.5})
            painter.drawLine(QPointF(1.5, y), QPointF(14.5, y));
        painter.fillRect(QRectF(2, 2, 12.5, 3.5), QColor(20, 110, 50));
        break;
    case MenuIcon::About:
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 90, 200));
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(7, 3.5, 2, 2));
        painter.drawRect(QRectF(7, 7, 2, 6));
        break;
    }
    return QIcon(pixmap);
}
