#include "Form1.h"

#include "Controls.h"
#include "EndProgram.h"
#include "Error.h"
#include "FileIntake.h"
#include "FolderWalk.h"
#include "Pointers.h"
#include "ResultActions.h"
#include "ResultsModel.h"
#include "RunningInstance.h"
#include "Settings.h"
#include "SheetAutomation.h"
#include "Spreadsheet.h"
#include "TermListFile.h"
#include "WindowPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableView>
#include <QTreeWidget>

#include <chrono>
#include <future>

namespace gq {

namespace {

constexpr int kClientWidth = 15960;
constexpr int kClientHeight = 5745;
constexpr const char* kTermSeparator = "::";

// Only spaces, as the search-text check has always trimmed: a tab is text.
QString TrimSpaces(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && text[first] == QLatin1Char(' '))
        ++first;
    while (last > first && text[last - 1] == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

QFont ArialBold(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

} // namespace

QString ApplicationTitleFor(const QString& displayName) {
    QString title = displayName;
    do {
        qsizetype space = title.lastIndexOf(QLatin1Char(' '));
        if (space < 0)
            break;
        title.truncate(space);
    } while (title.size() > 40);
    return title;
}

int TwipsToPixels(int twips, int dotsPerInch) {
    return static_cast<int>(std::lround(twips * static_cast<double>(dotsPerInch) / 1440.0));
}

QString ProgramFolder() {
    QDir binary(QCoreApplication::applicationDirPath());
    if (binary.exists(QStringLiteral("Samples")) || binary.exists(QStringLiteral("HAND-M.CUR")))
        return binary.path();
    return QDir::cleanPath(binary.filePath(QStringLiteral("../share/gridquest")));
}

Form1::Form1(Form1Setup setup, QWidget* parent)
    : QWidget(parent),
      prompts_(std::make_unique<WindowPrompts>(*setup.prompts, [this] { results_->flush(); })),
      programFolder_(setup.programFolder.isEmpty() ? ProgramFolder() : setup.programFolder),
      timeSliceMs_(setup.timeSliceMs),
      sheetSocketName_(setup.sheetSocketName.isEmpty() ? SheetSocketName() : setup.sheetSocketName),
      displayName_(setup.displayName), saveSampleSnapshot_(std::move(setup.saveSampleSnapshot)),
      applicationTitle_(setup.displayName) {
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    ConnectFileIntake(*this);
}

Form1::~Form1() = default;

// ---------------------------------------------------------------------------------------------
// Layout: every control at its design rectangle, in design units converted at the screen's
// logical resolution. The window is not resizable, so nothing reacts to a size change.

void Form1::place(QWidget* widget, int left, int top, int width, int height) {
    int dpiX = logicalDpiX(), dpiY = logicalDpiY();
    widget->setGeometry(TwipsToPixels(left, dpiX), TwipsToPixels(top, dpiY),
                        TwipsToPixels(width, dpiX), TwipsToPixels(height, dpiY));
}

QPushButton* Form1::addButton(QWidget* parent, const char* name, const QString& caption, int left,
                              int top, int width, int height) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(ArialBold(11.25));
    button->setAutoDefault(false);
    place(button, left, top, width, height);
    watchHover(button, Hover::Custom);
    return button;
}

QRadioButton* Form1::addOption(QWidget* parent, const char* name, const QString& caption, int left,
                               int top, int width, int height) {
    auto* option = new QRadioButton(caption, parent);
    option->setObjectName(QString::fromLatin1(name));
    place(option, left, top, width, height);
    connect(option, &QRadioButton::clicked, this, [this, option] { optionClicked(option); });
    return option;
}

void Form1::watchHover(QWidget* widget, Hover hover) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
    hovers_.insert(widget, hover);
}

void Form1::buildControls() {
    int dpiX = logicalDpiX(), dpiY = logicalDpiY();
    setFixedSize(TwipsToPixels(kClientWidth, dpiX), TwipsToPixels(kClientHeight, dpiY));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(ArialBold(9));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    watchHover(this, Hover::Default);

    listView1_ = new FileList(this);
    listView1_->setObjectName(QStringLiteral("ListView1"));
    place(listView1_, 120, 120, 7800, 1575);
    watchHover(listView1_->viewport(), Hover::Default);
    watchHover(listView1_->header()->viewport(), Hover::Default);

    addButton(this, "PushButton1", QStringLiteral("Add Excel File(s)"), 120, 1800, 3840, 405);
    addButton(this, "PushButton6", QStringLiteral("Add All Excel File(s) In Folder"), 4080, 1800,
              3840, 405);
    addButton(this, "PushButton5", QStringLiteral("Clear List"), 120, 2310, 3840, 405);
    addButton(this, "PushButton9", QStringLiteral("Load Sample/Example Files"), 4080, 2310, 3840,
              405);

    frame1_ = new Frame(QStringLiteral("Search Options"), this);
    frame1_->setObjectName(QStringLiteral("Frame1"));
    place(frame1_, 120, 2745, 7800, 1290);
    watchHover(frame1_, Hover::Default);
    option3_ =
        addOption(frame1_, "Option3", QStringLiteral("Search for this:"), 240, 345, 1695, 255);
    text1_ = new QLineEdit(frame1_);
    text1_->setObjectName(QStringLiteral("Text1"));
    place(text1_, 2400, 300, 5160, 345);
    option4_ =
        addOption(frame1_, "Option4", QStringLiteral("Search for multiple:"), 240, 805, 2055, 255);
    combo1_ = new QComboBox(frame1_);
    combo1_->setObjectName(QStringLiteral("Combo1"));
    combo1_->setEditable(false);
    place(combo1_, 2400, 760, 2760, 345);
    combo1_->installEventFilter(this);
    QPushButton* add = addButton(frame1_, "PushButton12", QStringLiteral("+"), 5280, 765, 360, 345);
    QPushButton* remove =
        addButton(frame1_, "PushButton14", QStringLiteral("-"), 5760, 765, 360, 345);
    remove->setToolTip(QStringLiteral("Remove selected item"));
    QPushButton* load =
        addButton(frame1_, "PushButton17", QStringLiteral("Load"), 6240, 765, 750, 345);
    QPushButton* clear =
        addButton(frame1_, "PushButton15", QStringLiteral("Clr"), 7100, 765, 460, 345);

    frame3_ = new Frame(QStringLiteral("Search Speed Option"), this);
    frame3_->setObjectName(QStringLiteral("Frame3"));
    place(frame3_, 120, 4125, 7800, 720);
    watchHover(frame3_, Hover::Default);
    option6_ = addOption(frame3_, "Option6", QStringLiteral("Retrieve cell locations"), 240, 300,
                         2445, 300);
    option5_ =
        addOption(frame3_, "Option5", QStringLiteral("Do not retrieve cell locations (faster)"),
                  3000, 300, 3645, 300);
    QPushButton* explain =
        addButton(frame3_, "PushButton10", QStringLiteral("?"), 7080, 240, 480, 345);

    frame2_ = new Frame(QStringLiteral("Case Options"), this);
    frame2_->setObjectName(QStringLiteral("Frame2"));
    place(frame2_, 120, 4920, 7800, 720);
    watchHover(frame2_, Hover::Default);
    option2_ = addOption(frame2_, "Option2", QStringLiteral("Ignore case"), 240, 300, 1365, 285);
    option1_ = addOption(frame2_, "Option1", QStringLiteral("Match case"), 1800, 300, 1365, 300);

    pushButton7_ =
        addButton(this, "PushButton7", QString::fromLatin1(kStartCaption), 8040, 120, 7800, 405);
    hovers_.insert(pushButton7_, Hover::CustomAlways);

    results_ = new ResultsModel(this);
    listView2_ = new QTableView(this);
    listView2_->setObjectName(QStringLiteral("ListView2"));
    listView2_->setModel(results_);
    listView2_->setShowGrid(false);
    listView2_->setWordWrap(false);
    listView2_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView2_->setSelectionMode(QAbstractItemView::SingleSelection);
    listView2_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView2_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    listView2_->verticalHeader()->setVisible(false);
    // Fixed row heights keep a million rows as cheap as a hundred.
    listView2_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    listView2_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    listView2_->horizontalHeader()->setHighlightSections(false);
    listView2_->horizontalHeader()->setStretchLastSection(false);
    listView2_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    listView2_->horizontalHeader()->setMinimumSectionSize(1);
    listView2_->setToolTip(
        QStringLiteral("Move | line to right and out of window to reveal full names."));
    place(listView2_, 8040, 630, 7800, 2985);
    watchHover(listView2_->viewport(), Hover::Default);
    watchHover(listView2_->horizontalHeader()->viewport(), Hover::Default);

    addButton(this, "PushButton3", QStringLiteral("Open Selected File / Goto To Cell"), 8040, 3690,
              3840, 405);
    QPushButton* clearResultsButton =
        addButton(this, "PushButton2", QStringLiteral("Clear Results"), 12000, 3690, 3840, 405);
    addButton(this, "PushButton4", QStringLiteral("Save Results As Text File"), 8040, 4200, 3840,
              405);
    addButton(this, "PushButton13", QStringLiteral("Save Results As Excel File"), 12000, 4200, 3840,
              405);
    addButton(this, "PushButton8", QStringLiteral("Copy Results To Clipboard"), 8040, 4710, 3840,
              405);
    QPushButton* help =
        addButton(this, "PushButton16", QStringLiteral("Help"), 12000, 4710, 3840, 405);

    progressBar1_ = new ProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setText(QString::fromLatin1(kProgressIdleText));
    place(progressBar1_, 8040, 5220, 7800, 405);

    // Tab and Shift+Tab go from control to control in reading order, the file side first;
    // inside a list the arrow keys move.
    listView1_->setTabKeyNavigation(false);
    listView2_->setTabKeyNavigation(false);
    QWidget* previous = nullptr;
    for (const char* name :
         {"ListView1",    "PushButton1",  "PushButton6",  "PushButton5",  "PushButton9",
          "Option3",      "Text1",        "Option4",      "Combo1",       "PushButton12",
          "PushButton14", "PushButton17", "PushButton15", "Option6",      "Option5",
          "PushButton10", "Option2",      "Option1",      "PushButton7",  "ListView2",
          "PushButton3",  "PushButton2",  "PushButton4",  "PushButton13", "PushButton8",
          "PushButton16"}) {
        auto* next = findChild<QWidget*>(QLatin1String(name));
        Q_ASSERT(next);
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }

    connect(pushButton7_, &QPushButton::clicked, this, &Form1::startOrStopSearch);
    connect(clearResultsButton, &QPushButton::clicked, this, &Form1::clearResults);
    connect(help, &QPushButton::clicked, this, &Form1::showHelp);
    connect(explain, &QPushButton::clicked, this, &Form1::explainSpeedOptions);
    connect(add, &QPushButton::clicked, this, &Form1::addTerm);
    connect(remove, &QPushButton::clicked, this, &Form1::removeSelectedTerm);
    connect(clear, &QPushButton::clicked, this, &Form1::clearTerms);
    connect(load, &QPushButton::clicked, this, &Form1::loadTermLists);
    const std::pair<const char*, void (*)(Form1&)> resultActions[] = {
        {"PushButton3", OpenSelectedFile},
        {"PushButton8", CopyResultsToClipboard},
        {"PushButton4", SaveResultsAsTextFile},
        {"PushButton13", SaveResultsAsExcelFile},
    };
    for (const auto& [name, action] : resultActions)
        connect(findChild<QPushButton*>(QLatin1String(name)), &QPushButton::clicked, this,
                [this, action = action] { action(*this); });
    connect(text1_, &QLineEdit::textChanged, this, &Form1::text1Changed);
    for (QRadioButton* caseOption : {option1_, option2_})
        connect(caseOption, &QRadioButton::toggled, this, [this] { ++termsRevision_; });
    // The searches read the term list per cell; its texts are converted once per change.
    QAbstractItemModel* terms = combo1_->model();
    auto stale = [this] {
        termsStale_ = true;
        ++termsRevision_;
    };
    connect(terms, &QAbstractItemModel::rowsInserted, this, stale);
    connect(terms, &QAbstractItemModel::rowsRemoved, this, stale);
    connect(terms, &QAbstractItemModel::modelReset, this, stale);
    connect(terms, &QAbstractItemModel::dataChanged, this, stale);
    connect(terms, &QAbstractItemModel::layoutChanged, this, stale);

    // Design state of the options.
    option3_->setChecked(true);
    option6_->setChecked(true);
    option2_->setChecked(true);
}

// ---------------------------------------------------------------------------------------------
// Start-up

bool Form1::formLoad() {
    Steps steps = stepsOf(QStringLiteral("Form_Load"));
    steps.run(100, [&] { applySkin(); });
    steps.run(102, [&] { loadCustomPointer(); });
    steps.run(104, [&] {
        if (!ReadSetting(QStringLiteral("Snapshot"), QString()).isEmpty())
            return;
        if (saveSampleSnapshot_)
            saveSampleSnapshot_();
        else
            SaveSampleSnapshot(programFolder_);
    });
    steps.run(106, [&] {
        setWindowTitle(displayName_);
        setWindowIcon(ApplicationIcon());
    });
    steps.run(108, [&] { applicationTitle_ = ApplicationTitleFor(displayName_); });
    steps.run(110, [&] {
        listView1_->setHeaderLabels({QStringLiteral("Excel File(s)")});
        listView1_->header()->resizeSection(0, TwipsToPixels(7000, logicalDpiX()));
    });
    steps.run(112, [&] { setResultColumns(); });
    bool available = true;
    steps.run(114, [&] { available = CheckExcelAvailable(*prompts_, applicationTitle_); });
    if (!available)
        return false;
    steps.run(116, [&] { text1_->setText(ReadSetting(QStringLiteral("Text1"), QString())); });
    steps.run(118, [&] { restoreTermList(); });
    int line = 120;
    for (QRadioButton* option : {option1_, option2_, option3_, option4_, option5_, option6_}) {
        steps.run(line, [&] { restoreOption(option); });
        line += 2;
    }
    // Centred on the screen the window opens on.
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    return true;
}

void Form1::applySkin() {
    QString skin = programFolder_ + QStringLiteral("/x/o.cjs");
    if (!FileExists(skin.toStdString()))
        return;
    QColor face = QApplication::palette().color(QPalette::Button);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, face);
    setPalette(palette);
    for (QWidget* child : findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
            qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child)) {
            QPalette own = child->palette();
            own.setColor(QPalette::Window, face);
            child->setPalette(own);
            child->setAutoFillBackground(true);
        }
    }
    QFile file(skin);
    if (!file.open(QIODevice::ReadOnly))
        throw Error("The skin file " + skin.toStdString() + " cannot be read");
    setStyleSheet(QString::fromUtf8(file.readAll()));
}

