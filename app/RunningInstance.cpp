#include "RunningInstance.h"

#include <QElapsedTimer>
#include <QLocalSocket>

#include <unistd.h>

namespace gq {

QString SheetSocketName() {
    QString user = QString::fromLocal8Bit(qgetenv("USER"));
    if (user.isEmpty())
        user = QString::number(::getuid());
    return QString::fromLatin1(kSheetSocketPrefix) + user;
}

bool SheetWindowIsRunning(const QString& socketName) {
    QLocalSocket socket;
    QElapsedTimer clock;
    clock.start();
    socket.connectToServer(socketName);
    if (!socket.waitForConnected(kSheetAnswerTimeoutMs))
        return false;
    socket.write(kSheetNameQuery);
    socket.flush();
    QByteArray answer;
    const QByteArray expected = QByteArray(kSheetApplicationName) + '\n';
    // Whatever else a listener sends, more than the expected answer is never that answer.
    while (!answer.contains('\n') && answer.size() <= expected.size()) {
        qint64 left = kSheetAnswerTimeoutMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(static_cast<int>(left)))
            break;
        answer += socket.readAll();
    }
    socket.abort();
    qsizetype end = answer.indexOf('\n');
    return end >= 0 && answer.left(end + 1) == expected;
}

} // namespace gq
