#pragma once

#include "VisibleInstance.h"

#include <QString>

#include <vector>

namespace gqtest {

// Points TMPDIR (where local sockets and hand-over files live), XDG_RUNTIME_DIR and
// XDG_CONFIG_HOME into a private folder of this process, removed when it ends. Call before the
// application object exists, so that no test meets another's sheet windows or the user's.
void IsolateProcessFolders();

// The sheet windows a test caused; each is ended (asked over its socket, killed when it does
// not go) when the list is destroyed or ended, so none outlives the test.
class SheetWindows {
public:
    SheetWindows() = default;
    SheetWindows(const SheetWindows&) = delete;
    SheetWindows& operator=(const SheetWindows&) = delete;
    ~SheetWindows() { endAll(); }

    void add(qint64 processId, const QString& socketName);
    void endAll();
    std::size_t size() const { return windows_.size(); }

private:
    struct Window {
        qint64 processId;
        QString socketName;
    };
    std::vector<Window> windows_;
};

using gq::ProcessLives;

} // namespace gqtest
