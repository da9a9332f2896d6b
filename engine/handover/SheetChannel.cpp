#include "SheetChannel.h"

#include "Error.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QUuid>

#include <unistd.h>

#include <algorithm>

namespace gq::channel {

namespace {

// Percent-encoding has no spelling of its own for the empty text, and an empty argument would
// vanish between two separators.
constexpr char kEmptyArgument[] = "%";

QString LoginName() {
    QString user = QString::fromLocal8Bit(qgetenv("USER"));
    if (user.isEmpty())
        user = QString::number(::getuid());
    return user;
}

// A socket lives in the user's runtime folder when there is one (private to the user), else
// where Qt puts a bare name (the temporary folder). A path too long for a socket address keeps
// the bare name.
QString SocketPath(const QString& name) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return name;
    const QFileInfo folder(QFile::decodeName(runtime));
    if (!folder.isDir() || folder.ownerId() != ::getuid())
        return name;
    const QString path = folder.absoluteFilePath() + '/' + name;
    constexpr qsizetype kSocketPathBytes = 100; // sun_path holds 108 with its NUL
    return QFile::encodeName(path).size() < kSocketPathBytes ? path : name;
}

QByteArray NameAnswer() {
    return QByteArray(kApplicationName) + '\n';
}

} // namespace

QString WellKnownName() {
    return SocketPath(QString::fromLatin1(kWellKnownPrefix) + LoginName());
}

QString NewInstanceName() {
    // 64 random bits tell instances apart; the whole name must fit a socket path.
    return SocketPath(QString::fromLatin1(kWellKnownPrefix) + LoginName() + '-' +
                      QUuid::createUuid().toString(QUuid::Id128).left(16));
}

QByteArray EncodeArgument(const QString& text) {
    if (text.isEmpty())
        return kEmptyArgument;
    return text.toUtf8().toPercentEncoding();
}

QString DecodeArgument(const QByteArray& encoded) {
    if (encoded == kEmptyArgument)
        return {};
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

Request ParseRequest(const QByteArray& line) {
    Request request;
    const QList<QByteArray> parts = line.split(' ');
    bool first = true;
    for (const QByteArray& part : parts) {
        if (part.isEmpty())
            continue;
        if (first) {
            request.verb = part;
            first = false;
        } else {
            request.arguments << DecodeArgument(part);
        }
    }
    return request;
}

QByteArray RequestLine(const QByteArray& verb, const QStringList& arguments) {
    QByteArray line = verb;
    for (const QString& argument : arguments)
        line += ' ' + EncodeArgument(argument);
    return line + '\n';
}

QByteArray OkAnswer(const QByteArray& payload) {
    return payload.isEmpty() ? QByteArray("ok\n") : "ok " + payload + '\n';
}

QByteArray ErrorAnswer(const QString& reason) {
    // The answer is one line whatever the reason says.
    QByteArray text = reason.toUtf8();
    text.replace('\r', ' ').replace('\n', ' ');
    return "error " + text + '\n';
}

bool AnswersApplicationName(const QString& socketName, int timeoutMs) {
    QLocalSocket socket;
    QElapsedTimer clock;
    clock.start();
    socket.connectToServer(socketName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kNameQuery);
    socket.flush();
    QByteArray answer;
    const QByteArray expected = NameAnswer();
    // Whatever else a listener sends, more than the expected answer is never that answer.
    while (!answer.contains('\n') && answer.size() <= expected.size()) {
        qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(static_cast<int>(left)))
            break;
        answer += socket.readAll();
    }
    socket.abort();
    qsizetype end = answer.indexOf('\n');
    return end >= 0 && answer.left(end + 1) == expected;
}

Client::Client(QString socketName)
    : name_(std::move(socketName)), socket_(std::make_unique<QLocalSocket>()) {}

Client::~Client() {
    if (socket_)
        socket_->abort();
}

bool Client::connect(int timeoutMs, const std::function<bool()>& stillHope) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        socket_->connectToServer(name_);
        qint64 left = timeoutMs - clock.elapsed();
        if (socket_->waitForConnected(static_cast<int>(std::clamp<qint64>(left, 0, 200))))
            return true;
        socket_->abort();
        if (clock.elapsed() >= timeoutMs || (stillHope && !stillHope()))
            return false;
        QThread::msleep(20);
    }
}