void Form1::loadCustomPointer() {
    QString path = programFolder_ + QStringLiteral("/HAND-M.CUR");
    if (!FileExists(path.toStdString()))
        return;
    customCursor_ = LoadPointerFile(path);
    hasCustomCursor_ = true;
}

void Form1::setResultColumns() {
    // The last two columns are one design unit wide, practically hidden: they carry the numbers
    // that going to a cell needs.
    const int widths[] = {2700, 1300, 1200, 2000, 1, 1};
    QHeaderView* header = listView2_->horizontalHeader();
    for (int column = 0; column < ResultsModel::ColumnCount; ++column)
        header->resizeSection(column, std::max(1, TwipsToPixels(widths[column], logicalDpiX())));
}

void Form1::restoreTermList() {
    QString stored = ReadSetting(QStringLiteral("FindSets"), QString());
    if (stored.isEmpty())
        return;
    for (const QString& piece : stored.split(QLatin1String(kTermSeparator)))
        if (!piece.isEmpty())
            appendTerm(piece);
}

void Form1::restoreOption(QRadioButton* option) {
    static const QHash<QString, QString> defaults = {
        {QStringLiteral("Option1"), QStringLiteral("0")},
        {QStringLiteral("Option2"), QStringLiteral("1")},
        {QStringLiteral("Option3"), QStringLiteral("1")},
        {QStringLiteral("Option4"), QStringLiteral("0")},
        {QStringLiteral("Option5"), QStringLiteral("0")},
        {QStringLiteral("Option6"), QStringLiteral("1")},
    };
    QString key = option->objectName();
    bool selected = TextToBoolean(ReadSetting(key, defaults.value(key)));
    if (SetOptionValue(option, selected) && selected)
        optionClicked(option);
}

