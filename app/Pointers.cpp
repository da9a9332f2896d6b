#include "Pointers.h"

#include "Error.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace gq {

namespace {

std::uint16_t Word(const QByteArray& bytes, int at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

} // namespace

QCursor LoadPointerFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error("The pointer image " + path.toStdString() + " cannot be read");
    // The directory header: reserved 0, type (1 icon, 2 cursor), count; then the first entry,
    // whose planes and bit-count words hold a cursor's hot spot.
    QByteArray head = file.read(22);
    file.seek(0);
    if (head.size() < 22 || Word(head, 0) != 0 || (Word(head, 2) != 1 && Word(head, 2) != 2) ||
        Word(head, 4) == 0)
        throw Error("The pointer image " + path.toStdString() + " is no cursor or icon file");
    bool isCursor = Word(head, 2) == 2;
    QImageReader reader(&file, isCursor ? "cur" : "ico");
    QImage image = reader.read();
    if (image.isNull())
        throw Error("The pointer image " + path.toStdString() +
                    " cannot be read: " + reader.errorString().toStdString());
    int hotX = isCursor ? Word(head, 10) : image.width() / 2;
    int hotY = isCursor ? Word(head, 12) : image.height() / 2;
    hotX = std::clamp(hotX, 0, image.width() - 1);
    hotY = std::clamp(hotY, 0, image.height() - 1);
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        // The sheet: a white page with a green header row and grid lines.
        painter.setPen(QPen(QColor(0x2e, 0x5e, 0x3a), 2));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(4, 4, 44, 44));
        painter.fillRect(QRectF(5, 5, 42, 10), QColor(0x3c, 0x8d, 0x4f));
        painter.setPen(QPen(QColor(0x9a, 0xb8, 0xa2), 1.5));
        for (int x = 18; x < 48; x += 14)
            painter.drawLine(QPointF(x, 15), QPointF(x, 47));
        for (int y = 26; y < 48; y += 11)
            painter.drawLine(QPointF(5, y), QPointF(47, y));
        // The glass over its lower right corner.
        painter.setPen(QPen(QColor(0x1f, 0x3a, 0x66), 7, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(47, 47), QPointF(59, 59));
        painter.setPen(QPen(QColor(0x1f, 0x3a, 0x66), 5));
        painter.setBrush(QColor(0xd8, 0xe8, 0xff, 200));
        painter.drawEllipse(QPointF(38, 38), 13, 13);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace gq
