#include "Pointers.h"

#include "Error.h"

#include <QFile>
#include <QImageReader>
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
    for (const char* size : {"48x48", "256x256"})
        icon.addFile(QStringLiteral(":/icons/%1/example.norvane.Gridquest.png").arg(size));
    return icon;
}

} // namespace gq
