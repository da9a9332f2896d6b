#include "SheetWindowTesting.h"

#include "Error.h"
#include "SheetChannel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>

namespace gqtest {

namespace {

bool WaitUntilGone(qint64 processId, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (ProcessLives(processId)) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

void IsolateProcessFolders() {
    static QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder for the test\n");
        std::abort();
    }
    const QByteArray path = home.path().toLocal8Bit();
    for (const char* sub : {"/tmp", "/config", "/runtime"})
        ::mkdir((path + sub).constData(), 0700);
    qputenv("TMPDIR", path + "/tmp");
    qputenv("XDG_CONFIG_HOME", path + "/config");
    qputenv("XDG_RUNTIME_DIR", path + "/runtime");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void SheetWindows::add(qint64 processId, const QString& socketName) {
    windows_.push_back({processId, socketName});
}

void SheetWindows::endAll() {
    for (const Window& window : windows_) {
        if (!ProcessLives(window.processId))
            continue;
        try {
            gq::channel::Client client(window.socketName);
            if (client.connect(2000))
                client.request("discard", {}, 2000);
        } catch (const gq::Error&) {
        }
        if (!WaitUntilGone(window.processId, 5000)) {
            ::kill(static_cast<pid_t>(window.processId), SIGKILL);
            WaitUntilGone(window.processId, 2000);
        }
    }
    windows_.clear();
}

} // namespace gqtest
