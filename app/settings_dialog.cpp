#include "app/settings_dialog.h"

#include <algorithm>
#include <exception>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/language_table.h"
#include "app/settings.h"
#include "cdaudio/alsa_pcm.h"
#include "codecs/format_catalog.h"

namespace {

// A spin edit whose value is chosen with its arrows only.
QSpinBox* SpinEdit(int min, int max, int step, QWidget* parent) {
  auto* spin = new QSpinBox(parent);
  spin->setRange(min, max);
  spin->setSingleStep(step);
  spin->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  spin->findChild<QLineEdit*>()->setReadOnly(true);
  return spin;
}

QComboBox* DropDownList(const QStringList& items, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->addItems(items);
  combo->setCurrentIndex(-1);
  return combo;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TFormSettings::TFormSettings(TSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setObjectName("FormSettings");
  setWindowTitle("Settings");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setModal(true);
  ErrorBox = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); };

  LabelDrives = new QLabel("Drives:", this);
  ComboBoxDrives = new QComboBox(this);
  LabelAudioDevice = new QLabel("Audio Device:", this);
  ComboBoxAudioDevice = new QComboBox(this);
  ComboBoxAudioDevice->setObjectName("ComboBoxAudioDevice");
  ComboBoxAudioDevice->setEditable(true);
  ComboBoxAudioDevice->setInsertPolicy(QComboBox::NoInsert);

  GroupBoxSaving = new QGroupBox(" Saving ", this);
  LabelOutput = new QLabel("Output Directory:", GroupBoxSaving);
  EditOutput = new QLineEdit(GroupBoxSaving);
  ButtonSelectDir = new QPushButton("...", GroupBoxSaving);
  ButtonSelectDir->setFixedWidth(32);
  CheckBoxOutputSame = new QCheckBox("same as input directory", GroupBoxSaving);
  CheckBoxDeleteSource = new QCheckBox("delete source files", GroupBoxSaving);
  LabelExistingOutput = new QLabel("Existing output:", GroupBoxSaving);
  ComboBoxExistingOutput = DropDownList({"keep both", "replace", "skip the file"}, GroupBoxSaving);
  LabelPriority = new QLabel("Thread Prioriry:", GroupBoxSaving);
  ComboBoxPriority = DropDownList(
      {"Idle", "Lowest", "Lower", "Normal", "Higher", "Highest", "Critical"}, GroupBoxSaving);
  LabelJobs = new QLabel("Files at once (0: one per core):", GroupBoxSaving);
  SpinEditJobs = SpinEdit(0, kMaxJobs, 1, GroupBoxSaving);
  SpinEditJobs->setObjectName("SpinEditJobs");

