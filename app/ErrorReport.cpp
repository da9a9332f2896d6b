#include "ErrorReport.h"

#include "Error.h"
#include "Prompts.h"

#include <exception>
#include <new>

namespace gq {

QString LocationText(const QString& module, const QString& routine) {
    return QStringLiteral("in Findwell2021/08/31.") + module + '.' + routine + ' ';
}

QString ErrorReportText(const QString& location, int line, const QString& description) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") + kSupportAddress;
}

void ShowErrorReport(Prompts& prompts, const QString& location, int line,
                     const QString& description) {
    Message message;
    message.text = ErrorReportText(location, line, description);
    message.buttons = MessageButtons::Ok;
    message.icon = MessageIcon::Exclamation;
    message.title = kErrorReportTitle;
    prompts.message(message);
}

QString CurrentErrorDescription() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return QStringLiteral("Unexpected failure");
    }
}

Steps::Steps(Reporter reporter, QString location)
    : reporter_(std::move(reporter)), location_(std::move(location)) {}

bool Steps::run(int line, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (...) {
        reporter_(location_, line, CurrentErrorDescription());
        return false;
    }
}

bool Steps::run(int line, bool prerequisite, const std::function<void()>& step) {
    return prerequisite && run(line, step);
}

} // namespace gq
