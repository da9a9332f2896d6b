#include "SheetAutomation.h"

#include "Error.h"
#include "Prompts.h"
#include "RunningInstance.h"
#include "Spreadsheet.h"

#include <QStringList>

namespace gq {

QString ExcelUnavailableMessage() {
    return QStringList{
        QStringLiteral("Error 842001. A normal instance of Excel could not be created."),
        QStringLiteral("1. Please make sure Excel is installed on this computer."),
        QStringLiteral("2. Please open Excel normally and make sure a blank spreadsheet opens "
                       "immediately without any interrupting window (such as an Excel file "
                       "recovery window)."),
        QStringLiteral("3. Please make sure that when you double-click on a XLS or XLSX file "
                       "that Excel opens normally without any interrupting messages."),
        QStringLiteral("4. All versions of Excel are supported by this software except for the "
                       "rare Excel Starter and Student editions."),
    }
        .join(QStringLiteral("\r\n\r\n"));
}

bool CheckExcelAvailable(Prompts& prompts, const QString& title) {
    try {
        SpreadsheetApplication::create();
        return true;
    } catch (const Error&) {
    }
    Message message;
    message.text = ExcelUnavailableMessage();
    message.title = title;
    prompts.message(message);
    return false;
}

bool ExcelIsRunning(const QString& socketName) {
    return SheetWindowIsRunning(socketName);
}

bool AskProceedIfExcelOpen(Prompts& prompts, const QString& title, const QString& socketName) {
    if (!ExcelIsRunning(socketName))
        return false;
    Message message;
    message.text = QString::fromLatin1(kExcelMayBeOpenQuestion);
    message.buttons = MessageButtons::YesNo;
    message.defaultButton = Answer::Yes;
    message.title = title;
    return prompts.message(message) != Answer::Yes;
}

std::unique_ptr<SpreadsheetApplication> OpenWorkbookInExcel(const std::string& path) {
    auto application = SpreadsheetApplication::create();
    try {
        application->workbooks().open(path);
    } catch (const Error& error) {
        throw Error(path + ": " + error.what());
    }
    return application;
}

} // namespace gq
