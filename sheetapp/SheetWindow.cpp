#include "SheetWindow.h"

#include "Error.h"
#include "SheetChannel.h"
#include "SheetModel.h"
#include "SheetPrompts.h"
#include "SheetStore.h"
#include "Spreadsheet.h"
#include "WorkbookSearch.h"
#include "XlsxTextWriter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace gq {

namespace {

// The platform's keys for a standard action, and `fallback` as well when they lack it.
QList<QKeySequence> KeysWithFallback(QKeySequence::StandardKey key, QKeyCombination fallback) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    if (!keys.contains(QKeySequence(fallback)))
        keys.append(QKeySequence(fallback));
    return keys;
}

constexpr std::size_t kFitCandidates = 8; // the longest texts of a column measured when fitting
constexpr int kFitPadding = 12;           // the cell's margins and a little air
constexpr int kClaimIntervalMs = 2000;
constexpr const char* kUntitledName = "Book1";

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

Error NoSheetNamed(const QString& name) {
    return Error("Subscript out of range: the workbook has no sheet named \"" + name.toStdString() +
                 "\"");
}

std::uint32_t ParseNumber(const QString& text, std::uint32_t limit, const char* what) {
    bool ok = false;
    uint value = text.toUInt(&ok);
    if (!ok || value < 1 || value > limit)
        throw Error(std::string("The ") + what + " \"" + text.toStdString() +
                    "\" lies outside the sheet");
    return value;
}

void AppendCsvField(QByteArray& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(text.data(), static_cast<qsizetype>(text.size()));
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

SheetWindow::SheetWindow(SheetPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts) {
    buildWidgets();
}

SheetWindow::~SheetWindow() {
    if (loader_) {
        *cancel_ = true;
        loader_->wait();
        delete loader_;
    }
}

void SheetWindow::buildWidgets() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* bar = new QHBoxLayout();
    bar->setContentsMargins(4, 4, 4, 4);
    address_ = new QLabel(central);
    address_->setObjectName(QStringLiteral("address"));
    address_->setMinimumWidth(80);
    content_ = new QLineEdit(central);
    content_->setObjectName(QStringLiteral("content"));
    content_->setReadOnly(true);
    bar->addWidget(address_);
    bar->addWidget(content_, 1);
    layout->addLayout(bar);

    model_ = new SheetModel(this);
    grid_ = new QTableView(central);
    grid_->setObjectName(QStringLiteral("grid"));
    grid_->setModel(model_);
    grid_->setWordWrap(false);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    const QFontMetrics metrics = grid_->fontMetrics();
    QHeaderView* rows = grid_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(metrics.height() + 6);
    rows->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("1048576")) + 12);
    QHeaderView* columns = grid_->horizontalHeader();
    columns->setDefaultSectionSize(defaultColumnWidth());
    columns->setMinimumSectionSize(4);
    layout->addWidget(grid_, 1);

    tabs_ = new QTabBar(central);
    tabs_->setObjectName(QStringLiteral("sheetTabs"));
    tabs_->setShape(QTabBar::RoundedSouth);
    tabs_->setExpanding(false);
    tabs_->setDocumentMode(true);
    layout->addWidget(tabs_);
    setCentralWidget(central);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("loadStatus"));
    statusBar()->addWidget(status_);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* saveAs =
        file->addAction(QStringLiteral("Save &As..."), this, [this] { saveWithPrompt(); });
    saveAs->setObjectName(QStringLiteral("actionSaveAs"));
    // Desktops without a key scheme of their own define neither key; these are everyone's.
    saveAs->setShortcuts(KeysWithFallback(QKeySequence::SaveAs, Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QAction* closeAction = file->addAction(QStringLiteral("&Close"), this, [this] { close(); });
    closeAction->setObjectName(QStringLiteral("actionClose"));
    closeAction->setShortcuts(KeysWithFallback(QKeySequence::Close, Qt::CTRL | Qt::Key_W));
    QMenu* format = menuBar()->addMenu(QStringLiteral("F&ormat"));
    QAction* fit = format->addAction(QStringLiteral("&AutoFit Column Width"), this,
                                     [this] { autoFitSelection(); });
    fit->setObjectName(QStringLiteral("actionAutoFit"));

    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0 && index != active_)
            activate(index);
    });
    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!current.isValid() || active_ < 0)
                    return;
                views_[active_].row = static_cast<std::uint32_t>(current.row() + 1);
                views_[active_].col = static_cast<std::uint32_t>(current.column() + 1);
                updateCellBar();
            });
    connect(columns, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (!restoringWidths_ && active_ >= 0)
            views_[active_].widths[column] = size;
    });
    resize(1000, 640);
}