// ---------------------------------------------------------------------------------------------
// Error report, prompts, pointer

Steps Form1::stepsOf(const QString& routine) {
    return Steps(
        [this](const QString& location, int line, const QString& description) {
            showErrorReport(location, line, description);
        },
        LocationText(QStringLiteral("Form1"), routine));
}

void Form1::showErrorReport(const QString& location, int line, const QString& description) {
    ShowErrorReport(*prompts_, location, line, description);
}

Answer Form1::say(const QString& text, MessageButtons buttons, Answer defaultButton) {
    Message message;
    message.text = text;
    message.buttons = buttons;
    message.title = applicationTitle_;
    message.defaultButton = defaultButton;
    return prompts_->message(message);
}

void Form1::showRestingPointer() {
    bool otherWork = (runActive_ && !stopRequested_) || folderScans_ > 0;
    setMousePointer(otherWork ? kPointerBusy : kPointerDefault);
}

void Form1::setMousePointer(int value) {
    mousePointer_ = value;
    switch (value) {
    case kPointerBusy:
        setCursor(Qt::WaitCursor);
        break;
    case kPointerCustom:
        if (hasCustomCursor_)
            setCursor(customCursor_);
        else
            setCursor(Qt::ArrowCursor);
        break;
    default:
        unsetCursor();
        break;
    }
}

