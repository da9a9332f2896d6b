#include "SearchAhead.h"

#include "Error.h"
#include "SheetAutomation.h"
#include "Spreadsheet.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace gq {

namespace {

std::atomic<int> g_running = 0;

struct Event {
    enum class Kind { Progress, Row, Report } kind;
    ResultRow row;           // Row
    std::string text;        // Progress: the text; Report: the location
    int line = 0;            // Report
    std::string description; // Report
};

std::size_t BytesOf(const Event& event) {
    const ResultRow& row = event.row;
    return sizeof event + row.file.size() + row.sheet.size() + row.location.size() +
           row.cellText.size() + row.row.size() + row.col.size() + event.text.size() +
           event.description.size();
}

} // namespace

struct SearchAhead::State {
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<bool> dropSearch = false;
    bool finished = false;
    bool gaveUp = false; // the search was dropped or held too much: nothing to replay
    std::unique_ptr<SpreadsheetApplication> application;
    std::exception_ptr openFailure;
    std::deque<Event> events;
    std::size_t heldBytes = 0;

    void add(Event event) {
        std::lock_guard lock(mutex);
        if (gaveUp)
            return;
        heldBytes += BytesOf(event);
        events.push_back(std::move(event));
        if (heldBytes > kMaxHeldBytes) {
            gaveUp = true;
            events.clear();
        }
    }
    bool givenUp() {
        std::lock_guard lock(mutex);
        return gaveUp;
    }
};

namespace {

// The window as a search on a worker thread sees it: the inputs of when it started, and a record
// of everything the search tells the window.
class RecordingHost : public SearchHost {
public:
    RecordingHost(const SearchInputs& inputs, SearchAhead::State& state)
        : inputs_(inputs), state_(state) {}

    const std::string& searchText() override { return inputs_.text; }
    std::size_t termCount() override { return inputs_.terms.size(); }
    const std::string& term(std::size_t index) override {
        if (index >= inputs_.terms.size())
            throw Error("Invalid property array index");
        return inputs_.terms[index];
    }
    std::uint64_t termsRevision() override { return 0; } // the inputs never change
    bool matchCase() override { return inputs_.matchCase; }
    bool ignoreCase() override { return inputs_.ignoreCase; }
    bool retrieveLocations() override { return inputs_.retrieveLocations; }
    bool skipLocations() override { return inputs_.skipLocations; }
    bool stopRequested() override { return state_.dropSearch || state_.givenUp(); }
    void setProgressText(const std::string& text) override {
        state_.add({Event::Kind::Progress, {}, text, 0, {}});
    }
    void addResult(const ResultRow& row) override {
        state_.add({Event::Kind::Row, row, {}, 0, {}});
    }
    void reportError(const std::string& location, int line,
                     const std::string& description) override {
        state_.add({Event::Kind::Report, {}, location, line, description});
    }
    void yieldToEvents() override {}

private:
    const SearchInputs& inputs_;
    SearchAhead::State& state_;
};

} // namespace

SearchAhead::SearchAhead(std::string path, SearchInputs inputs)
    : path_(std::move(path)), inputs_(std::move(inputs)), state_(std::make_shared<State>()) {
    ++g_running;
    // Detached: a stop or a changed term drops the look-ahead at once, and a worker inside a
    // reader ends on its own. It holds everything it uses.
    std::thread([state = state_, path = path_, inputs = inputs_] {
        std::unique_ptr<SpreadsheetApplication> application;
        try {
            application = OpenWorkbookInExcel(path);
            if (!state->dropSearch) {
                RecordingHost host(inputs, *state);
                Workbook* workbook =
                    &application->workbooks().item(application->workbooks().count());
                if (inputs.single)
                    ExcelSearchWorkbook(path, workbook, host);
                else if (inputs.multiple)
                    ExcelSearchWorkbookCombo(path, workbook, host);
            }
        } catch (const Error&) {
            std::lock_guard lock(state->mutex);
            state->openFailure = std::current_exception();
        } catch (const std::bad_alloc&) {
            std::lock_guard lock(state->mutex);
            state->openFailure =
                std::make_exception_ptr(Error("Not enough memory to read the file"));
        }
        {
            std::lock_guard lock(state->mutex);
            if (state->dropSearch)
                state->gaveUp = true;
            state->application = std::move(application);
            state->finished = true;
        }
        state->done.notify_all();
        --g_running;
    }).detach();
}

SearchAhead::~SearchAhead() {
    state_->dropSearch = true;
}

int SearchAhead::running() {
    return g_running;
}

std::unique_ptr<SpreadsheetApplication> SearchAhead::finish(bool keepSearch,
                                                            const std::function<void()>& pass,
                                                            const std::function<bool()>& stop) {
    if (!keepSearch)
        state_->dropSearch = true;
    std::unique_lock lock(state_->mutex);
    while (!state_->done.wait_for(lock, std::chrono::milliseconds(5),
                                  [&] { return state_->finished; })) {
        lock.unlock();
        pass();
        if (stop())
            state_->dropSearch = true;
        lock.lock();
    }
    if (state_->openFailure)
        std::rethrow_exception(state_->openFailure);
    return std::move(state_->application);
}

bool SearchAhead::replay(SearchHost& host, const std::function<void()>& pass,
                         const std::function<bool()>& stop) {
    std::deque<Event> events;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->finished || state_->gaveUp)
            return false;
        events.swap(state_->events);
    }
    std::size_t handed = 0;
    for (Event& event : events) {
        if (++handed % 256 == 0)
            pass();
        if (stop())
            break;
        switch (event.kind) {
        case Event::Kind::Progress:
            host.setProgressText(event.text);
            break;
        case Event::Kind::Row:
            host.addResult(event.row);
            break;
        case Event::Kind::Report:
            host.reportError(event.text, event.line, event.description);
            break;
        }
    }
    return true;
}

} // namespace gq
