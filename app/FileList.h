#pragma once

#include <QPersistentModelIndex>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace gq {

// The list pointer values that tests read: none set, the arrow, the drag image.
enum ListPointer : int { kListPointerNone = 0, kListPointerArrow = 1, kListPointerDrag = 99 };

// ListView1: the workbooks a search run opens, one path per entry, in list order. It removes an
// entry on a double-click or Delete, reorders entries by dragging them with a button held down,
// and takes files and folders dropped from a file manager.
class FileList : public QTreeWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    // What the list needs from its window: whether it is busy (removal and reordering are
    // refused then), where the drag pointer image lies, and who takes the local paths of a drop.
    void setBusyTest(std::function<bool()> busy) { busy_ = std::move(busy); }
    void setDragPointerFile(const QString& path) { dragPointerFile_ = path; }
    void setDropHandler(std::function<void(const QStringList& paths)> handler) {
        dropHandler_ = std::move(handler);
    }

    // Adds entries at the end; several at once cost the view one update.
    void appendEntry(const QString& text);
    void appendEntries(const QStringList& texts);
    int entryCount() const { return topLevelItemCount(); }
    // 1-based, as the list's users count; the empty text outside the list.
    QString entryText(int index) const;
    QStringList entryTexts() const;

    // Between these, as during a folder scan, the rows are drawn at spaced moments rather than at
    // every event pass: laying out a long list costs time in proportion to its length. Nested
    // calls are counted.
    void beginBulkAppend();
    void endBulkAppend();

    // The selected entry goes, unless the window is busy.
    void removeSelectedEntry();

    bool dragActive() const { return dragActive_; }
    // The 1-based position of the entry being dragged; 0 when none is remembered or it is gone.
    int dragIndex() const;
    int listPointer() const { return listPointer_; }

    // The paths of a drop that the list takes: local files and folders only.
    static QStringList DroppedPaths(const QMimeData* data);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void itemClicked(QTreeWidgetItem* item);
    void dragOver(QPoint at);
    void setListPointer(int value);

    void paintNow();

    std::function<bool()> busy_ = [] { return false; };
    int bulk_ = 0;
    QTimer* paintTimer_ = nullptr;
    std::function<void(const QStringList&)> dropHandler_;
    QString dragPointerFile_;
    bool dragActive_ = false;
    // Persistent, so an entry removed since the last click is seen to be gone.
    QPersistentModelIndex dragItem_;
    int listPointer_ = kListPointerNone;
};

} // namespace gq