void Form1::hover(Hover hover) {
    switch (hover) {
    case Hover::Default:
        if (mousePointer_ != kPointerBusy && mousePointer_ != kPointerDefault)
            setMousePointer(kPointerDefault);
        break;
    case Hover::Custom:
        if (mousePointer_ != kPointerBusy && mousePointer_ != kPointerCustom)
            setMousePointer(kPointerCustom);
        break;
    case Hover::CustomAlways:
        if (mousePointer_ != kPointerCustom)
            setMousePointer(kPointerCustom);
        break;
    }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        auto found = hovers_.constFind(watched);
        if (found != hovers_.constEnd()) {
            // A move over a control without a pointer rule of its own reaches its parent too;
            // only the parent's own surface counts for the parent.
            auto* widget = static_cast<QWidget*>(watched);
            auto* move = static_cast<QMouseEvent*>(event);
            if (!widget->childAt(move->position().toPoint()))
                hover(found.value());
        }
    } else if (event->type() == QEvent::FocusIn && watched == combo1_) {
        // Tabbing through is no choice of the term list: on the way from the search text to the
        // start button it would switch a typed search to the terms. Arrows in the option group
        // choose the mode from the keyboard.
        Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason)
            combo1Focused();
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    // Closed from inside the event pass of a search, scan or export: that work is abandoned
    // rather than unwound, since a reader thread may need a while to notice a stop. Every
    // setting was synced when it was written, so nothing is lost. An idle window ends the
    // ordinary way.
    if (eventPasses_ > 0 || SearchAhead::running() > 0)
        EndProgramAtOnce();
}

