#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QTabBar;
class QTableView;
class QThread;
class QTimer;

namespace gq {

class SheetModel;
class SheetPrompts;
class SheetStore;
class Workbook;
namespace channel {
class Server;
struct Request;
} // namespace channel

struct ColumnFit {
    int sheet = 0; // 0-based
    std::uint32_t first = 1, last = 1;
};

struct SheetWindowOptions {
    QString path;
    // A workbook handed over by the search window: it opens untitled and unsaved, and its file
    // is deleted once every sheet has been read.
    bool takeOver = false;
    QString sheet;                  // selected at open; empty: the first sheet
    std::uint32_t row = 0, col = 0; // selected at open; 0: A1
    QString listenName;             // the instance socket; empty: none
    bool listenWellKnown = true;    // the per-user name that says a sheet window runs
    std::vector<ColumnFit> autoFit; // columns fitted once their sheet is read
};

// A workbook window: sheet tabs in workbook order, the grid of the active sheet, the selected
// cell's address and text above it. Sheets are read on a thread of their own, the active one
// first, so a large workbook shows at once and fills in; requests that need a sheet's cells wait
// for them.
class SheetWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit SheetWindow(SheetPrompts& prompts, QWidget* parent = nullptr);
    ~SheetWindow() override;

    // Opens the workbook; throws gq::Error naming the file and the reason.
    void open(const SheetWindowOptions& options);

    QString bookName() const { return bookName_; }
    QString filePath() const { return path_; }
    bool isSaved() const { return saved_; }
    bool isLoaded() const { return loaded_; }
    const QStringList& sheetNames() const { return names_; }
    int activeSheet() const { return active_; }
    std::uint32_t selectedRow() const;
    std::uint32_t selectedColumn() const;
    // The shown width of a column of the active sheet, in pixels.
    int columnWidth(std::uint32_t col) const;
    QString cellText(std::uint32_t row, std::uint32_t col) const; // the active sheet's
    QJsonObject state() const;

    // Throws gq::Error when no sheet has the name.
    void selectSheet(const QString& name);
    // A cell of the active sheet; throws gq::Error outside the sheet.
    void selectCell(std::uint32_t row, std::uint32_t col);
    // Fits the columns to their texts (now, or when the sheet has been read).
    void autoFitColumns(int sheet, std::uint32_t first, std::uint32_t last);
    // Writes every sheet (.xlsx) or the active one (.csv), by the name's extension; afterwards
    // the window shows that file. Waits for the sheets still being read. Throws gq::Error.
    void saveAs(const QString& path);
    // Asks for a name and saves; false when cancelled or when saving failed (reported).
    bool saveWithPrompt();
    // Closes the window without asking.
    void discard();
    // Runs the events until every sheet has been read.
    void waitUntilLoaded();

signals:
    void loaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct SheetView {
        std::uint32_t row = 1, col = 1;
        QHash<int, int> widths; // column (0-based) -> pixels, where not the default
        std::vector<ColumnFit> pendingFits;
    };

    void buildWidgets();
    void startLoading(int first);
    void sheetRead(int index, std::shared_ptr<SheetStore> store, QString error);
    void allRead();
    void activate(int index);
    void showSelection();
    void applyFits(int sheet);
    void fitColumns(int sheet, std::uint32_t first, std::uint32_t last);
    void updateCellBar();
    void autoFitSelection();
    bool mayClose();
    void writeCsv(const QString& path);
    void writeXlsx(const QString& path);
    int defaultColumnWidth() const;
    void listen(const SheetWindowOptions& options);
    void claimWellKnownName();
    void handle(const channel::Request& request, std::function<void(const QByteArray&)> answer);
    void whenLoaded(std::function<void()> action);

    SheetPrompts& prompts_;
    std::unique_ptr<Workbook> workbook_;
    QString path_;
    QString bookName_;
    bool saved_ = true;
    bool takeOver_ = false;
    QStringList names_;
    std::vector<std::shared_ptr<SheetStore>> stores_;
    std::vector<SheetView> views_;
    int active_ = -1;
    bool loaded_ = false;
    bool closeApproved_ = false;
    std::vector<std::function<void()>> afterLoad_;

    QThread* loader_ = nullptr;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::shared_ptr<std::atomic<int>> wanted_;

    SheetModel* model_ = nullptr;
    QTableView* grid_ = nullptr;
    QTabBar* tabs_ = nullptr;
    QLabel* address_ = nullptr;
    QLineEdit* content_ = nullptr;
    QLabel* status_ = nullptr;
    bool restoringWidths_ = false;

    std::unique_ptr<channel::Server> instanceServer_;
    std::unique_ptr<channel::Server> wellKnownServer_;
    QTimer* claimTimer_ = nullptr;
};

} // namespace gq