int SheetWindow::defaultColumnWidth() const {
    // The standard column holds 8.43 digits of the standard font and its margins.
    return static_cast<int>(grid_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 8.43 + 5);
}

void SheetWindow::open(const SheetWindowOptions& options) {
    workbook_ = std::make_unique<Workbook>(QFile::encodeName(options.path).toStdString());
    takeOver_ = options.takeOver;
    if (takeOver_) {
        path_.clear();
        bookName_ = QString::fromLatin1(kUntitledName);
        saved_ = false;
    } else {
        path_ = QFileInfo(options.path).absoluteFilePath();
        bookName_ = QFileInfo(options.path).fileName();
        saved_ = true;
    }
    setWindowTitle(bookName_);
    for (const auto& sheet : workbook_->worksheets())
        names_ << QString::fromStdString(sheet->name());
    stores_.assign(static_cast<std::size_t>(names_.size()), nullptr);
    views_.assign(static_cast<std::size_t>(names_.size()), SheetView());
    for (const ColumnFit& fit : options.autoFit)
        if (fit.sheet >= 0 && fit.sheet < names_.size())
            views_[static_cast<std::size_t>(fit.sheet)].pendingFits.push_back(fit);

    int first = 0;
    if (!options.sheet.isEmpty()) {
        first = static_cast<int>(names_.indexOf(options.sheet));
        if (first < 0) {
            prompts_.showError(QString::fromStdString(NoSheetNamed(options.sheet).what()));
            first = 0;
        }
    }
    {
        const QSignalBlocker blocker(tabs_);
        for (const QString& name : names_)
            tabs_->addTab(name);
    }
    if (options.row > 0 && options.col > 0 && options.row <= kSheetRows &&
        options.col <= kSheetColumns) {
        views_[static_cast<std::size_t>(first)].row = options.row;
        views_[static_cast<std::size_t>(first)].col = options.col;
    }
    activate(first);
    status_->setText(QStringLiteral("Reading the workbook..."));
    listen(options);
    startLoading(first);
}

void SheetWindow::startLoading(int first) {
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    wanted_ = std::make_shared<std::atomic<int>>(first);
    Workbook* book = workbook_.get();
    const int count = static_cast<int>(names_.size());
    auto cancel = cancel_;
    auto wanted = wanted_;
    loader_ = QThread::create([this, book, count, cancel, wanted] {
        std::vector<char> done(static_cast<std::size_t>(count), 0);
        for (int n = 0; n < count && !*cancel; ++n) {
            int index = wanted->load();
            if (index < 0 || index >= count || done[static_cast<std::size_t>(index)])
                index = static_cast<int>(std::find(done.begin(), done.end(), 0) - done.begin());
            done[static_cast<std::size_t>(index)] = 1;
            auto store = std::make_shared<SheetStore>();
            QString error;
            try {
                book->worksheets()[static_cast<std::size_t>(index)]->forEachShown(
                    [&](std::uint32_t row, std::uint32_t col, const std::string& text,
                        bool number) {
                        if (*cancel)
                            return false;
                        store->add(row, col, text, number);
                        return true;
                    });
            } catch (const std::exception& e) {
                error = QString::fromUtf8(e.what());
            }
            store->finish();
            if (*cancel)
                return;
            QMetaObject::invokeMethod(
                this, [this, index, store, error] { sheetRead(index, store, error); },
                Qt::QueuedConnection);
        }
        if (!*cancel)
            QMetaObject::invokeMethod(
                this, [this] { allRead(); }, Qt::QueuedConnection);
    });
    loader_->start();
}