// ---------------------------------------------------------------------------------------------
// Help and the speed explanation

void Form1::showHelp() {
    Steps steps = stepsOf(QStringLiteral("PushButton16_Click"));
    steps.run(100, [&] {
        say(QStringLiteral("Make sure Excel file or any individual sheets within the file are not "
                           "protected before using.\r\rQuestions? Please contact Team Norvane "
                           "at ") +
            QString::fromLatin1(kContactPage));
    });
}

void Form1::explainSpeedOptions() {
    Steps steps = stepsOf(QStringLiteral("PushButton10_Click"));
    steps.run(100, [&] {
        say(option6_->text() + QStringLiteral(" will search and retrieve cell locations. ") +
            QStringLiteral("\r\n") + option5_->text() +
            QStringLiteral(" will search faster but not retrieve cell locations."));
    });
}

// ---------------------------------------------------------------------------------------------
// Options: each click stores both buttons of its pair, in the pair's fixed order.

void Form1::optionClicked(QRadioButton* option) {
    QRadioButton* first = nullptr;
    QRadioButton* second = nullptr;
    if (option == option1_ || option == option2_) {
        first = option2_;
        second = option1_;
    } else if (option == option3_ || option == option4_) {
        first = option3_;
        second = option4_;
    } else {
        first = option6_;
        second = option5_;
    }
    Steps steps = stepsOf(option->objectName() + QStringLiteral("_Click"));
    for (QRadioButton* written : {first, second})
        steps.run(0,
                  [&] { WriteSetting(written->objectName(), BooleanText(written->isChecked())); });
}

void Form1::selectOption(QRadioButton* option) {
    if (SetOptionValue(option, true))
        optionClicked(option);
}