  GroupBoxConverting = new QGroupBox(" Converting ", this);
  LabelConvertTo = new QLabel("Convert to:", GroupBoxConverting);
  QStringList outputTypes;
  for (const TFormatDescriptor* format : format_catalog::All()) {
    if (format->OutputType >= 0) outputTypes << Q(format->Name);
  }
  ComboBoxConvertTo = DropDownList(outputTypes, GroupBoxConverting);
  auto* converting = new QFormLayout(GroupBoxConverting);
  converting->addRow(LabelConvertTo, ComboBoxConvertTo);
  auto* lower = new QHBoxLayout;
  lower->addWidget(GroupBoxConverting);
  // Each format setting gets the control it declares: in the format's own
  // group when it has one, else in the " Converting " group.
  for (const TFormatSetting* setting : format_catalog::Settings()) {
    QGroupBox* group = GroupBoxConverting;
    QFormLayout* rows = converting;
    if (const TFormatDescriptor* owner = format_catalog::GroupOwner(*setting)) {
      group = findChild<QGroupBox*>(Q(owner->SettingsGroupName), Qt::FindDirectChildrenOnly);
      if (group == nullptr) {
        group = new QGroupBox(Q(owner->SettingsGroupCaption), this);
        group->setObjectName(Q(owner->SettingsGroupName));
        new QFormLayout(group);
        FormatGroups.push_back(group);
        lower->addWidget(group);
      }
      rows = static_cast<QFormLayout*>(group->layout());
    }
    auto* label = new QLabel(Q(setting->Label), group);
    label->setObjectName(Q(setting->LabelName));
    QWidget* control = nullptr;
    QStringList items;
    for (const std::string& item : setting->Items) items << Q(item);
    switch (setting->Control) {
      case TFormatSetting::TControl::SpinEdit:
        control = SpinEdit(setting->Min, setting->Max, setting->Step, group);
        break;
      case TFormatSetting::TControl::IndexList:
      case TFormatSetting::TControl::TextList:
        control = DropDownList(items, group);
        break;
      case TFormatSetting::TControl::Edit:
        control = new QLineEdit(group);
        break;
    }
    control->setObjectName(Q(setting->ControlName));
    rows->addRow(label, control);
    FormatControls.push_back({setting, label, control});
  }
  GroupBoxWav = findChild<QGroupBox*>("GroupBoxWav", Qt::FindDirectChildrenOnly);
  LabelBitrate = findChild<QLabel*>("LabelBitrate");
  ComboBoxBitrate = findChild<QComboBox*>("ComboBoxBitrate");
  LabelOggQuality = findChild<QLabel*>("LabelOggQuality");
  SpinEditOggQuality = findChild<QSpinBox*>("SpinEditOggQuality");
  LabelApeCompression = findChild<QLabel*>("LabelApeCompression");
  SpinEditApeCompression = findChild<QSpinBox*>("SpinEditApeCompression");
  LabelChannels = findChild<QLabel*>("LabelChannels");
  SpinEditChannels = findChild<QSpinBox*>("SpinEditChannels");
  LabelSr = findChild<QLabel*>("LabelSr");
  EditSr = findChild<QLineEdit*>("EditSr");
  LabelBps = findChild<QLabel*>("LabelBps");
  SpinEditBps = findChild<QSpinBox*>("SpinEditBps");
  LabelFormat = findChild<QLabel*>("LabelFormat");
  ComboBoxFormat = findChild<QComboBox*>("ComboBoxFormat");

  ButtonClose = new QPushButton("Close", this);
  ButtonClose->setDefault(true);

  // Layout.
  auto* saving = new QGridLayout(GroupBoxSaving);
  saving->addWidget(LabelOutput, 0, 0, 1, 2);
  saving->addWidget(EditOutput, 1, 0);
  saving->addWidget(ButtonSelectDir, 1, 1);
  saving->addWidget(CheckBoxOutputSame, 2, 0, 1, 2);
  saving->addWidget(CheckBoxDeleteSource, 3, 0, 1, 2);
  auto* existing = new QHBoxLayout;
  existing->addWidget(LabelExistingOutput);
  existing->addWidget(ComboBoxExistingOutput, 1);
  saving->addLayout(existing, 4, 0, 1, 2);
  auto* priority = new QHBoxLayout;
  priority->addWidget(LabelPriority);
  priority->addWidget(ComboBoxPriority, 1);
  saving->addLayout(priority, 5, 0, 1, 2);
  auto* jobs = new QHBoxLayout;
  jobs->addWidget(LabelJobs);
  jobs->addWidget(SpinEditJobs, 1);
  saving->addLayout(jobs, 6, 0, 1, 2);

  auto* drives = new QGridLayout;
  drives->addWidget(LabelDrives, 0, 0);
  drives->addWidget(ComboBoxDrives, 0, 1);
  drives->addWidget(LabelAudioDevice, 1, 0);
  drives->addWidget(ComboBoxAudioDevice, 1, 1);
  drives->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonClose);
  auto* main = new QVBoxLayout(this);
  main->addLayout(drives);
  main->addWidget(GroupBoxSaving);
  main->addLayout(lower);
  main->addLayout(buttons);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  connect(ButtonClose, &QPushButton::clicked, this, [this] { ButtonCloseClick(); });
  connect(CheckBoxOutputSame, &QCheckBox::clicked, this, [this] { CheckBoxOutputSameClick(); });
  connect(CheckBoxDeleteSource, &QCheckBox::clicked, this, [this] { CheckBoxOutputSameClick(); });
  connect(ButtonSelectDir, &QPushButton::clicked, this, [this] { ButtonSelectDirClick(); });
  connect(ComboBoxDrives, qOverload<int>(&QComboBox::activated), this,
          [this](int index) { ComboBoxDrivesSelect(index); });
}

