// TFormSettings: edits the settings held in memory. It loads them into its
// controls each time it is shown and stores them back when Close is pressed;
// closing it any other way discards the changes.
#pragma once

#include <functional>
#include <vector>

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QFileDialog;
class TLanguageTable;
struct TFormatSetting;
struct TSettings;

class TFormSettings : public QDialog {
  Q_OBJECT

 public:
  TFormSettings(TSettings& settings, QWidget* parent = nullptr);

  // Sets every translatable text from the table.
  void ApplyTexts(const TLanguageTable& texts);

  // Loads the controls from the settings (also done when shown).
  void FormShow();
  // Stores the controls into the settings in their fixed order and closes.
  // A sample rate that is not an integer, or not a rate the engine takes,
  // raises kFmtNotValidInteger after the settings before it were stored; the
  // dialog then stays open.
  void ButtonCloseClick();
  void CheckBoxOutputSameClick();
  void ButtonSelectDirClick();
  void ComboBoxDrivesSelect(int index);

  // Runs after a drive was chosen (the CD driver lists its tracks).
  std::function<void()> OnDriveChosen;
  // Shows an error in the standard error box; replaceable for tests.
  std::function<void(const QString&)> ErrorBox;

  QLabel* LabelDrives;
  QComboBox* ComboBoxDrives;
  // The ALSA device the CD player plays on: a name typed in, or one of the
  // names offered.
  QLabel* LabelAudioDevice;
  QComboBox* ComboBoxAudioDevice;
  QGroupBox* GroupBoxSaving;
  QLabel* LabelOutput;
  QLineEdit* EditOutput;
  QPushButton* ButtonSelectDir;
  QCheckBox* CheckBoxOutputSame;
  QCheckBox* CheckBoxDeleteSource;
  // "existingOutput": keep both, replace, skip the file.
  QLabel* LabelExistingOutput;
  QComboBox* ComboBoxExistingOutput;
  QLabel* LabelPriority;
  QComboBox* ComboBoxPriority;
  QLabel* LabelJobs;
  QSpinBox* SpinEditJobs;
  QGroupBox* GroupBoxConverting;
  QLabel* LabelConvertTo;
  QComboBox* ComboBoxConvertTo;
  QLabel* LabelBitrate;
  QComboBox* ComboBoxBitrate;
  QLabel* LabelOggQuality;
  QSpinBox* SpinEditOggQuality;
  QLabel* LabelApeCompression;
  QSpinBox* SpinEditApeCompression;
  QGroupBox* GroupBoxWav;
  QLabel* LabelChannels;
  QSpinBox* SpinEditChannels;
  QLabel* LabelSr;
  QLineEdit* EditSr;
  QLabel* LabelBps;
  QSpinBox* SpinEditBps;
  QLabel* LabelFormat;
  QComboBox* ComboBoxFormat;
  QPushButton* ButtonClose;
  // The folder-browse dialog while it is open (null otherwise).
  QFileDialog* FolderBrowse = nullptr;

  // The controls of the format settings the catalog declares, in the order
  // they are loaded and stored; the named members above point into them.
  struct TSettingControl {
    const TFormatSetting* Setting;
    QLabel* Label;
    QWidget* Control;
  };
  std::vector<TSettingControl> FormatControls;
  // The groups of formats with settings of their own (GroupBoxWav).
  std::vector<QGroupBox*> FormatGroups;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TSettings& settings_;
};