void Form1::text1Changed(const QString& text) {
    searchTextUtf8_ = text.toStdString();
    ++termsRevision_;
    Steps steps = stepsOf(QStringLiteral("Text1_Change"));
    steps.run(0, [&] { WriteSetting(QStringLiteral("Text1"), text); });
    selectOption(option3_);
}

void Form1::combo1Focused() {
    selectOption(option4_);
}

bool Form1::matchCase() {
    return option1_->isChecked();
}
bool Form1::ignoreCase() {
    return option2_->isChecked();
}
bool Form1::retrieveLocations() {
    return option6_->isChecked();
}
bool Form1::skipLocations() {
    return option5_->isChecked();
}

// ---------------------------------------------------------------------------------------------
// Term list

void Form1::appendTerm(const QString& term) {
    // Adding keeps "no item selected" as it was; the list box would otherwise select the first.
    int selected = combo1_->currentIndex();
    combo1_->addItem(term);
    if (selected < 0)
        combo1_->setCurrentIndex(-1);
}

void Form1::storeTermList() {
    QString stored;
    for (int i = 0; i < combo1_->count(); ++i)
        stored += QLatin1String(kTermSeparator) + combo1_->itemText(i);
    WriteSetting(QStringLiteral("FindSets"), stored);
}

std::size_t Form1::termCount() {
    if (termsStale_) {
        terms_.clear();
        for (int i = 0; i < combo1_->count(); ++i)
            terms_.push_back(combo1_->itemText(i).toStdString());
        termsStale_ = false;
    }
    return terms_.size();
}

const std::string& Form1::term(std::size_t index) {
    if (index >= termCount())
        throw Error("Invalid property array index");
    return terms_[index];
}

void Form1::addTerm() {
    Steps steps = stepsOf(QStringLiteral("PushButton12_Click"));
    QString answer;
    steps.run(100, [&] {
        answer = prompts_->input(QStringLiteral("Enter set:"), applicationTitle_,
                                 QStringLiteral("search for this"));
    });
    steps.run(102, [&] {
        if (!answer.isEmpty())
            appendTerm(answer);
    });
    steps.run(104, [&] {
        if (combo1_->count() > 0)
            storeTermList();
    });
}

void Form1::removeSelectedTerm() {
    Steps steps = stepsOf(QStringLiteral("PushButton14_Click"));
    steps.run(100, [&] {
        int selected = combo1_->currentIndex();
        if (selected >= 0) {
            combo1_->removeItem(selected);
            combo1_->setCurrentIndex(-1);
        }
    });
    steps.run(102, [&] { storeTermList(); });
}

void Form1::clearTerms() {
    Steps steps = stepsOf(QStringLiteral("PushButton15_Click"));
    Answer answer = Answer::No;
    steps.run(100, [&] {
        answer = say(QStringLiteral("Are you sure you want to clear this list??"),
                     MessageButtons::YesNo, Answer::Yes);
    });
    if (answer != Answer::Yes)
        return;
    steps.run(102, [&] { combo1_->clear(); });
    steps.run(104, [&] { WriteSetting(QStringLiteral("FindSets"), QString()); });
}

void Form1::loadTermListFile(const QString& path) {
    if (!FileExists(path.toStdString())) {
        say(QStringLiteral("File not found"));
        return;
    }
    // Read whole before anything is added, so a file that fails half-way adds nothing.
    for (const std::string& term : ReadTermListFile(path.toStdString()))
        appendTerm(QString::fromStdString(term));
}

void Form1::loadTermLists() {
    Steps steps = stepsOf(QStringLiteral("PushButton17_Click"));
    FileDialogRequest request;
    steps.run(100, [&] {
        request.fileName = QString();
        request.title = QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files");
        request.filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
        // A missing name typed into the dialog gets the loader's own "File not found".
        request.existingOnly = false;
    });
    QStringList chosen;
    steps.run(102, [&] { chosen = prompts_->openFiles(request); });
    if (chosen.isEmpty())
        return;
    steps.run(106, [&] { setMousePointer(kPointerBusy); });
    if (chosen.size() == 1) {
        steps.run(108, [&] { loadTermListFile(chosen.front()); });
    } else {
        // Each file on its own: one that fails is reported and the next is loaded.
        for (const QString& path : chosen)
            steps.run(108, [&] {
                loadTermListFile(QString::fromStdString(NormalizePath(path.toStdString())));
            });
    }
    steps.run(110, [&] {
        if (combo1_->count() > 0)
            storeTermList();
    });
    steps.run(112, [&] { showRestingPointer(); });
}