void SheetWindow::sheetRead(int index, std::shared_ptr<SheetStore> store, QString error) {
    stores_[static_cast<std::size_t>(index)] = std::move(store);
    if (!error.isEmpty())
        prompts_.showError(QStringLiteral("The sheet \"%1\" cannot be read completely: %2")
                               .arg(names_[index], error));
    if (index == active_)
        activate(index);
    else
        applyFits(index);
}

void SheetWindow::allRead() {
    loader_->wait();
    if (takeOver_) {
        // The hand-over file was ours alone; the workbook now lives in this window.
        QFile::remove(QString::fromStdString(workbook_->path()));
    }
    workbook_.reset();
    loaded_ = true;
    status_->setText(QStringLiteral("Ready"));
    auto actions = std::move(afterLoad_);
    afterLoad_.clear();
    for (auto& action : actions)
        action();
    emit loaded();
}

void SheetWindow::waitUntilLoaded() {
    while (!loaded_)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void SheetWindow::whenLoaded(std::function<void()> action) {
    if (loaded_)
        action();
    else
        afterLoad_.push_back(std::move(action));
}

void SheetWindow::activate(int index) {
    active_ = index;
    if (wanted_)
        *wanted_ = index;
    {
        const QSignalBlocker blocker(tabs_);
        tabs_->setCurrentIndex(index);
    }
    restoringWidths_ = true;
    model_->setStore(stores_[static_cast<std::size_t>(index)].get());
    restoringWidths_ = false;
    applyFits(index);
    restoringWidths_ = true;
    QHeaderView* header = grid_->horizontalHeader();
    const SheetView& view = views_[static_cast<std::size_t>(index)];
    for (auto it = view.widths.begin(); it != view.widths.end(); ++it) {
        model_->reach(1, static_cast<std::uint32_t>(it.key() + 1));
        header->resizeSection(it.key(), it.value());
    }
    restoringWidths_ = false;
    showSelection();
    QTimer::singleShot(0, this, [this] { showSelection(); }); // once the grid has its size
}

void SheetWindow::showSelection() {
    if (active_ < 0)
        return;
    const SheetView& view = views_[static_cast<std::size_t>(active_)];
    model_->reach(view.row, view.col);
    QModelIndex index =
        model_->index(static_cast<int>(view.row - 1), static_cast<int>(view.col - 1));
    grid_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    // A cell on the first screen is shown with A1 in the corner, as the sheet opens; one further
    // away comes to the middle, with its neighbours around it.
    grid_->horizontalScrollBar()->setValue(0);
    grid_->verticalScrollBar()->setValue(0);
    if (!grid_->viewport()->rect().contains(grid_->visualRect(index)))
        grid_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    updateCellBar();
}

void SheetWindow::updateCellBar() {
    if (active_ < 0)
        return;
    const SheetView& view = views_[static_cast<std::size_t>(active_)];
    address_->setText(QString::fromStdString(ColumnLetters(static_cast<int>(view.col))) +
                      QString::number(view.row));
    content_->setText(SheetModel::shownText(cellText(view.row, view.col).toStdString()));
}

std::uint32_t SheetWindow::selectedRow() const {
    return active_ < 0 ? 0 : views_[static_cast<std::size_t>(active_)].row;
}

std::uint32_t SheetWindow::selectedColumn() const {
    return active_ < 0 ? 0 : views_[static_cast<std::size_t>(active_)].col;
}

int SheetWindow::columnWidth(std::uint32_t col) const {
    if (col < 1 || col > kSheetColumns)
        return 0;
    if (static_cast<int>(col) <= model_->columnCount())
        return grid_->horizontalHeader()->sectionSize(static_cast<int>(col - 1));
    return defaultColumnWidth();
}

QString SheetWindow::cellText(std::uint32_t row, std::uint32_t col) const {
    if (active_ < 0 || !stores_[static_cast<std::size_t>(active_)])
        return {};
    return Utf8(stores_[static_cast<std::size_t>(active_)]->text(row, col));
}

QJsonObject SheetWindow::state() const {
    QJsonObject state;
    state[QStringLiteral("title")] = windowTitle();
    state[QStringLiteral("file")] = path_;
    state[QStringLiteral("sheets")] = QJsonArray::fromStringList(names_);
    state[QStringLiteral("sheet")] = active_ >= 0 ? names_[active_] : QString();
    state[QStringLiteral("row")] = static_cast<qint64>(selectedRow());
    state[QStringLiteral("col")] = static_cast<qint64>(selectedColumn());
    state[QStringLiteral("saved")] = saved_;
    state[QStringLiteral("loaded")] = loaded_;
    state[QStringLiteral("visible")] = isVisible();
    QJsonArray widths; // the used columns of the active sheet
    const SheetStore* store =
        active_ >= 0 ? stores_[static_cast<std::size_t>(active_)].get() : nullptr;
    for (std::uint32_t col = 1; store && col <= store->lastColumn(); ++col)
        widths.append(columnWidth(col));
    state[QStringLiteral("widths")] = widths;
    state[QStringLiteral("defaultWidth")] = defaultColumnWidth();
    return state;
}

void SheetWindow::selectSheet(const QString& name) {
    int index = static_cast<int>(names_.indexOf(name));
    if (index < 0) // sheet names are told apart without regard to case
        index = static_cast<int>(names_.indexOf(QRegularExpression(
            QRegularExpression::anchoredPattern(QRegularExpression::escape(name)),
            QRegularExpression::CaseInsensitiveOption)));
    if (index < 0)
        throw NoSheetNamed(name);
    if (index != active_)
        activate(index);
}

void SheetWindow::selectCell(std::uint32_t row, std::uint32_t col) {
    if (row < 1 || row > kSheetRows || col < 1 || col > kSheetColumns)
        throw Error("The cell lies outside the sheet");
    if (active_ < 0)
        return;
    views_[static_cast<std::size_t>(active_)].row = row;
    views_[static_cast<std::size_t>(active_)].col = col;
    showSelection();
}

void SheetWindow::autoFitColumns(int sheet, std::uint32_t first, std::uint32_t last) {
    if (sheet < 0 || sheet >= names_.size())
        return;
    views_[static_cast<std::size_t>(sheet)].pendingFits.push_back({sheet, first, last});
    applyFits(sheet);
}

void SheetWindow::applyFits(int sheet) {
    SheetView& view = views_[static_cast<std::size_t>(sheet)];
    if (!stores_[static_cast<std::size_t>(sheet)])
        return;
    auto fits = std::move(view.pendingFits);
    view.pendingFits.clear();
    for (const ColumnFit& fit : fits)
        fitColumns(sheet, fit.first, fit.last);
}

// The widest of a column's longest texts sets its width; a column without text keeps its width.
void SheetWindow::fitColumns(int sheet, std::uint32_t first, std::uint32_t last) {
    const SheetStore& store = *stores_[static_cast<std::size_t>(sheet)];
    const auto longest = store.longestTexts(first, last, kFitCandidates);
    const QFontMetrics metrics = grid_->fontMetrics();
    SheetView& view = views_[static_cast<std::size_t>(sheet)];
    for (std::size_t i = 0; i < longest.size(); ++i) {
        if (longest[i].empty())
            continue;
        int widest = 0;
        for (std::string_view text : longest[i])
            widest = std::max(widest, metrics.horizontalAdvance(SheetModel::shownText(text)));
        int column = static_cast<int>(first + i) - 1;
        view.widths[column] = widest + kFitPadding;
        if (sheet == active_) {
            model_->reach(1, static_cast<std::uint32_t>(column + 1));
            restoringWidths_ = true;
            grid_->horizontalHeader()->resizeSection(column, widest + kFitPadding);
            restoringWidths_ = false;
        }
    }
}

void SheetWindow::autoFitSelection() {
    if (active_ < 0)
        return;
    const QItemSelection selection = grid_->selectionModel()->selection();
    if (selection.isEmpty()) {
        autoFitColumns(active_, selectedColumn(), selectedColumn());
        return;
    }
    for (const QItemSelectionRange& range : selection)
        autoFitColumns(active_, static_cast<std::uint32_t>(range.left() + 1),
                       static_cast<std::uint32_t>(range.right() + 1));
}

void SheetWindow::saveAs(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("xlsx") && suffix != QLatin1String("csv"))
        throw Error("A workbook is saved as .xlsx or .csv; \"" + path.toStdString() +
                    "\" is neither");
    waitUntilLoaded();
    if (suffix == QLatin1String("csv"))
        writeCsv(path);
    else
        writeXlsx(path);
    path_ = QFileInfo(path).absoluteFilePath();
    bookName_ = QFileInfo(path).fileName();
    saved_ = true;
    takeOver_ = false;
    setWindowTitle(bookName_);
}

