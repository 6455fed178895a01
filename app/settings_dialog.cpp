#include "app/settings_dialog.h"

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

  GroupBoxSaving = new QGroupBox(" Saving ", this);
  LabelOutput = new QLabel("Output Directory:", GroupBoxSaving);
  EditOutput = new QLineEdit(GroupBoxSaving);
  ButtonSelectDir = new QPushButton("...", GroupBoxSaving);
  ButtonSelectDir->setFixedWidth(32);
  CheckBoxOutputSame = new QCheckBox("same as input directory", GroupBoxSaving);
  CheckBoxDeleteSource = new QCheckBox("delete source files", GroupBoxSaving);
  LabelPriority = new QLabel("Thread Prioriry:", GroupBoxSaving);
  ComboBoxPriority = DropDownList(
      {"Idle", "Lowest", "Lower", "Normal", "Higher", "Highest", "Critical"}, GroupBoxSaving);

  GroupBoxConverting = new QGroupBox(" Converting ", this);
  LabelConvertTo = new QLabel("Convert to:", GroupBoxConverting);
  ComboBoxConvertTo = DropDownList({"WAV", "MP3", "OGG", "WMA", "APE"}, GroupBoxConverting);
  LabelBitrate = new QLabel("Bitrate (mp3, wma):", GroupBoxConverting);
  ComboBoxBitrate = DropDownList({"32", "48", "56", "64", "80", "96", "128", "192", "256", "320"},
                                 GroupBoxConverting);
  LabelOggQuality = new QLabel("Ogg Quality:", GroupBoxConverting);
  SpinEditOggQuality = SpinEdit(1, 10, 1, GroupBoxConverting);
  LabelApeCompression = new QLabel("Ape Compression", GroupBoxConverting);
  SpinEditApeCompression = SpinEdit(1000, 5000, 1000, GroupBoxConverting);

  GroupBoxWav = new QGroupBox(" WAV File ", this);
  LabelChannels = new QLabel("Channels:", GroupBoxWav);
  SpinEditChannels = SpinEdit(1, 2, 1, GroupBoxWav);
  LabelSr = new QLabel("Sample Rate:", GroupBoxWav);
  EditSr = new QLineEdit(GroupBoxWav);
  LabelBps = new QLabel("Bits Per Sample:", GroupBoxWav);
  SpinEditBps = SpinEdit(8, 32, 8, GroupBoxWav);
  LabelFormat = new QLabel("Format:", GroupBoxWav);
  ComboBoxFormat = DropDownList({"RAW PCM", "DVI IMA ADPCM"}, GroupBoxWav);

  ButtonClose = new QPushButton("Close", this);
  ButtonClose->setDefault(true);

  // Layout.
  auto* saving = new QGridLayout(GroupBoxSaving);
  saving->addWidget(LabelOutput, 0, 0, 1, 2);
  saving->addWidget(EditOutput, 1, 0);
  saving->addWidget(ButtonSelectDir, 1, 1);
  saving->addWidget(CheckBoxOutputSame, 2, 0, 1, 2);
  saving->addWidget(CheckBoxDeleteSource, 3, 0, 1, 2);
  auto* priority = new QHBoxLayout;
  priority->addWidget(LabelPriority);
  priority->addWidget(ComboBoxPriority, 1);
  saving->addLayout(priority, 4, 0, 1, 2);

  auto* converting = new QFormLayout(GroupBoxConverting);
  converting->addRow(LabelConvertTo, ComboBoxConvertTo);
  converting->addRow(LabelBitrate, ComboBoxBitrate);
  converting->addRow(LabelOggQuality, SpinEditOggQuality);
  converting->addRow(LabelApeCompression, SpinEditApeCompression);

  auto* wav = new QFormLayout(GroupBoxWav);
  wav->addRow(LabelChannels, SpinEditChannels);
  wav->addRow(LabelSr, EditSr);
  wav->addRow(LabelBps, SpinEditBps);
  wav->addRow(LabelFormat, ComboBoxFormat);

  auto* drives = new QHBoxLayout;
  drives->addWidget(LabelDrives);
  drives->addWidget(ComboBoxDrives, 1);
  auto* lower = new QHBoxLayout;
  lower->addWidget(GroupBoxConverting);
  lower->addWidget(GroupBoxWav);
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
  GroupBoxSaving->setTitle(Q(t.Text("FormSettings.GroupBoxSaving.Caption")));
  LabelOutput->setText(Q(t.Text("FormSettings.LabelOutput.Caption")));
  GroupBoxConverting->setTitle(Q(t.Text("FormSettings.GroupBoxConverting.Caption")));
  LabelBitrate->setText(Q(t.Text("FormSettings.LabelBitrate.Caption")));
  LabelConvertTo->setText(Q(t.Text("FormSettings.LabelConvertTo.Caption")));
  LabelOggQuality->setText(Q(t.Text("FormSettings.LabelOggQuality.Caption")));
  LabelApeCompression->setText(Q(t.Text("FormSettings.LabelApeCompression.Caption")));
  CheckBoxOutputSame->setText(Q(t.Text("FormSettings.CheckBoxOutputSame.Caption")));
  ButtonClose->setText(Q(t.Text("FormSettings.ButtonClose.Caption")));
  CheckBoxDeleteSource->setText(Q(t.Text("FormSettings.CheckBoxDeleteSource.Caption")));
  GroupBoxWav->setTitle(Q(t.Text("FormSettings.GroupBoxWav.Caption")));
  LabelChannels->setText(Q(t.Text("FormSettings.LabelChannels.Caption")));
  LabelSr->setText(Q(t.Text("FormSettings.LabelSr.Caption")));
  LabelBps->setText(Q(t.Text("FormSettings.LabelBps.Caption")));
  LabelFormat->setText(Q(t.Text("FormSettings.LabelFormat.Caption")));
  LabelPriority->setText(Q(t.Text("FormSettings.LabelPriority.Caption")));
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
  EditOutput->setText(Q(settings_.OutputDir));
  CheckBoxOutputSame->setChecked(settings_.asInput);
  CheckBoxDeleteSource->setChecked(settings_.deleteSource);
  CheckBoxOutputSameClick();
  ComboBoxPriority->setCurrentIndex(settings_.threadPrioriry);
  ComboBoxConvertTo->setCurrentIndex(settings_.outputType);
  const int bitrate = ComboBoxBitrate->findText(Q(settings_.Bitrate), Qt::MatchExactly);
  if (bitrate >= 0) ComboBoxBitrate->setCurrentIndex(bitrate);
  SpinEditOggQuality->setValue(settings_.oggQuality);
  SpinEditApeCompression->setValue(settings_.apeCompression);
  SpinEditChannels->setValue(settings_.wavCh);
  EditSr->setText(QString::number(settings_.wavSr));
  SpinEditBps->setValue(settings_.wavBps);
  ComboBoxFormat->setCurrentIndex(settings_.wavFormat);
}

void TFormSettings::ButtonCloseClick() {
  try {
    settings_.OutputDir = EditOutput->text().toStdString();
    settings_.asInput = CheckBoxOutputSame->isChecked();
    settings_.deleteSource = CheckBoxDeleteSource->isChecked();
    settings_.threadPrioriry = ComboBoxPriority->currentIndex();
    settings_.outputType = ComboBoxConvertTo->currentIndex();
    settings_.Bitrate = ComboBoxBitrate->currentIndex() < 0 ? std::string()
                                                            : ComboBoxBitrate->currentText().toStdString();
    settings_.oggQuality = SpinEditOggQuality->value();
    settings_.apeCompression = SpinEditApeCompression->value();
    settings_.wavCh = SpinEditChannels->value();
    settings_.wavSr = SettingTextToSampleRate(EditSr->text().toStdString());
    settings_.wavBps = SpinEditBps->value();
    settings_.wavFormat = ComboBoxFormat->currentIndex();
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
