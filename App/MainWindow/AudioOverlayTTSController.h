#pragma once

#include "Overlay/OverlaySpeechBatch.h"
#include "Overlay/ProjectItem.h"

#include <QDialog>
#include <QList>
#include <functional>
#include <memory>

class Project;
class QLabel;
class QProgressBar;
class QPushButton;
class TextToSpeechView;
class UserSettings;

// The sheet that gives overlay items their audio by speech: the selected item, or all of them
// one after another, in the voice chosen in its own voice chooser.
class AudioOverlayTTSController : public QDialog, public OverlaySpeechBatch::Display {
    Q_OBJECT
public:
    // items: the table's items; selectedRow: the table's selected row, -1 for none.
    AudioOverlayTTSController(Project *project, QList<ProjectItem> &items, int selectedRow,
                              UserSettings &settings, QWidget *parent = nullptr);
    // Waits for an item still being stored; its audio is kept.
    ~AudioOverlayTTSController() override;

    void selectedItemButtonClicked();
    void allItemsButtonClicked();
    void cancelButtonClicked();

    QPushButton *selectedItemButton() const { return selectedButton; }
    QPushButton *allItemsButton() const { return allButton; }
    QLabel *taskNameLabel() const { return taskLabel; }
    QProgressBar *progressBar() const { return bar; }
    TextToSpeechView *voiceChooser() const { return text2SpeechView; }

    // The window's side: its warning sheet, its table and its controls, and its dirty flag.
    std::function<void(const QString &title, const QString &message)> onAlert;
    std::function<void()> onReloadTable;
    std::function<void()> onRefreshControls;
    std::function<void()> onProjectDirty;

    void setLabel(const QString &text) override;
    void setProgress(bool indeterminate, double maximum, double value) override;
    void closeSheet() override;
    void showAlert(const QString &title, const QString &message) override;
    void reloadTable() override;
    void refreshControls() override;

private:
    void noteDirty();

    QList<ProjectItem> &items;
    const int selectedRow;
    // None without a project: the actions then only close the sheet.
    std::unique_ptr<OverlaySpeechBatch> batch;
    TextToSpeechView *text2SpeechView = nullptr;
    QLabel *taskLabel = nullptr;
    QProgressBar *bar = nullptr;
    QPushButton *selectedButton = nullptr;
    QPushButton *allButton = nullptr;
    QPushButton *cancelButton = nullptr;
    bool dirtyReported = false;
};
