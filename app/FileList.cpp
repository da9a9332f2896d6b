#include "FileList.h"

#include "Pointers.h"
#include "WorkbookSearch.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace gq {

namespace {

// A drop is always taken as a copy: a file manager that saw "move" accepted would delete the
// files it dragged here.
bool AcceptAsCopy(QDropEvent* event) {
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    else if (event->possibleActions() & Qt::LinkAction)
        event->setDropAction(Qt::LinkAction);
    else
        return false;
    event->accept();
    return true;
}

} // namespace

FileList::FileList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false); // dragging reorders; the list never starts a drag of its own
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setColumnCount(0);
    header()->setStretchLastSection(false);
    paintTimer_ = new QTimer(this);
    paintTimer_->setSingleShot(true);
    connect(paintTimer_, &QTimer::timeout, this, &FileList::paintNow);
    setToolTip(QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | "
                              "line to right and out of window to reveal full names."));
}

void FileList::appendEntry(const QString& text) {
    addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
}

void FileList::appendEntries(const QStringList& texts) {
    QList<QTreeWidgetItem*> items;
    items.reserve(texts.size());
    for (const QString& text : texts) {
        // Set directly: a list made for each item costs more than the insertion itself.
        auto* item = new QTreeWidgetItem;
        item->setText(0, text);
        items.append(item);
    }
    addTopLevelItems(items);
}

void FileList::beginBulkAppend() {
    if (bulk_++ > 0)
        return;
    setUpdatesEnabled(false);
    paintTimer_->start(50);
}

void FileList::endBulkAppend() {
    if (bulk_ == 0 || --bulk_ > 0)
        return;
    paintTimer_->stop();
    setUpdatesEnabled(true);
    update();
}

void FileList::paintNow() {
    if (bulk_ == 0)
        return;
    QElapsedTimer cost;
    cost.start();
    setUpdatesEnabled(true);
    repaint();
    setUpdatesEnabled(false);
    // Drawing takes at most about a tenth of the scan's time.
    paintTimer_->start(static_cast<int>(std::clamp<qint64>(10 * cost.elapsed(), 50, 500)));
}

void FileList::timerEvent(QTimerEvent* event) {
    // The view's own timers, above all its delayed relayout after every insert, wait for the end
    // of the bulk append (they fire again until handled); the spaced paints lay the list out.
    if (bulk_ > 0)
        return;
    QTreeWidget::timerEvent(event);
}

QString FileList::entryText(int index) const {
    if (index < 1 || index > topLevelItemCount())
        return QString();
    return topLevelItem(index - 1)->text(0);
}

QStringList FileList::entryTexts() const {
    QStringList texts;
    for (int i = 0; i < topLevelItemCount(); ++i)
        texts << topLevelItem(i)->text(0);
    return texts;
}

void FileList::removeSelectedEntry() {
    if (busy_() || topLevelItemCount() == 0)
        return;
    QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return;
    delete takeTopLevelItem(indexOfTopLevelItem(selected.front()));
}

int FileList::dragIndex() const {
    return dragItem_.isValid() ? dragItem_.row() + 1 : 0;
}

void FileList::setListPointer(int value) {
    listPointer_ = value;
}

void FileList::itemClicked(QTreeWidgetItem* item) {
    QList<QTreeWidgetItem*> selected = selectedItems();
    QTreeWidgetItem* dragged = selected.isEmpty() ? item : selected.front();
    dragItem_ = QPersistentModelIndex(indexFromItem(dragged));
    // Without a readable image the pointer stays as it is: dragging works all the same.
    if (dragPointerFile_.isEmpty() || !FileExists(dragPointerFile_.toStdString()))
        return;
    try {
        viewport()->setCursor(LoadPointerFile(dragPointerFile_));
        setListPointer(kListPointerDrag);
    } catch (...) {
    }
}

void FileList::mousePressEvent(QMouseEvent* event) {
    dragActive_ = true;
    QTreeWidget::mousePressEvent(event);
    if (QTreeWidgetItem* item = itemAt(event->position().toPoint()))
        itemClicked(item);
}

void FileList::mouseMoveEvent(QMouseEvent* event) {
    if (!dragActive_) {
        QTreeWidget::mouseMoveEvent(event);
        return;
    }
    // The view's own handling would select whatever passes under the pointer; the drag keeps
    // the selection on the dragged entry.
    dragOver(event->position().toPoint());
}

void FileList::dragOver(QPoint at) {
    int height = viewport()->height();
    // A busy window's run or scan counts on the list's order.
    if (busy_() || topLevelItemCount() == 0 || height <= 0)
        return;
    // Beyond the top or bottom edge the entry at that edge is the one passed over, so the drag
    // goes on, scrolling, while the pointer is outside the visible rows.
    int y = std::clamp(at.y(), 0, height - 1);
    QTreeWidgetItem* hover = itemAt(QPoint(0, y));
    QTreeWidgetItem* dragged = dragItem_.isValid() ? itemFromIndex(dragItem_) : nullptr;
    if (!hover || !dragged || hover->text(0) == dragged->text(0))
        return;
    QString text = dragged->text(0);
    dragged->setText(0, hover->text(0));
    hover->setText(0, text);
    setCurrentItem(hover);
    dragItem_ = QPersistentModelIndex(indexFromItem(hover));
    int index = indexOfTopLevelItem(hover) + 1;
    if (at.y() < 0 && index >= 2)
        scrollToItem(topLevelItem(index - 2));
    else if (at.y() >= height && topLevelItemCount() >= index + 1)
        scrollToItem(topLevelItem(index));
}

void FileList::mouseReleaseEvent(QMouseEvent* event) {
    dragActive_ = false;
    // The arrow, which lets a busy window's hourglass show over the list as well.
    viewport()->unsetCursor();
    setListPointer(kListPointerArrow);
    QTreeWidget::mouseReleaseEvent(event);
}

void FileList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    removeSelectedEntry();
}

void FileList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        removeSelectedEntry();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

QStringList FileList::DroppedPaths(const QMimeData* data) {
    if (!data || !data->hasFormat(QStringLiteral("text/uri-list")))
        return {};
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (path.isEmpty())
            return {}; // not a list of local files
        paths << path;
    }
    return paths;
}

void FileList::dragEnterEvent(QDragEnterEvent* event) {
    if (DroppedPaths(event->mimeData()).isEmpty() || !AcceptAsCopy(event))
        event->ignore();
}

void FileList::dragMoveEvent(QDragMoveEvent* event) {
    if (DroppedPaths(event->mimeData()).isEmpty() || !AcceptAsCopy(event))
        event->ignore();
}

void FileList::dropEvent(QDropEvent* event) {
    QStringList paths = DroppedPaths(event->mimeData());
    if (paths.isEmpty() || !AcceptAsCopy(event)) {
        event->ignore();
        return;
    }
    // Taken after the drop has been answered, so the program the files came from is not held
    // while a dropped folder tree is scanned.
    QTimer::singleShot(0, this, [this, paths] {
        if (dropHandler_)
            dropHandler_(paths);
    });
}

} // namespace gq