std::string Client::request(const QByteArray& verb, const QStringList& arguments, int timeoutMs) {
    if (socket_->state() != QLocalSocket::ConnectedState)
        throw Error("The sheet window is not connected");
    QElapsedTimer clock;
    clock.start();
    socket_->write(RequestLine(verb, arguments));
    if (!socket_->waitForBytesWritten(timeoutMs) && socket_->bytesToWrite() > 0)
        throw Error("The sheet window does not take requests");
    qsizetype end;
    while ((end = pending_.indexOf('\n')) < 0) {
        qint64 left = timeoutMs - clock.elapsed();
        if (socket_->bytesAvailable() == 0 &&
            (left <= 0 || !socket_->waitForReadyRead(static_cast<int>(left)))) {
            pending_ += socket_->readAll();
            if (pending_.contains('\n'))
                break;
            throw Error(socket_->state() == QLocalSocket::ConnectedState
                            ? "The sheet window did not answer in time"
                            : "The sheet window has closed");
        }
        pending_ += socket_->readAll();
        if (pending_.size() > kMaxLineBytes)
            throw Error("The sheet window gave an answer that is too long");
    }
    end = pending_.indexOf('\n');
    QByteArray answer = pending_.left(end);
    pending_.remove(0, end + 1);
    if (answer == "ok")
        return {};
    if (answer.startsWith("ok "))
        return answer.mid(3).toStdString();
    if (answer.startsWith("error "))
        throw Error(answer.mid(6).toStdString());
    throw Error("The sheet window gave an answer that is not understood");
}

struct Server::Connection {
    QLocalSocket* socket = nullptr;
    QByteArray buffer;
    bool busy = false;     // a request is with the handler
    bool draining = false; // inside drain(): an answer given at once must not recurse
    bool alive = true;
};

Server::Server(Handler handler)
    : handler_(std::move(handler)), server_(std::make_unique<QLocalServer>()) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                     [this] { accept(); });
}

Server::~Server() {
    // Answers still held by handlers must find their connections dead, not dangling.
    for (const auto& weak : connections_)
        if (auto connection = weak.lock()) {
            connection->alive = false;
            connection->socket->disconnect();
        }
    server_->close();
}

bool Server::listen(const QString& name) {
    if (server_->listen(name))
        return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    if (AnswersApplicationName(name, 300))
        return false;
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

bool Server::isListening() const {
    return server_->isListening();
}

QString Server::errorString() const {
    return server_->errorString();
}

void Server::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
        connections_.push_back(connection);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, connection] {
            connection->buffer += connection->socket->readAll();
            drain(connection);
        });
        QObject::connect(socket, &QLocalSocket::disconnected, socket, [connection] {
            connection->alive = false;
            connection->socket->deleteLater();
        });
    }
}

void Server::drain(const std::shared_ptr<Connection>& connection) {
    if (connection->draining)
        return;
    connection->draining = true;
    while (connection->alive && !connection->busy) {
        qsizetype end = connection->buffer.indexOf('\n');
        if (end < 0) {
            if (connection->buffer.size() > kMaxLineBytes) {
                connection->socket->write(ErrorAnswer("The request is too long"));
                connection->socket->disconnectFromServer();
                connection->buffer.clear();
            }
            break;
        }
        QByteArray line = connection->buffer.left(end);
        connection->buffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        Request request = ParseRequest(line);
        if (request.verb.isEmpty())
            continue;
        if (request.verb == "name") {
            connection->socket->write(NameAnswer());
            continue;
        }
        connection->busy = true;
        std::weak_ptr<Connection> weak = connection;
        handler_(request, [this, weak](const QByteArray& answer) {
            auto alive = weak.lock();
            if (!alive || !alive->alive || !alive->busy)
                return;
            alive->socket->write(answer);
            alive->socket->flush();
            alive->busy = false;
            drain(alive);
        });
    }
    connection->draining = false;
    if (connection->alive && !connection->busy && connection->buffer.contains('\n'))
        drain(connection);
}

} // namespace gq::channel