void SheetWindow::writeXlsx(const QString& path) {
    const double digit = grid_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    std::vector<XlsxSheetSource> sources;
    for (int i = 0; i < names_.size(); ++i) {
        const SheetStore* store = stores_[static_cast<std::size_t>(i)].get();
        XlsxSheetSource source;
        source.name = names_[i].toStdString();
        source.forEachText = [store](const XlsxSheetSource::Visitor& visit) {
            if (!store)
                return;
            std::string text;
            store->forEach([&](std::uint32_t row, std::uint32_t col, std::string_view shown) {
                text.assign(shown);
                return visit(row, col, text);
            });
        };
        const SheetView& view = views_[static_cast<std::size_t>(i)];
        for (auto it = view.widths.begin(); it != view.widths.end(); ++it) {
            auto column = static_cast<std::size_t>(it.key());
            if (source.columnWidths.size() <= column)
                source.columnWidths.resize(column + 1, 0);
            // Widths travel in characters of the standard font, margins taken off.
            source.columnWidths[column] = std::max(0.5, (it.value() - 5) / digit);
        }
        sources.push_back(std::move(source));
    }
    WriteXlsxTexts(QFile::encodeName(path).toStdString(), sources);
}

void SheetWindow::writeCsv(const QString& path) {
    QSaveFile file(path);
    auto failed = [&] {
        return Error("The file " + path.toStdString() +
                     " cannot be written: " + file.errorString().toStdString());
    };
    if (!file.open(QIODevice::WriteOnly))
        throw failed();
    const SheetStore* store = stores_[static_cast<std::size_t>(active_)].get();
    if (store && store->cellCount() > 0) {
        // Every line runs from column A to the last used column, as the sheet's rectangle.
        const std::uint32_t columns = store->lastColumn();
        QByteArray block;
        std::uint32_t lineRow = 1, commas = 0; // the line being built and its separators
        bool ok = true;
        auto endLine = [&] {
            block.append(static_cast<qsizetype>(columns - 1 - commas), ',');
            block += "\r\n";
            ++lineRow;
            commas = 0;
            if (block.size() > (1 << 20)) {
                ok = ok && file.write(block) == block.size();
                block.clear();
            }
        };
        store->forEach([&](std::uint32_t row, std::uint32_t col, std::string_view text) {
            while (lineRow < row)
                endLine();
            block.append(static_cast<qsizetype>(col - 1 - commas), ',');
            commas = col - 1;
            AppendCsvField(block, text);
            return ok;
        });
        endLine();
        ok = ok && file.write(block) == block.size();
        if (!ok)
            throw failed();
    }
    if (!file.commit())
        throw failed();
}