// ---------------------------------------------------------------------------------------------
// Results

void Form1::clearResults() {
    Steps steps = stepsOf(QStringLiteral("PushButton2_Click"));
    steps.run(100, [&] { results_->clear(); });
}

void Form1::setProgressText(const std::string& text) {
    progressBar1_->setText(QString::fromStdString(text));
}

void Form1::addResult(const ResultRow& row) {
    results_->append(row);
}

void Form1::reportError(const std::string& location, int line, const std::string& description) {
    showErrorReport(QString::fromStdString(location), line, QString::fromStdString(description));
}

void Form1::processEventsOnce() {
    // Showing new rows costs the view time in proportion to the rows it already holds; with
    // millions of rows, passes that show rows are spaced so that they take a small share of the
    // run, while every pass still handles the user's input.
    bool showRows = results_->pendingCount() > 0 &&
                    (!flushClock_.isValid() || flushClock_.elapsed() >= flushIntervalMs_);
    QElapsedTimer cost;
    cost.start();
    if (showRows)
        results_->flush();
    ++eventPasses_;
    QCoreApplication::processEvents();
    --eventPasses_;
    if (showRows) {
        flushClock_.restart();
        flushIntervalMs_ = std::clamp<qint64>(8 * cost.elapsed(), timeSliceMs_, 500);
    }
    sliceClock_.restart();
}

void Form1::yieldToEvents() {
    if (!sliceClock_.isValid() || sliceClock_.elapsed() >= timeSliceMs_)
        processEventsOnce();
}

