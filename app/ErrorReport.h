#pragma once

#include <QString>

#include <functional>

namespace gq {

class Prompts;

inline constexpr const char* kSupportAddress = "support@norvane.example";
inline constexpr const char* kErrorReportTitle = "Application Error";

// "in Findwell2021/08/31.Form1.PushButton7_Click ": where a report says the failure happened.
QString LocationText(const QString& module, const QString& routine);

// The whole text of an error report for a failure at `line` (0 for routines without numbered
// steps).
QString ErrorReportText(const QString& location, int line, const QString& description);

// Shows the report: OK only, exclamation, its own title.
void ShowErrorReport(Prompts& prompts, const QString& location, int line,
                     const QString& description);

// The plain-words description of the exception being handled (call inside a catch block).
QString CurrentErrorDescription();

// Runs the numbered steps of one handler: a step that fails is reported with its number and the
// handler goes on with the next one. A step that needs an earlier one is given that step's
// outcome and is skipped, unreported, when it failed, so one failure is reported once.
class Steps {
public:
    using Reporter =
        std::function<void(const QString& location, int line, const QString& description)>;

    Steps(Reporter reporter, QString location);

    bool run(int line, const std::function<void()>& step);
    bool run(int line, bool prerequisite, const std::function<void()>& step);

    const QString& location() const { return location_; }

private:
    Reporter reporter_;
    QString location_;
};

} // namespace gq
