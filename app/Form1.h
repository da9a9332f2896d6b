#pragma once

#include "ErrorReport.h"
#include "FileList.h"
#include "Prompts.h"
#include "SearchAhead.h"
#include "WorkbookSearch.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QHash>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class QTreeWidget;

namespace gq {

class ProgressBar;
class ResultsModel;
class SpreadsheetApplication;

inline constexpr const char* kDisplayName = "Gridquest";
inline constexpr const char* kStartCaption = "Start Searching";
inline constexpr const char* kStopCaption = "Stop Searching";
inline constexpr const char* kProgressIdleText = "Progress Bar";
inline constexpr const char* kContactPage = "https://norvane.example/contact/";

// Pointer values of the window.
enum Pointer : int { kPointerDefault = 0, kPointerBusy = 11, kPointerCustom = 99 };

// The title of message boxes that give none of their own: the display name without its last
// word, shortened word by word to 40 characters; a name without a space stays whole.
QString ApplicationTitleFor(const QString& displayName);

// Design units (1/1440 inch) at a logical resolution.
int TwipsToPixels(int twips, int dotsPerInch);

// The folder of the program's own files (samples, pointer images, skin): the running binary's
// folder when it holds them, as in the build tree, else ../share/gridquest beside it, where
// they are installed.
QString ProgramFolder();

struct Form1Setup {
    Prompts* prompts = nullptr;
    QString programFolder;   // empty: ProgramFolder()
    int timeSliceMs = 15;    // the least time between two event passes of a yielding loop
    QString sheetSocketName; // empty: the per-user name of a running sheet window
    QString displayName = kDisplayName;
    // The first-run record of the sample files, run by start-up while none is stored; empty:
    // the record of the samples beside the program.
    std::function<void()> saveSampleSnapshot;
};

// The main window: every control, the start-up sequence, the options, the term list, the
// search run, and the host that the workbook searches read their options from and write their
// rows to.
class Form1 : public QWidget, public SearchHost {
    Q_OBJECT
public:
    explicit Form1(Form1Setup setup, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence. False when the program is to end without showing the window.
    bool formLoad();

    int mousePointer() const { return mousePointer_; }
    void setMousePointer(int value);
    // At the end of a piece of long work: the hourglass while a search run or a folder scan still
    // goes on (a stopped run no longer counts), else the default.
    void showRestingPointer();
    const QString& applicationTitle() const { return applicationTitle_; }
    bool runInProgress() const { return runActive_; }
    // A search run or a folder scan is under way: the file list must keep its entries and order,
    // whatever the pointer shows.
    bool busy() const { return runActive_ || folderScans_ > 0; }
    // Brackets a folder scan; scans may nest inside each other's event passes.
    void folderScanStarted() { ++folderScans_; }
    void folderScanEnded() { --folderScans_; }
    // A custom pointer image was loaded at start-up.
    bool hasCustomPointer() const { return hasCustomCursor_; }

    FileList* fileList() const { return listView1_; }
    QTableView* resultsView() const { return listView2_; }
    ResultsModel* results() const { return results_; }
    ProgressBar* progressBar() const { return progressBar1_; }
    // Every prompt of the window goes through here (see WindowPrompts.h).
    Prompts& prompts() const { return *prompts_; }
    const QString& programFolder() const { return programFolder_; }

    // The numbered steps of a handler of this window, reported under its routine name.
    Steps stepsOf(const QString& routine);
    void showErrorReport(const QString& location, int line, const QString& description);
    // A plain message box under the application title.
    Answer say(const QString& text, MessageButtons buttons = MessageButtons::Ok,
               Answer defaultButton = Answer::Ok);

    // Handlers.
    void startOrStopSearch();   // PushButton7
    void clearResults();        // PushButton2
    void showHelp();            // PushButton16
    void explainSpeedOptions(); // PushButton10
    void addTerm();             // PushButton12
    void removeSelectedTerm();  // PushButton14
    void clearTerms();          // PushButton15
    void loadTermLists();       // PushButton17

    // What the workbook searches read and write.
    const std::string& searchText() override { return searchTextUtf8_; }
    std::size_t termCount() override;
    const std::string& term(std::size_t index) override;
    std::uint64_t termsRevision() override { return termsRevision_; }
    bool matchCase() override;
    bool ignoreCase() override;
    bool retrieveLocations() override;
    bool skipLocations() override;
    bool stopRequested() override { return stopRequested_; }
    void setProgressText(const std::string& text) override;
    void addResult(const ResultRow& row) override;
    void reportError(const std::string& location, int line,
                     const std::string& description) override;
    void yieldToEvents() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Hover { Default, Custom, CustomAlways };

    void buildControls();
    QPushButton* addButton(QWidget* parent, const char* name, const QString& caption, int left,
                           int top, int width, int height);
    QRadioButton* addOption(QWidget* parent, const char* name, const QString& caption, int left,
                            int top, int width, int height);
    void place(QWidget* widget, int left, int top, int width, int height);
    void watchHover(QWidget* widget, Hover hover);
    void hover(Hover hover);

    void applySkin();
    void loadCustomPointer();
    void setResultColumns();
    void restoreTermList();
    void restoreOption(QRadioButton* option);

    void optionClicked(QRadioButton* option);
    void selectOption(QRadioButton* option);
    void text1Changed(const QString& text);
    void combo1Focused();
    void appendTerm(const QString& term);
    void storeTermList();
    void loadTermListFile(const QString& path);

    void searchFiles(Steps& steps);
    std::unique_ptr<SpreadsheetApplication> openWorkbookAside(const std::string& path);
    // What a file's search depends on, as the controls hold it now.
    SearchInputs searchInputs();
    void processEventsOnce();

    std::unique_ptr<Prompts> prompts_;
    QString programFolder_;
    int timeSliceMs_;
    QString sheetSocketName_;
    QString displayName_;
    std::function<void()> saveSampleSnapshot_;
    QString applicationTitle_;

    int mousePointer_ = kPointerDefault;
    QCursor customCursor_;
    bool hasCustomCursor_ = false;
    QHash<QObject*, Hover> hovers_;

    bool stopRequested_ = false;
    bool runActive_ = false;
    int folderScans_ = 0;
    int eventPasses_ = 0; // event passes of long work under way, one inside another
    QElapsedTimer sliceClock_;
    QElapsedTimer flushClock_;
    qint64 flushIntervalMs_ = 0;
    std::string searchTextUtf8_;
    std::vector<std::string> terms_;
    bool termsStale_ = true;
    std::uint64_t termsRevision_ = 0;

    FileList* listView1_ = nullptr;
    QTableView* listView2_ = nullptr;
    ResultsModel* results_ = nullptr;
    ProgressBar* progressBar1_ = nullptr;
    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    QGroupBox* frame3_ = nullptr;
    QRadioButton* option1_ = nullptr;
    QRadioButton* option2_ = nullptr;
    QRadioButton* option3_ = nullptr;
    QRadioButton* option4_ = nullptr;
    QRadioButton* option5_ = nullptr;
    QRadioButton* option6_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QComboBox* combo1_ = nullptr;
    QPushButton* pushButton7_ = nullptr;
};

} // namespace gq