bool SheetWindow::saveWithPrompt() {
    const QString folder = path_.isEmpty() ? QDir::homePath() : QFileInfo(path_).absolutePath();
    const QString base = QFileInfo(bookName_).completeBaseName();
    QString path = prompts_.saveAsPath(folder + '/' + base + QStringLiteral(".xlsx"));
    if (path.isEmpty())
        return false;
    try {
        saveAs(path);
    } catch (const std::exception& e) {
        prompts_.showError(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

bool SheetWindow::mayClose() {
    if (saved_)
        return true;
    switch (prompts_.askSaveChanges(bookName_)) {
    case SheetPrompts::SaveChoice::Save:
        return saveWithPrompt();
    case SheetPrompts::SaveChoice::DontSave:
        return true;
    case SheetPrompts::SaveChoice::Cancel:
        break;
    }
    return false;
}

void SheetWindow::discard() {
    closeApproved_ = true;
    close();
}

void SheetWindow::closeEvent(QCloseEvent* event) {
    if (closeApproved_ || mayClose()) {
        closeApproved_ = true;
        event->accept();
    } else {
        event->ignore();
    }
}

void SheetWindow::listen(const SheetWindowOptions& options) {
    auto handler = [this](const channel::Request& request,
                          std::function<void(const QByteArray&)> answer) {
        handle(request, std::move(answer));
    };
    if (!options.listenName.isEmpty()) {
        instanceServer_ = std::make_unique<channel::Server>(handler);
        if (!instanceServer_->listen(options.listenName))
            prompts_.showError(QStringLiteral("The window cannot be driven: %1")
                                   .arg(instanceServer_->errorString()));
    }
    if (options.listenWellKnown) {
        wellKnownServer_ = std::make_unique<channel::Server>(
            [](const channel::Request&, std::function<void(const QByteArray&)> answer) {
                answer(channel::ErrorAnswer("This socket only says that a sheet window runs"));
            });
        claimWellKnownName();
        // Several windows may run; when the one holding the name closes, another takes it.
        claimTimer_ = new QTimer(this);
        connect(claimTimer_, &QTimer::timeout, this, [this] { claimWellKnownName(); });
        claimTimer_->start(kClaimIntervalMs);
    }
}

void SheetWindow::claimWellKnownName() {
    if (wellKnownServer_->isListening())
        return;
    if (!channel::AnswersApplicationName(channel::WellKnownName(), 100))
        wellKnownServer_->listen(channel::WellKnownName());
}

void SheetWindow::handle(const channel::Request& request,
                         std::function<void(const QByteArray&)> answer) {
    const QByteArray& verb = request.verb;
    const QStringList& args = request.arguments;
    auto needs = [&](qsizetype count) {
        if (args.size() != count)
            throw Error("The request \"" + verb.toStdString() + "\" takes " +
                        std::to_string(count) + " argument" + (count == 1 ? "" : "s"));
    };
    auto json = [](const QJsonObject& object) {
        return channel::OkAnswer(QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    try {
        if (verb == "sheet") {
            needs(1);
            selectSheet(args[0]);
            answer(channel::OkAnswer());
        } else if (verb == "cell") {
            needs(3);
            std::uint32_t row = ParseNumber(args[1], kSheetRows, "row");
            std::uint32_t col = ParseNumber(args[2], kSheetColumns, "column");
            selectSheet(args[0]);
            selectCell(row, col);
            answer(channel::OkAnswer());
        } else if (verb == "state") {
            needs(0);
            answer(json(state()));
        } else if (verb == "text") {
            needs(2);
            std::uint32_t row = ParseNumber(args[0], kSheetRows, "row");
            std::uint32_t col = ParseNumber(args[1], kSheetColumns, "column");
            whenLoaded([this, answer, row, col, json] {
                answer(json({{QStringLiteral("text"), cellText(row, col)}}));
            });
        } else if (verb == "saveas") {
            needs(1);
            const QString path = args[0];
            whenLoaded([this, answer, path] {
                try {
                    saveAs(path);
                    answer(channel::OkAnswer());
                } catch (const std::exception& e) {
                    answer(channel::ErrorAnswer(QString::fromUtf8(e.what())));
                }
            });
        } else if (verb == "autofit") {
            if (args.size() > 1)
                needs(1);
            int sheet = active_;
            if (!args.isEmpty()) {
                selectSheet(args[0]);
                sheet = active_;
            }
            autoFitColumns(sheet, 1, kSheetColumns);
            answer(channel::OkAnswer());
        } else if (verb == "wait") {
            needs(0);
            whenLoaded([answer] { answer(channel::OkAnswer()); });
        } else if (verb == "close") {
            needs(0);
            QTimer::singleShot(0, this, [this, answer] {
                if (!mayClose()) {
                    answer(channel::ErrorAnswer("The workbook was kept open"));
                    return;
                }
                answer(channel::OkAnswer());
                discard();
            });
        } else if (verb == "discard") {
            needs(0);
            answer(channel::OkAnswer());
            QTimer::singleShot(0, this, [this] { discard(); });
        } else {
            throw Error("The request \"" + verb.toStdString() + "\" is not known");
        }
    } catch (const std::exception& e) {
        answer(channel::ErrorAnswer(QString::fromUtf8(e.what())));
    }
}

} // namespace gq
