#include "RunningInstance.h"

namespace gq {

QString SheetSocketName() {
    return channel::WellKnownName();
}

bool SheetWindowIsRunning(const QString& socketName) {
    return channel::AnswersApplicationName(socketName, kSheetAnswerTimeoutMs);
}

} // namespace gq