void TFormSettings::ApplyTexts(const TLanguageTable& t) {
  setWindowTitle(Q(t.Text("FormSettings.Caption")));
  LabelDrives->setText(Q(t.Text("FormSettings.LabelDrives.Caption")));
  LabelAudioDevice->setText(Q(t.Text("FormSettings.LabelAudioDevice.Caption")));
  GroupBoxSaving->setTitle(Q(t.Text("FormSettings.GroupBoxSaving.Caption")));
  LabelOutput->setText(Q(t.Text("FormSettings.LabelOutput.Caption")));
  GroupBoxConverting->setTitle(Q(t.Text("FormSettings.GroupBoxConverting.Caption")));
  LabelConvertTo->setText(Q(t.Text("FormSettings.LabelConvertTo.Caption")));
  CheckBoxOutputSame->setText(Q(t.Text("FormSettings.CheckBoxOutputSame.Caption")));
  ButtonClose->setText(Q(t.Text("FormSettings.ButtonClose.Caption")));
  CheckBoxDeleteSource->setText(Q(t.Text("FormSettings.CheckBoxDeleteSource.Caption")));
  LabelExistingOutput->setText(Q(t.Text("FormSettings.LabelExistingOutput.Caption")));
  for (int i = 0; i < ComboBoxExistingOutput->count(); ++i) {
    ComboBoxExistingOutput->setItemText(
        i, Q(t.Text("FormSettings.ComboBoxExistingOutput.Items.Strings[" + std::to_string(i) + "]")));
  }
  for (QGroupBox* group : FormatGroups) {
    group->setTitle(Q(t.Text("FormSettings." + group->objectName().toStdString() + ".Caption")));
  }
  for (const TSettingControl& c : FormatControls) {
    c.Label->setText(Q(t.Text("FormSettings." + c.Setting->LabelName + ".Caption")));
  }
  LabelPriority->setText(Q(t.Text("FormSettings.LabelPriority.Caption")));
  LabelJobs->setText(Q(t.Text("FormSettings.LabelJobs.Caption")));
  for (int i = 0; i < 7; ++i) {
    ComboBoxPriority->setItemText(
        i, Q(t.Text("FormSettings.ComboBoxPriority.Items.Strings[" + std::to_string(i) + "]")));
  }
}

void TFormSettings::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TFormSettings::FormShow() {
  ComboBoxDrives->setCurrentIndex(settings_.driveType < ComboBoxDrives->count() ? settings_.driveType : -1);
  // The devices ALSA describes are offered; any other name may be typed.
  ComboBoxAudioDevice->clear();
  ComboBoxAudioDevice->addItem(kDefaultAudioDevice);
  for (const std::string& name : AlsaPlaybackDevices()) {
    if (name != kDefaultAudioDevice) ComboBoxAudioDevice->addItem(Q(name));
  }
  ComboBoxAudioDevice->setEditText(Q(settings_.audioDevice));
  EditOutput->setText(Q(settings_.OutputDir));
  CheckBoxOutputSame->setChecked(settings_.asInput);
  CheckBoxDeleteSource->setChecked(settings_.deleteSource);
  ComboBoxExistingOutput->setCurrentIndex(
      settings_.existingOutput >= 0 && settings_.existingOutput < ComboBoxExistingOutput->count() ? settings_.existingOutput : 0);
  CheckBoxOutputSameClick();
  ComboBoxPriority->setCurrentIndex(settings_.threadPrioriry);
  SpinEditJobs->setValue(std::clamp(settings_.jobs, 0, kMaxJobs));
  ComboBoxConvertTo->setCurrentIndex(settings_.outputType);
  for (const TSettingControl& c : FormatControls) {
    const std::string& key = c.Setting->Key;
    switch (c.Setting->Control) {
      case TFormatSetting::TControl::SpinEdit:
        static_cast<QSpinBox*>(c.Control)->setValue(settings_.Integer(key));
        break;
      case TFormatSetting::TControl::IndexList:
        static_cast<QComboBox*>(c.Control)->setCurrentIndex(settings_.Integer(key));
        break;
      case TFormatSetting::TControl::TextList: {
        // A text no item matches leaves the selection as it was.
        auto* list = static_cast<QComboBox*>(c.Control);
        const int item = list->findText(Q(settings_.Text(key)), Qt::MatchExactly);
        if (item >= 0) list->setCurrentIndex(item);
        break;
      }
      case TFormatSetting::TControl::Edit:
        static_cast<QLineEdit*>(c.Control)->setText(Q(settings_.Text(key)));
        break;
    }
  }
}

