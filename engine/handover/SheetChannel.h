#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

// The line protocol between the engine (or any client) and a running sheet window.
//
// A sheet window listens on two local sockets: the per-user well-known name, which only says who
// is listening, and an instance name of its own, over which the visible instance it stands for is
// driven. A request is one line: a verb, then arguments separated by single spaces, each
// percent-encoded so that names with spaces or line breaks travel intact. Every request but
// "name" is answered "ok" (optionally followed by a space and a payload) or "error " and a plain
// reason, then a line feed. "name" is answered with the application name alone, on both sockets.
//
// Verbs: name; sheet NAME (select the sheet); cell SHEET ROW COL (select the sheet and the cell);
// state (JSON: title, file, sheets, active sheet, selected cell, saved, loading); text ROW COL
// (JSON string of the active sheet's displayed text); saveas PATH (.xlsx or .csv); autofit;
// wait (answered once every sheet is loaded); close (asks when unsaved); discard (closes
// without asking).
namespace gq::channel {

inline constexpr const char* kWellKnownPrefix = "gridquest-sheet-";
inline constexpr const char* kNameQuery = "name\n";
inline constexpr const char* kApplicationName = "Gridquest Sheet";
// A request line longer than this is refused and the connection dropped.
inline constexpr qsizetype kMaxLineBytes = 1 << 20;

// "gridquest-sheet-" and the login name (the uid without one), in the user's runtime folder
// (XDG_RUNTIME_DIR) when there is one.
QString WellKnownName();
// A name no other sheet window uses, for one visible instance, in the same folder.
QString NewInstanceName();

QByteArray EncodeArgument(const QString& text);
QString DecodeArgument(const QByteArray& encoded);

struct Request {
    QByteArray verb;
    QStringList arguments;
};
Request ParseRequest(const QByteArray& line); // without its line feed
QByteArray RequestLine(const QByteArray& verb, const QStringList& arguments = {});

QByteArray OkAnswer(const QByteArray& payload = {});
QByteArray ErrorAnswer(const QString& reason);

// True when the listener on `socketName` answers the name query with the application name
// within `timeoutMs`; silence, another answer or no listener are all false.
bool AnswersApplicationName(const QString& socketName, int timeoutMs);

// A blocking client, for callers without an event loop of their own (the engine).
class Client {
public:
    explicit Client(QString socketName);
    ~Client();

    // Retries until the listener accepts or `timeoutMs` has passed; `stillHope` is asked
    // between attempts, so a listener that died stops the wait at once.
    bool connect(int timeoutMs, const std::function<bool()>& stillHope = {});
    // Sends one request and waits for its answer: the payload of "ok"; throws gq::Error with
    // the listener's reason for "error", or when no answer comes within `timeoutMs`.
    std::string request(const QByteArray& verb, const QStringList& arguments, int timeoutMs);
    const QString& socketName() const { return name_; }

private:
    QString name_;
    std::unique_ptr<QLocalSocket> socket_;
    QByteArray pending_;
};

// The listening side. Requests of one connection are handled one at a time, in order; a
// handler may answer later (the answer callback stays valid while the connection lives), and
// the next request of that connection waits for it.
class Server {
public:
    using Answer = std::function<void(const QByteArray& answerLine)>;
    using Handler = std::function<void(const Request& request, Answer answer)>;

    explicit Server(Handler handler);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on `name` for this user only. A stale socket file of a listener that died is
    // removed first; a live listener of the well-known name keeps it (returns false).
    bool listen(const QString& name);
    bool isListening() const;
    QString errorString() const;

private:
    struct Connection;
    void accept();
    void drain(const std::shared_ptr<Connection>& connection);

    Handler handler_;
    std::unique_ptr<QLocalServer> server_;
    std::vector<std::weak_ptr<Connection>> connections_;
};

} // namespace gq::channel
