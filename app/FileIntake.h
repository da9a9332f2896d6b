#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace gq {

class FileList;
class Form1;

// The scrambling key of the sample snapshot: eight lowercase letters.
inline constexpr const char* kSnapshotKey = "quillfen";

// Connects the file-list buttons (PushButton1, 5, 6, 9) and the list's drops to the handlers
// below, and gives the list what it needs from the window.
void ConnectFileIntake(Form1& form);

// Handlers.
void AddExcelFiles(Form1& form);          // PushButton1
void ClearFileList(Form1& form);          // PushButton5
void AddAllFilesInFolder(Form1& form);    // PushButton6
void LoadSampleExampleFiles(Form1& form); // PushButton9
// Dropped local paths: a folder adds every file of its tree, anything else is added as given.
void AddDroppedPaths(Form1& form, const QStringList& paths);

// Records the sample workbooks beside the program, scrambled, as the setting "Snapshot".
void SaveSampleSnapshot(const QString& programFolder);
// Adds the recorded samples that still exist and are not listed yet, then offers to open the
// samples folder.
void LoadSampleFiles(Form1& form, FileList& list);
bool ListContains(const FileList& list, const QString& text);

// Byte-wise, cyclic over the key: c + k, less 255 from 256 up; and back. Every text of bytes 1
// to 255 comes back unchanged, and no byte of a scrambled text is 0.
QByteArray ScrambleText(const QByteArray& text, const QByteArray& key);
QByteArray UnscrambleText(const QByteArray& text, const QByteArray& key);

} // namespace gq
