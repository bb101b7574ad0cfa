#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class UserSettings;

// The options dialog: output folder, the level of the original audio under the speech, and the
// output's stream options. Every control stores its preference the moment it changes, so there
// is nothing to cancel; OK only closes. Which stream options apply depends on the container of
// the open video.
class OptionsViewController : public QDialog {
    Q_OBJECT
public:
    // videoPath: the video open in the main window, or an empty text for none.
    OptionsViewController(UserSettings &settings, const QString &videoPath,
                          QWidget *parent = nullptr);

    // The folder dialog's choice: stored and shown when it is a folder we may write to; otherwise
    // the user is told and the previous folder stays.
    void folderSelected(const QString &path);

    QLineEdit *outputFolderView() const { return outputFolderField; }
    QSlider *volumeBar() const { return volumeSlider; }
    QLabel *volumeValueView() const { return volumeValueLabel; }
    QCheckBox *newAudioStreamCheckbox() const { return newAudioStreamBox; }
    QCheckBox *defaultAudioStreamCheckbox() const { return defaultAudioStreamBox; }
    QCheckBox *maximizeOutputVolume() const { return maximizeOutputVolumeBox; }
    QCheckBox *keepSpeechInSyncCheckbox() const { return keepSpeechInSyncBox; }
    QCheckBox *duckOriginalAudioCheckbox() const { return duckOriginalAudioBox; }
    QComboBox *loudnessTargetChooser() const { return loudnessTargetBox; }
    QLabel *mixLineView() const { return mixLineLabel; }
    QLabel *loudnessLineView() const { return loudnessLineLabel; }
    QCheckBox *newSubtitlesStreamCheckbox() const { return newSubtitlesStreamBox; }
    QCheckBox *defaultSubtitlesStreamCheckbox() const { return defaultSubtitlesStreamBox; }

private:
    void buildInterface();
    void loadSettings(const QString &videoPath);
    void connectControls();
    void selectFolderClicked();
    void showInFolderClicked();
    void volumeClicked(int value);
    void renderSubtitlesClicked(bool on);
    void applyDefaultSubtitlesRule();
    void loudnessTargetChosen(int index);
    void maximizeVolumeClicked(bool on);
    // The short lines under the mix and loudness controls, from the controls' states.
    void updateExplanations();

    UserSettings &settings;
    QLineEdit *outputFolderField = nullptr;
    QSlider *volumeSlider = nullptr;
    QLabel *volumeValueLabel = nullptr;
    QCheckBox *newAudioStreamBox = nullptr;
    QCheckBox *defaultAudioStreamBox = nullptr;
    QCheckBox *maximizeOutputVolumeBox = nullptr;
    QCheckBox *keepSpeechInSyncBox = nullptr;
    QCheckBox *duckOriginalAudioBox = nullptr;
    QComboBox *loudnessTargetBox = nullptr;
    QLabel *mixLineLabel = nullptr;
    QLabel *loudnessLineLabel = nullptr;
    QCheckBox *newSubtitlesStreamBox = nullptr;
    QCheckBox *defaultSubtitlesStreamBox = nullptr;
};