void TFormSettings::ButtonCloseClick() {
  try {
    settings_.OutputDir = EditOutput->text().toStdString();
    const QString device = ComboBoxAudioDevice->currentText().trimmed();
    settings_.audioDevice = device.isEmpty() ? std::string(kDefaultAudioDevice) : device.toStdString();
    settings_.asInput = CheckBoxOutputSame->isChecked();
    settings_.deleteSource = CheckBoxDeleteSource->isChecked();
    settings_.existingOutput = ComboBoxExistingOutput->currentIndex();
    settings_.threadPrioriry = ComboBoxPriority->currentIndex();
    settings_.jobs = SpinEditJobs->value();
    settings_.outputType = ComboBoxConvertTo->currentIndex();
    // In the order of the controls: a value that does not convert stops the
    // store there, and the ones before it keep their new values.
    for (const TSettingControl& c : FormatControls) {
      std::string value;
      switch (c.Setting->Control) {
        case TFormatSetting::TControl::SpinEdit:
          value = std::to_string(static_cast<QSpinBox*>(c.Control)->value());
          break;
        case TFormatSetting::TControl::IndexList:
          value = std::to_string(static_cast<QComboBox*>(c.Control)->currentIndex());
          break;
        case TFormatSetting::TControl::TextList: {
          auto* list = static_cast<QComboBox*>(c.Control);
          value = list->currentIndex() < 0 ? std::string() : list->currentText().toStdString();
          break;
        }
        case TFormatSetting::TControl::Edit:
          value = std::to_string(SettingTextToInt(*c.Setting, static_cast<QLineEdit*>(c.Control)->text().toStdString()));
          break;
      }
      settings_.SetByName(c.Setting->Key, value);
    }
  } catch (const std::exception& e) {
    ErrorBox(QString::fromStdString(e.what()));
    return;
  }
  accept();
}

void TFormSettings::CheckBoxOutputSameClick() {
  const bool own = !CheckBoxOutputSame->isChecked();
  LabelOutput->setEnabled(own);
  EditOutput->setEnabled(own);
  ButtonSelectDir->setEnabled(own);
}

void TFormSettings::ButtonSelectDirClick() {
  // Qt's own dialog: it reports the highlighted folder as it changes, which
  // the edit follows even when the dialog is cancelled.
  QFileDialog browse(this);
  browse.setOption(QFileDialog::DontUseNativeDialog);
  browse.setOption(QFileDialog::ShowDirsOnly);
  browse.setFileMode(QFileDialog::Directory);
  browse.setDirectory(EditOutput->text());
  connect(&browse, &QFileDialog::currentChanged, EditOutput, &QLineEdit::setText);
  FolderBrowse = &browse;
  if (browse.exec() == QDialog::Accepted && !browse.selectedFiles().isEmpty()) {
    EditOutput->setText(browse.selectedFiles().first());
  }
  FolderBrowse = nullptr;
}

void TFormSettings::ComboBoxDrivesSelect(int index) {
  settings_.driveType = index;
  if (OnDriveChosen) OnDriveChosen();
}