std::unique_ptr<SpreadsheetApplication> Form1::openWorkbookAside(const std::string& path) {
    // Opening reads the workbook's shared parts whole, a second or more for a large file; on a
    // thread of its own the window keeps its event passes, so a stop or a close is taken at once.
    auto opening = std::async(std::launch::async, [path] { return OpenWorkbookInExcel(path); });
    while (opening.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        processEventsOnce();
    return opening.get();
}

SearchInputs Form1::searchInputs() {
    SearchInputs inputs;
    inputs.text = searchText();
    for (std::size_t i = 0; i < termCount(); ++i)
        inputs.terms.push_back(terms_[i]);
    inputs.matchCase = matchCase();
    inputs.ignoreCase = ignoreCase();
    inputs.retrieveLocations = retrieveLocations();
    inputs.skipLocations = skipLocations();
    inputs.single = option3_->isChecked();
    inputs.multiple = option4_->isChecked();
    return inputs;
}

// ---------------------------------------------------------------------------------------------
// The search run

void Form1::startOrStopSearch() {
    // A start press while a stopped run is still winding down would start a run inside it.
    if (runActive_ && pushButton7_->text() != QLatin1String(kStopCaption))
        return;
    Steps steps = stepsOf(QStringLiteral("PushButton7_Click"));
    steps.run(100, [&] { stopRequested_ = false; });
    bool stopping = false;
    steps.run(102, [&] { stopping = pushButton7_->text() == QLatin1String(kStopCaption); });
    if (stopping) {
        steps.run(104, [&] { stopRequested_ = true; });
        steps.run(108, [&] { showRestingPointer(); });
        steps.run(110, [&] { progressBar1_->setExactValue(0); });
        steps.run(112, [&] { progressBar1_->setText(QString::fromLatin1(kProgressIdleText)); });
        steps.run(114, [&] { pushButton7_->setText(QString::fromLatin1(kStartCaption)); });
        return;
    }
    bool forgotText = false;
    steps.run(124,
              [&] { forgotText = TrimSpaces(text1_->text()).isEmpty() && option3_->isChecked(); });
    if (forgotText) {
        steps.run(126, [&] { say(QStringLiteral("You forgot to input search text")); });
    } else {
        bool abandon = false;
        steps.run(128, [&] {
            abandon = AskProceedIfExcelOpen(*prompts_, applicationTitle_, sheetSocketName_);
        });
        if (!abandon) {
            bool noFiles = false;
            steps.run(130, [&] { noFiles = listView1_->topLevelItemCount() == 0; });
            if (noFiles) {
                steps.run(184, [&] { say(QStringLiteral("No files added.")); });
            } else {
                searchFiles(steps);
            }
        }
    }
    steps.run(186, [&] { pushButton7_->setText(QString::fromLatin1(kStartCaption)); });
}

void Form1::searchFiles(Steps& steps) {
    steps.run(132, [&] { pushButton7_->setText(QString::fromLatin1(kStopCaption)); });
    runActive_ = true;
    steps.run(134, [&] { setMousePointer(kPointerBusy); });
    steps.run(136, [&] { progressBar1_->setExactValue(0); });
    steps.run(138, [&] { results_->clear(); });
    int count = 0;
    steps.run(140, [&] { count = listView1_->topLevelItemCount(); });
    // The next file is opened and searched on a worker thread while this one is searched here,
    // with the inputs of when it started; at its turn its rows are shown if they still hold.
    std::unique_ptr<SearchAhead> ahead;
    auto pass = [this] { processEventsOnce(); };
    auto stop = [this] { return stopRequested_; };
    for (int i = 1; i <= count; ++i) {
        if (stopRequested_)
            break;
        steps.run(144, [&] { processEventsOnce(); });
        // The list refuses removals while the run is busy; should it be shorter all the same,
        // the run ends at its new end.
        if (i > listView1_->topLevelItemCount())
            break;
        steps.run(146, [&] {
            progressBar1_->setExactValue(static_cast<double>(i) / listView1_->topLevelItemCount() *
                                         100);
        });
        std::string path;
        bool havePath =
            steps.run(148, [&] { path = listView1_->topLevelItem(i - 1)->text(0).toStdString(); });
        steps.run(150, havePath, [&] {
            progressBar1_->setText(QStringLiteral("Processing: ") +
                                   QString::fromStdString(FileNameOfPath(path)));
        });
        steps.run(152, [&] { processEventsOnce(); });
        std::unique_ptr<SearchAhead> mine = std::move(ahead);
        if (mine && (!havePath || mine->path() != path))
            mine.reset();
        if (!stopRequested_ && i < count && i < listView1_->topLevelItemCount())
            ahead = std::make_unique<SearchAhead>(
                listView1_->topLevelItem(i)->text(0).toStdString(), searchInputs());
        // One instance per file, made here and dropped at the end of the pass: a file that
        // cannot be opened is reported once and nothing of an earlier file is reused.
        std::unique_ptr<SpreadsheetApplication> application;
        Workbook* workbook = nullptr;
        bool opened = steps.run(154, havePath, [&] {
            application = mine ? mine->finish(mine->inputs() == searchInputs(), pass, stop)
                               : openWorkbookAside(path);
        });
        bool haveWorkbook = steps.run(156, opened, [&] {
            workbook = &application->workbooks().item(application->workbooks().count());
        });
        steps.run(158, opened, [&] { application->setDisplayAlerts(false); });
        // What the worker found, when it was found with the inputs of now.
        auto searchedAhead = [&] {
            return mine && mine->inputs() == searchInputs() && mine->replay(*this, pass, stop);
        };
        bool single = false;
        steps.run(160, haveWorkbook, [&] { single = option3_->isChecked(); });
        if (single) {
            steps.run(162, [&] {
                if (!searchedAhead())
                    ExcelSearchWorkbook(path, workbook, *this);
            });
        } else {
            bool multiple = false;
            steps.run(164, haveWorkbook, [&] { multiple = option4_->isChecked(); });
            if (multiple)
                steps.run(166, [&] {
                    if (!searchedAhead())
                        ExcelSearchWorkbookCombo(path, workbook, *this);
                });
        }
        steps.run(168, opened, [&] { application->setDisplayAlerts(false); });
        steps.run(170, opened, [&] { application->quit(); });
        steps.run(172, opened, [&] { application->setDisplayAlerts(true); });
    }
    results_->flush();
    runActive_ = false;
    steps.run(176, [&] { showRestingPointer(); });
    steps.run(178, [&] { progressBar1_->setExactValue(0); });
    steps.run(180, [&] { progressBar1_->setText(QString::fromLatin1(kProgressIdleText)); });
    steps.run(182, [&] {
        if (!stopRequested_)
            say(QStringLiteral("Done."));
    });
}

} // namespace gq
