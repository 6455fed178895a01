// Drives the real main window through its handlers (offscreen).
#include <algorithm>
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QDesktopServices>
#include <QMimeData>
#include <QTimer>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QCheckBox>
#include <QGroupBox>
#include <QtTest>

#include "app/about_dialog.h"
#include "app/main_window.h"
#include "app/settings_dialog.h"
#include "codecs/format_catalog.h"
#include "fifo_guard.h"
#include "platform/app_paths.h"
#include "platform/ini_file.h"
#include "tests/support/support.h"
#include "window_fixture.h"

using namespace qmtest;

class TWindowTest : public QObject {
  Q_OBJECT

 public slots:
  // Receives the addresses the program asks the desktop to open.
  void OpenUrl(const QUrl& url) { openedUrls << url; }

 public:
  QList<QUrl> openedUrls;

 private slots:
  void firstRunGivesDefaultsAndClosingWritesAllKeys();
  void storedOddValuesRoundTrip();
  void droppingReplacesAndAddingAppends();
  void rowsShowLengthRateAndBits();
  void addFolderListsTheTreeAndStoresTheFolder();
  void deleteAndCheckCommands();
  void toolbarDoesNothingBeforeAnyRunMode();
  void allRowsUncheckedEndsTheRunAtOnce();
  void startConvertsCheckedRowsWithTheWavSettings();
  void startConvertsToMp3AtTheBitrateSetting();
  void pauseTwiceThenStopAndStartAgain();
  void threeRowsAtOnceShowTheRunAndEachRow();
  void vanishedSourceFailsItsRowAndTheRunGoesOn();
  void failedRowKeepsItsSourceWithDeleteSource();
  void existingOutputKeepsBothOrSkipsTheRow();
  void settingsDialogLoadsAndStores();
  void settingsDialogRejectsANonIntegerSampleRate();
  void settingsDialogRejectsASampleRateOutsideTheEngineRange();
  void missingLanguageFileChangesNothing();
  void switchingLanguages();
  void probeLinesOfTheCommandLineMatchTheRows();
  void lastRowsUncheckedLeaveTheEmptyPanelVisible();
  void unwritableSettingsFileIsReportedAndTheWindowCloses();
  void folderBrowseEditFollowsTheHighlightedFolder();
  void filesDroppedOnTheListReplaceIt();
  void addingFilesDuringARunLeavesTheRunningRowAlone();
  void aboutBoxOpensItsSite();
  void formatListsComeFromTheCatalog();
  void deletingRowsDuringARunKeepsTrackOfTheConvertingRow();
  void namesThatAreNotUtf8AreKeptWhenPickedOrDropped();
  void pathsThatCannotBeListedAreShownOnceTheAddIsOver();
};

void TWindowTest::firstRunGivesDefaultsAndClosingWritesAllKeys() {
  TWindowFixture f;
  f.Open();
  const TSettings& s = f.form->Core->Settings;
  QCOMPARE(s.outputType, 0);
  QCOMPARE(s.wavBps, 8);
  QCOMPARE(s.wavCh, 1);
  QCOMPARE(s.wavSr, 22050);
  QCOMPARE(s.wavFormat, 0);
  QVERIFY(s.asInput);
  QVERIFY(!s.deleteSource);
  QCOMPARE(s.threadPrioriry, 3);
  QCOMPARE(s.Language, std::string("English"));
  QCOMPARE(f.form->windowTitle(), QString("Quellmark Audio Converter 1.1"));
  QVERIFY(f.form->MLangEnglish->isChecked());
  QVERIFY(!f.form->MLangRussian->isChecked());
  QVERIFY(f.form->ListView1->isColumnHidden(4));
  QVERIFY(!std::filesystem::exists(f.settings));
  f.form->MExitClick();
  for (const std::string& key : TSettings::KeyNames()) QVERIFY2(f.Key(key.c_str()) != "<missing>", key.c_str());
  QCOMPARE(f.Key("wavSr"), std::string("22050"));
  QCOMPARE(f.Key("asInput"), std::string("1"));
}

void TWindowTest::storedOddValuesRoundTrip() {
  TWindowFixture f;
  WriteText(f.settings, "[Options]\nthreadPrioriry=9\nasInput=5\nwavSr=44100\n");
  f.Open();
  QCOMPARE(f.form->Core->Settings.threadPrioriry, 9);
  QVERIFY(f.form->Core->Settings.asInput);
  f.form->close();
  QCOMPARE(f.Key("threadPrioriry"), std::string("9"));
  QCOMPARE(f.Key("asInput"), std::string("1"));
  QCOMPARE(f.Key("wavSr"), std::string("44100"));
}

void TWindowTest::droppingReplacesAndAddingAppends() {
  TWindowFixture f;
  const auto a = f.dir / "in" / "a.wav";
  const auto b = f.dir / "in" / "B.WAV";
  WriteSineWav(a, 8000, 1, 8, 8000);
  WriteSineWav(b, 8000, 1, 8, 8000);
  WriteText(f.dir / "in" / "notes.txt", "x");
  f.Open();
  f.form->ChooseFiles = [&] { return Urls({a, b, f.dir / "in" / "notes.txt"}); };
  f.form->MAddFilesClick();
  f.form->MAddFilesClick();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 4);
  QCOMPARE(f.Cell(1, 0), QString("B.WAV"));
  QCOMPARE(f.Cell(3, 4), QString::fromStdString(b.string()));
  QCOMPARE(f.form->Core->Driver.RunMode, std::string("convert"));

  f.form->StDropFiles1DropFiles(Urls({a}));
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 1);
  f.form->StDropFiles1DropFiles({});  // nothing dropped: the list stays
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 1);
  QVERIFY(f.errors.isEmpty());
}

void TWindowTest::rowsShowLengthRateAndBits() {
  TWindowFixture f;
  // Low rates keep the long files small; the length is what matters.
  WriteSineWav(f.dir / "in" / "1.wav", 1000, 1, 8, 185 * 1000, 100);
  WriteSineWav(f.dir / "in" / "2.wav", 1000, 1, 8, 3725 * 1000, 100);
  WriteSineWav(f.dir / "in" / "3.wav", 44100, 2, 16, 7 * 44100);
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "in" / "1.wav", f.dir / "in" / "2.wav", f.dir / "in" / "3.wav"}));
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 3);
  QCOMPARE(f.Cell(0, 1), QString("3:05"));
  QCOMPARE(f.Cell(1, 1), QString("62:05"));
  QCOMPARE(f.Cell(2, 1), QString("0:07"));
  QCOMPARE(f.Cell(0, 2), QString("1000 Hz"));
  QCOMPARE(f.Cell(2, 2), QString("44100 Hz"));
  QCOMPARE(f.Cell(0, 3), QString("8 bps"));
  QCOMPARE(f.Cell(2, 3), QString("16 bps"));
  QVERIFY(f.Checked(0));
  QVERIFY(f.form->ListView1->topLevelItem(0)->icon(0).isNull());
}

void TWindowTest::addFolderListsTheTreeAndStoresTheFolder() {
  TWindowFixture f;
  WriteSineWav(f.dir / "music" / "top.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "music" / "sub" / "deep.wav", 8000, 1, 8, 800);
  WriteText(f.settings, "[Options]\nsubdirs=0\n");
  f.Open();
  // A dropped folder with "subdirs" off lists only what is directly inside.
  f.form->StDropFiles1DropFiles(Urls({f.dir / "music"}));
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 1);
  // Add Folder always takes the whole tree, and appends.
  f.form->ChooseFolder = [&] { return Url(f.dir / "music"); };
  f.form->MAddFolderClick();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 3);
  QCOMPARE(f.form->Core->Settings.OutputDir, (f.dir / "music").string() + "/");
  f.form->ChooseFolder = [] { return QUrl(); };  // cancelled
  f.form->MAddFolderClick();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 3);
}

void TWindowTest::deleteAndCheckCommands() {
  TWindowFixture f;
  const auto a = f.dir / "a.wav";
  WriteSineWav(a, 8000, 1, 8, 800);
  f.Open(f.dir / "no-language-files");
  f.form->StDropFiles1DropFiles(Urls({a, a, a}));
  f.form->MDeleteClick();  // nothing selected
  QCOMPARE(f.messages, QStringList{QString()});  // no language file supplies the text
  f.form->ListView1->topLevelItem(0)->setSelected(true);
  f.form->ListView1->topLevelItem(2)->setSelected(true);
  f.form->MDeleteClick();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 1);
  QCOMPARE(f.form->Core->Files.Count(), 1);
  f.form->MUncheckAllClick();
  QVERIFY(!f.Checked(0));
  QVERIFY(!f.form->Core->Files.Row(0).Checked);
  // The user's own click on the check box reaches the list.
  f.form->ListView1->topLevelItem(0)->setCheckState(0, Qt::Checked);
  QVERIFY(f.form->Core->Files.Row(0).Checked);
  f.form->MClearClick();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 0);
}

void TWindowTest::toolbarDoesNothingBeforeAnyRunMode() {
  TWindowFixture f;
  f.Open();
  QCOMPARE(f.form->Core->Driver.RunMode, std::string());
  f.form->tbConvert->trigger();
  f.form->tbPause->trigger();
  f.form->tbStop->trigger();
  QCOMPARE(f.form->Core->Driver.RunMode, std::string());
  QVERIFY(!f.form->Core->Driver.Running);
  QVERIFY(f.errors.isEmpty());
}

void TWindowTest::allRowsUncheckedEndsTheRunAtOnce() {
  TWindowFixture f;
  const auto a = f.dir / "a.wav";
  WriteSineWav(a, 8000, 1, 8, 800);
  f.Open();
  f.form->show();
  f.form->StDropFiles1DropFiles(Urls({a, a}));
  f.form->MUncheckAllClick();
  f.form->MStartClick();
  QVERIFY(!f.form->Core->Driver.Running);
  QVERIFY(f.form->PanelProgress->isHidden());
  QCOMPARE(f.form->AppTitle, QString("Quellmark Audio Converter 1.1"));
  QCOMPARE(f.form->StatusBar1->text(), QString());
  QVERIFY(!std::filesystem::exists(f.dir / "a.wav.wav"));
}

void TWindowTest::startConvertsCheckedRowsWithTheWavSettings() {
  QM_QT_REQUIRE_TOOLS("ffprobe");
  TWindowFixture f;
  WriteSineWav(f.dir / "in" / "one.wav", 44100, 2, 16, 44100);
  WriteSineWav(f.dir / "in" / "Two.WAV", 8000, 1, 8, 8000);
  WriteSineWav(f.dir / "in" / "skip.wav", 8000, 1, 8, 8000);
  WriteText(f.settings, "[Options]\nwavSr=16000\nwavCh=2\nwavBps=16\n");
  f.Open();
  f.form->show();
  f.form->StDropFiles1DropFiles(
      Urls({f.dir / "in" / "one.wav", f.dir / "in" / "skip.wav", f.dir / "in" / "Two.WAV"}));
  f.form->ListView1->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  f.form->MStartClick();
  QVERIFY(f.form->Core->Driver.Running);
  QCOMPARE(f.Image(0), TRowImage::InProgress);
  QVERIFY(f.form->PanelProgress->isVisible());
  QVERIFY(f.WaitForRunEnd());
  QVERIFY2(f.errors.isEmpty(), qPrintable(f.errors.join("\n")));
  QCOMPARE(f.Image(0), TRowImage::Done);
  QCOMPARE(f.Image(1), TRowImage::None);
  QCOMPARE(f.Image(2), TRowImage::Done);
  QVERIFY(!f.Checked(0));
  QVERIFY(!f.Checked(2));
  QVERIFY(f.form->PanelProgress->isHidden());
  QCOMPARE(f.form->AppTitle, QString("Quellmark Audio Converter 1.1"));
  QCOMPARE(f.form->Gauge1->value(), 0);
  QCOMPARE(ProbeStream(f.dir / "in" / "one.wav.wav"), std::string("pcm_s16le|16000|2|16"));
  QCOMPARE(ProbeStream(f.dir / "in" / "Two.wav.wav"), std::string("pcm_s16le|16000|2|16"));
  QVERIFY(!std::filesystem::exists(f.dir / "in" / "skip.wav.wav"));
  QVERIFY(std::filesystem::exists(f.dir / "in" / "one.wav"));
}

void TWindowTest::startConvertsToMp3AtTheBitrateSetting() {
  QM_QT_REQUIRE_TOOLS("ffprobe");
  TWindowFixture f;
  WriteSineWav(f.dir / "in" / "song.wav", 44100, 2, 16, 44100);
  WriteText(f.settings, "[Options]\noutputType=1\nBitrate=96\n");
  f.Open();
  f.form->show();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "in" / "song.wav"}));
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QVERIFY2(f.errors.isEmpty(), qPrintable(f.errors.join("\n")));
  QCOMPARE(f.Image(0), TRowImage::Done);
  const std::string probe = RunShell(
      "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of csv=p=0:s='|' " +
      Quote((f.dir / "in" / "song.mp3").string())).Out;
  QCOMPARE(probe, std::string("mp3|44100|2|96000\n"));
}

void TWindowTest::threeRowsAtOnceShowTheRunAndEachRow() {
  TWindowFixture f;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) WriteSineWav(f.dir / name, 44100, 2, 16, 44100 * 20);
  WriteSineWav(f.dir / "d.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->Core->Settings.jobs = 3;
  f.form->StDropFiles1DropFiles(Urls({f.dir / "a.wav", f.dir / "b.wav", f.dir / "c.wav", f.dir / "d.wav"}));
  TConversionDriver& d = f.form->Core->Driver;
  f.form->MStart->trigger();
  QCOMPARE(d.RunningRows(), 3);
  f.form->MPause->trigger();
  // No events are processed until the run is waited for, so all three are
  // still running rows here: each reports its own percentage in its cells,
  // and the status bar names every running row.
  d.Progress(f.form->Core->Routing.SinkFor(0)->Sink);
  d.Progress(d.CurrentOutput);
  QVERIFY(f.Cell(0, 1).startsWith("0:20 · "));
  QVERIFY(f.Cell(0, 1).endsWith("%"));
  QVERIFY(f.Cell(2, 1).endsWith("%"));
  QCOMPARE(f.Cell(3, 1), QString("0:00"));
  QCOMPARE(f.form->StatusBar1->text(), QString("Converting: a.wav, b.wav, c.wav"));
  QVERIFY(f.form->AppTitle.endsWith("% - c.wav"));
  f.form->MStart->trigger();  // resumes all three
  QVERIFY(f.WaitForRunEnd());
  for (int row = 0; row < 4; ++row) {
    QCOMPARE(f.Image(row), TRowImage::Done);
    QVERIFY(!f.Checked(row));
  }
  QCOMPARE(f.Cell(0, 1), QString("0:20"));
  QCOMPARE(f.form->StatusBar1->text(), QString());
  QVERIFY(!f.form->PanelProgress->isVisible());
}

void TWindowTest::pauseTwiceThenStopAndStartAgain() {
  QM_QT_REQUIRE_TOOLS("ffprobe");
  TWindowFixture f;
  WriteSineWav(f.dir / "a.wav", 44100, 2, 16, 44100 * 20);
  WriteSineWav(f.dir / "b.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "a.wav", f.dir / "b.wav"}));
  TConversionDriver& d = f.form->Core->Driver;
  d.MStopClick();  // idle: nothing
  QVERIFY(!d.Running);

  // No events are processed between these calls, so the first row cannot
  // have ended in between, however fast the machine.
  f.form->MStart->trigger();
  QVERIFY(d.Running);
  f.form->MPause->trigger();
  QVERIFY(d.RunPaused);
  f.form->MPause->trigger();
  QVERIFY(d.RunPaused);
  QVERIFY(d.Running);
  f.form->MStart->trigger();  // resumes
  QVERIFY(!d.RunPaused);
  QVERIFY(d.Running);
  d.Progress(d.CurrentOutput);
  QCOMPARE(f.form->StatusBar1->text(), QString("Converting: a.wav"));
  QVERIFY(f.form->AppTitle.endsWith("% - a.wav"));
  const QString progressTitle = f.form->AppTitle;
  f.form->MStop->trigger();
  QCOMPARE(f.form->AppTitle, progressTitle);  // Stop leaves the last progress text
  QVERIFY(!d.Running);
  QCOMPARE(f.Image(0), TRowImage::None);
  QVERIFY(f.Checked(0));
  QVERIFY(f.Checked(1));
  QVERIFY(f.form->PanelProgress->isHidden());
  QCOMPARE(f.form->StatusBar1->text(), QString());
  // No OnDone of the stopped row may arrive: events are served for a while
  // and the row must stay as it is.
  QVERIFY(!QTest::qWaitFor([&] { return f.Image(0) != TRowImage::None; }, 50));
  QCOMPARE(f.Image(0), TRowImage::None);
  QVERIFY(!d.Running);

  f.form->MStart->trigger();
  QCOMPARE(d.CurrentIndex, 0);
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Done);
  QCOMPARE(f.Image(1), TRowImage::Done);
  QCOMPARE(ProbeStream(f.dir / "a.wav.wav"), std::string("pcm_u8|22050|1|8"));
}

void TWindowTest::vanishedSourceFailsItsRowAndTheRunGoesOn() {
  TWindowFixture f;
  WriteSineWav(f.dir / "gone.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "here.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "gone.wav", f.dir / "here.wav"}));
  std::filesystem::remove(f.dir / "gone.wav");
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Failed);
  QVERIFY(f.Checked(0));  // a later Start tries it again
  QVERIFY(!f.form->ListView1->topLevelItem(0)->toolTip(0).isEmpty());
  QCOMPARE(f.Image(1), TRowImage::Done);
  QVERIFY(std::filesystem::exists(f.dir / "here.wav.wav"));
  QVERIFY(f.errors.isEmpty());  // worker errors are shown on the row, not in a box

  // Once the file is back, the next Start converts the failed row only.
  WriteSineWav(f.dir / "gone.wav", 8000, 1, 8, 800);
  std::filesystem::remove(f.dir / "here.wav.wav");
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Done);
  // The tool tip names the file the row was written to.
  QCOMPARE(f.form->ListView1->topLevelItem(0)->toolTip(0).toStdString(),
           FormatMessage(kFmtOutputWritten, {(f.dir / "gone.wav.wav").string()}));
  QVERIFY(std::filesystem::exists(f.dir / "gone.wav.wav"));
  QVERIFY(!std::filesystem::exists(f.dir / "here.wav.wav"));
}

void TWindowTest::failedRowKeepsItsSourceWithDeleteSource() {
  TWindowFixture f;
  WriteSineWav(f.dir / "keep.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "other" / "go.wav", 8000, 1, 8, 800);
  f.Open();
  TSettings& s = f.form->Core->Settings;
  s.deleteSource = true;
  s.asInput = false;
  s.OutputDir = (f.dir / "no-such-folder").string();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "keep.wav"}));
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Failed);
  QVERIFY(std::filesystem::exists(f.dir / "keep.wav"));

  // A row that succeeds does delete its source.
  s.asInput = true;
  f.form->StDropFiles1DropFiles(Urls({f.dir / "other" / "go.wav"}));
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Done);
  QVERIFY(!std::filesystem::exists(f.dir / "other" / "go.wav"));
  QVERIFY(std::filesystem::exists(f.dir / "other" / "go.wav.wav"));
}

void TWindowTest::existingOutputKeepsBothOrSkipsTheRow() {
  TWindowFixture f;
  WriteSineWav(f.dir / "a.wav", 8000, 1, 8, 800);
  WriteText(f.dir / "a.wav.wav", "the user's own file");
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "a.wav"}));
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Done);
  QCOMPARE(f.form->ListView1->topLevelItem(0)->toolTip(0).toStdString(),
           FormatMessage(kFmtOutputWritten, {(f.dir / "a.wav (2).wav").string()}));
  QCOMPARE(ReadText(f.dir / "a.wav.wav"), std::string("the user's own file"));

  f.form->Core->Settings.existingOutput = 2;
  f.form->Core->Files.SetAllChecked(true);
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Skipped);
  QCOMPARE(f.form->ListView1->topLevelItem(0)->toolTip(0).toStdString(),
           FormatMessage(kFmtOutputExists, {(f.dir / "a.wav.wav").string()}));
  QCOMPARE(ReadText(f.dir / "a.wav.wav"), std::string("the user's own file"));
  QVERIFY(!std::filesystem::exists(f.dir / "a.wav (3).wav"));
  QVERIFY(f.errors.isEmpty());
}

void TWindowTest::settingsDialogLoadsAndStores() {
  TWindowFixture f;
  WriteText(f.settings, "[Options]\noggQuality=0\nBitrate=112\nasInput=1\n");
  f.Open();
  TFormSettings& d = *f.form->FormSettings;
  f.form->MSettingsClick();
  d.FormShow();
  QCOMPARE(d.SpinEditOggQuality->value(), 1);
  QCOMPARE(d.ComboBoxBitrate->currentIndex(), -1);
  QVERIFY(!d.EditOutput->isEnabled());
  QVERIFY(!d.ButtonSelectDir->isEnabled());
  d.CheckBoxOutputSame->click();
  QVERIFY(d.EditOutput->isEnabled());
  QVERIFY(d.ButtonSelectDir->isEnabled());
  d.CheckBoxDeleteSource->click();  // the same rule, the same result
  QVERIFY(d.EditOutput->isEnabled());
  d.EditOutput->setText("/tmp/out");
  d.ComboBoxConvertTo->setCurrentIndex(0);
  QCOMPARE(d.ComboBoxExistingOutput->currentIndex(), 0);
  d.ComboBoxExistingOutput->setCurrentIndex(2);
  d.ButtonCloseClick();
  const TSettings& s = f.form->Core->Settings;
  QCOMPARE(s.existingOutput, 2);
  QCOMPARE(s.oggQuality, 1);
  QCOMPARE(s.Bitrate, std::string());  // 112 is no item: nothing was selected
  QVERIFY(!s.asInput);
  QVERIFY(s.deleteSource);
  QCOMPARE(s.OutputDir, std::string("/tmp/out"));

  // Closing by the title bar discards the changes.
  d.FormShow();
  d.SpinEditChannels->setValue(2);
  d.reject();
  QCOMPARE(s.wavCh, 1);
  d.FormShow();
  d.ComboBoxBitrate->setCurrentIndex(d.ComboBoxBitrate->findText("192"));
  d.ButtonCloseClick();
  QCOMPARE(s.Bitrate, std::string("192"));
}

void TWindowTest::settingsDialogRejectsANonIntegerSampleRate() {
  TWindowFixture f;
  f.Open();
  TFormSettings& d = *f.form->FormSettings;
  QStringList errors;
  d.ErrorBox = [&](const QString& s) { errors << s; };
  d.show();
  d.ComboBoxConvertTo->setCurrentIndex(2);
  d.EditSr->setText("44k");
  d.SpinEditBps->setValue(16);
  d.ButtonCloseClick();
  QCOMPARE(errors, QStringList{"'44k' is not a valid integer value"});
  QVERIFY(d.isVisible());
  const TSettings& s = f.form->Core->Settings;
  QCOMPARE(s.outputType, 2);  // stored before the sample rate
  QCOMPARE(s.wavSr, 22050);
  QCOMPARE(s.wavBps, 8);  // after it: not stored
  d.EditSr->setText("48000");
  d.ButtonCloseClick();
  QVERIFY(!d.isVisible());
  QCOMPARE(s.wavSr, 48000);
  QCOMPARE(s.wavBps, 16);
}

void TWindowTest::settingsDialogRejectsASampleRateOutsideTheEngineRange() {
  TWindowFixture f;
  f.Open();
  TFormSettings& d = *f.form->FormSettings;
  QStringList errors;
  d.ErrorBox = [&](const QString& s) { errors << s; };
  d.show();
  for (const char* text : {"-1", "0", "768001"}) {
    d.EditSr->setText(text);
    d.ButtonCloseClick();
    QVERIFY(d.isVisible());
  }
  QCOMPARE(errors, (QStringList{"'-1' is not a valid integer value", "'0' is not a valid integer value",
                                "'768001' is not a valid integer value"}));
  const TSettings& s = f.form->Core->Settings;
  QCOMPARE(s.wavSr, 22050);
  d.EditSr->setText("768000");
  d.ButtonCloseClick();
  QVERIFY(!d.isVisible());
  QCOMPARE(s.wavSr, 768000);
}

void TWindowTest::missingLanguageFileChangesNothing() {
  TWindowFixture f;
  WriteText(f.settings, "[Options]\nLanguage=Klingon\n");
  f.Open();
  QCOMPARE(f.form->MFile->title(), QString("&File"));
  QCOMPARE(f.form->tbConvert->toolTip(), QString("Start converting"));
  QVERIFY(!f.form->MLangEnglish->isChecked());
  QVERIFY(!f.form->MLangRussian->isChecked());
  QCOMPARE(f.form->Core->Language.Text("StringConverting"), std::string());
  f.form->close();
  QCOMPARE(f.Key("Language"), std::string("Klingon"));
}

void TWindowTest::switchingLanguages() {
  TWindowFixture f;
  f.Open();
  f.form->MLangRussianClick();
  QVERIFY(f.form->MLangRussian->isChecked());
  QVERIFY(!f.form->MLangEnglish->isChecked());
  QCOMPARE(f.form->MFile->title(), QString::fromUtf8("&Файл"));
  QCOMPARE(f.form->ListView1->headerItem()->text(0), QString::fromUtf8("Имя файла"));
  QCOMPARE(f.form->FormSettings->windowTitle(), QString::fromUtf8("Параметры"));
  QCOMPARE(f.form->FormSettings->ComboBoxPriority->itemText(3), QString::fromUtf8("Обычный"));
  QCOMPARE(f.form->FormAbout->windowTitle(), QString::fromUtf8("О программе"));
  f.form->MLangRussianClick();  // applying it again gives the same texts
  QCOMPARE(f.form->MFile->title(), QString::fromUtf8("&Файл"));
  f.form->MDeleteClick();
  QCOMPARE(f.messages.last(), QString::fromUtf8("Сначала выберите файлы для удаления."));
  f.form->MLangEnglishClick();
  QCOMPARE(f.form->ListView1->headerItem()->text(0), QString("Filename"));
  QCOMPARE(f.form->FormSettings->ComboBoxPriority->itemText(3), QString("Normal"));
  QVERIFY(f.form->MLangEnglish->isChecked());
  f.form->close();
  QCOMPARE(f.Key("Language"), std::string("English"));
}

void TWindowTest::probeLinesOfTheCommandLineMatchTheRows() {
  TWindowFixture f;
  WriteSineWav(f.dir / "set" / "a.wav", 44100, 2, 16, 44100 * 3);
  WriteSineWav(f.dir / "set" / "b.WAV", 8000, 1, 8, 8000 * 65);
  WriteSineWav(f.dir / "set" / "sub" / "c.wav", 22050, 1, 24, 22050);
  WriteText(f.dir / "set" / "readme.txt", "x");
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "set"}));
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 3);
  QStringList rows;
  for (int i = 0; i < 3; ++i) {
    QStringList cells;
    for (int c = 0; c < 5; ++c) cells << f.Cell(i, c);
    rows << cells.join('\t');
  }
  const std::string cli = QCoreApplication::applicationDirPath().toStdString() + "/quellmark-cli";
  const TRunResult run = RunShell(Quote(cli) + " --probe " + Quote((f.dir / "set").string()));
  const std::string& out = run.Out;
  QCOMPARE(run.Status, 0);
  QCOMPARE(QString::fromStdString(out).split('\n', Qt::SkipEmptyParts), rows);
}

void TWindowTest::lastRowsUncheckedLeaveTheEmptyPanelVisible() {
  TWindowFixture f;
  WriteSineWav(f.dir / "a.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->show();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "a.wav", f.dir / "a.wav"}));
  f.form->ListView1->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Done);
  // The run ended on an unchecked row, not by a row's end: the empty gauge
  // stays until a later run ends otherwise.
  QVERIFY(f.form->PanelProgress->isVisible());
  QCOMPARE(f.form->Gauge1->value(), 0);
  QCOMPARE(f.form->AppTitle, QString("Quellmark Audio Converter 1.1"));
}

void TWindowTest::unwritableSettingsFileIsReportedAndTheWindowCloses() {
  TWindowFixture f;
  f.settings = f.dir / "no-such-folder" / "quellmark.ini";
  f.Open();
  f.form->show();
  QVERIFY(f.form->close());
  QCOMPARE(f.errors, QStringList{QString::fromStdString("Unable to write to " + f.settings.string())});
  QVERIFY(!f.form->isVisible());
}

void TWindowTest::folderBrowseEditFollowsTheHighlightedFolder() {
  TWindowFixture f;
  std::filesystem::create_directories(f.dir / "start" / "picked");
  f.Open();
  TFormSettings& d = *f.form->FormSettings;
  d.show();
  d.CheckBoxOutputSame->setChecked(false);
  d.EditOutput->setText(QString::fromStdString((f.dir / "start").string()));
  QTimer::singleShot(0, &d, [&] {
    QVERIFY(d.FolderBrowse != nullptr);
    // What the dialog reports when the user highlights a folder.
    emit d.FolderBrowse->currentChanged(QString::fromStdString((f.dir / "start" / "picked").string()));
    d.FolderBrowse->reject();
  });
  d.ButtonSelectDirClick();
  QCOMPARE(d.EditOutput->text(), QString::fromStdString((f.dir / "start" / "picked").string()));
  QVERIFY(d.FolderBrowse == nullptr);
}

void TWindowTest::filesDroppedOnTheListReplaceIt() {
  TWindowFixture f;
  WriteSineWav(f.dir / "a.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "d" / "b.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->show();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "a.wav", f.dir / "a.wav"}));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((f.dir / "d").string())),
                QUrl::fromLocalFile(QString::fromStdString((f.dir / "a.wav").string()))});
  QWidget* target = f.form->ListView1->viewport();
  const QPointF at(10, 10);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 2);
  QCOMPARE(f.Cell(0, 0), QString("b.wav"));
  QCOMPARE(f.Cell(1, 0), QString("a.wav"));
}

void TWindowTest::addingFilesDuringARunLeavesTheRunningRowAlone() {
  TWindowFixture f;
  WriteSineWav(f.dir / "long.wav", 44100, 2, 16, 44100 * 20);
  WriteSineWav(f.dir / "late.wav", 8000, 1, 8, 8000);
  WriteText(f.settings, "[Options]\nwavSr=44100\nwavCh=2\nwavBps=16\n");
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "long.wav"}));
  f.form->MStartClick();
  // Probing the new file must not touch the source that is converting.
  f.form->ChooseFiles = [&] { return Urls({f.dir / "late.wav", f.dir / "long.wav"}); };
  f.form->MAddFilesClick();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 3);
  QCOMPARE(f.Cell(1, 1), QString("0:01"));
  QCOMPARE(f.Cell(2, 1), QString("0:20"));
  QVERIFY(f.WaitForRunEnd());
  QVERIFY2(f.errors.isEmpty(), qPrintable(f.errors.join("\n")));
  QCOMPARE(f.Image(0), TRowImage::Done);
  QCOMPARE(f.Image(1), TRowImage::Done);
  QCOMPARE(f.Image(2), TRowImage::Done);
  // The whole of the first file was converted: 20 s of 16-bit stereo.
  QCOMPARE(std::filesystem::file_size(f.dir / "long.wav.wav"), std::uintmax_t(44 + 44100 * 20 * 4));
}

void TWindowTest::formatListsComeFromTheCatalog() {
  TWindowFixture f;
  f.Open();
  TFormSettings& d = *f.form->FormSettings;
  QStringList names;
  QStringList filter{"All Supported Files (*.wav *.WAV *.mp3 *.MP3 *.ogg *.OGG *.wma *.WMA *.ape *.APE *.flac *.FLAC "};
  for (const TFormatDescriptor* format : format_catalog::All()) {
    // Only the formats written are offered as a target.
    if (format->OutputType >= 0) names << QString::fromStdString(format->Name);
    for (const TFormatSetting& s : format->Settings) {
      QVERIFY2(d.findChild<QWidget*>(QString::fromStdString(s.ControlName)) != nullptr, s.Key.c_str());
    }
  }
  QStringList items;
  for (int i = 0; i < d.ComboBoxConvertTo->count(); ++i) items << d.ComboBoxConvertTo->itemText(i);
  QCOMPARE(items, names);
  const QString openFilter = f.form->OpenDialogFilter();
  QVERIFY2(openFilter.startsWith(filter[0]), qPrintable(openFilter));
  QVERIFY2(openFilter.contains(";;WAV Files (*.wav *.WAV);;MP3 Files (*.mp3 *.MP3);;"), qPrintable(openFilter));
  // One entry for each format that is read (some are only written).
  const auto read = std::count_if(format_catalog::All().begin(), format_catalog::All().end(),
                                  [](const TFormatDescriptor* format) { return !format->InputExtensions.empty(); });
  QCOMPARE(openFilter.count(";;"), static_cast<qsizetype>(read));
  // The format settings sit in their groups, under their interface texts.
  QCOMPARE(d.SpinEditChannels->parentWidget(), static_cast<QWidget*>(d.GroupBoxWav));
  QCOMPARE(d.ComboBoxBitrate->parentWidget(), static_cast<QWidget*>(d.GroupBoxConverting));
  QCOMPARE(d.LabelApeCompression->text(), QString("Ape Compression:"));
  f.form->MLangRussianClick();
  QCOMPARE(d.GroupBoxWav->title(), QString(" Файл WAV "));
}

void TWindowTest::aboutBoxOpensItsSite() {
  TWindowFixture f;
  f.Open();
  f.form->MAboutClick();
  TFormAbout& about = *f.form->FormAbout;
  QCOMPARE(about.windowTitle(), QString("About Program"));
  QCOMPARE(about.LabelTitle->text(), QString("Quellmark Audio Converter 1.1"));
  QCOMPARE(about.LabelAbout->text(), QString("convert audio files, grab audio from cd"));
  QCOMPARE(about.LabelSite->cursor().shape(), Qt::PointingHandCursor);
  QDesktopServices::setUrlHandler("https", this, "OpenUrl");
  about.show();
  QTest::mouseClick(about.LabelSite, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("https");
  QCOMPARE(openedUrls, QList<QUrl>{QUrl(about.LabelSite->text())});
}

void TWindowTest::deletingRowsDuringARunKeepsTrackOfTheConvertingRow() {
  TWindowFixture f;
  WriteSineWav(f.dir / "skipped.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "long.wav", 44100, 2, 16, 44100 * 10);
  WriteSineWav(f.dir / "next.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "skipped.wav", f.dir / "long.wav", f.dir / "next.wav"}));
  f.form->ListView1->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  f.form->MStartClick();
  QCOMPARE(f.form->Core->Driver.CurrentIndex, 1);
  f.form->ListView1->topLevelItem(0)->setSelected(true);
  f.form->MDeleteClick();  // a row above the converting one goes away
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.form->Core->Files.Row(0).Caption, std::string("long.wav"));
  QCOMPARE(f.Image(0), TRowImage::Done);
  QCOMPARE(f.Image(1), TRowImage::Done);
  QVERIFY(std::filesystem::exists(f.dir / "next.wav.wav"));

  // The converting row itself deleted: nothing is marked for it, and the run
  // goes on with the row that took its place.
  f.form->StDropFiles1DropFiles(Urls({f.dir / "long.wav", f.dir / "next.wav"}));
  std::filesystem::remove(f.dir / "next.wav.wav");
  f.form->MStartClick();
  f.form->ListView1->topLevelItem(0)->setSelected(true);
  f.form->MDeleteClick();
  f.form->Core->Driver.Progress(f.form->Core->Driver.CurrentOutput);
  f.form->Core->Driver.Progress(f.form->Core->Driver.CurrentOutput);
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.form->Core->Files.Count(), 1);
  QCOMPARE(f.Image(0), TRowImage::Done);
  QVERIFY(std::filesystem::exists(f.dir / "next.wav.wav"));
}

void TWindowTest::namesThatAreNotUtf8AreKeptWhenPickedOrDropped() {
  QM_QT_REQUIRE_TOOLS("ffprobe");
  TWindowFixture f;
  // Latin-1 bytes, as older systems and archives still name files.
  const std::filesystem::path picked = f.dir / "in" / "caf\xe9 \xff.wav";
  const std::filesystem::path folder = f.dir / "d\xfcr";
  WriteSineWav(picked, 8000, 1, 8, 800);
  WriteSineWav(folder / "inside.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->ChooseFiles = [&] { return Urls({picked}); };
  f.form->MAddFilesClick();
  QVERIFY2(f.errors.isEmpty(), qPrintable(f.errors.join("\n")));
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 1);
  QCOMPARE(f.form->Core->Files.Row(0).Path, picked.string());

  // Dropped on the list: the drop event carries the URL.
  QMimeData mime;
  mime.setUrls({Url(picked)});
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.form->ListView1->viewport(), &drop);
  QVERIFY2(f.errors.isEmpty(), qPrintable(f.errors.join("\n")));
  QCOMPARE(f.form->Core->Files.Count(), 1);
  QCOMPARE(f.form->Core->Files.Row(0).Path, picked.string());

  f.form->ChooseFolder = [&] { return Url(folder); };
  f.form->MAddFolderClick();
  QCOMPARE(f.form->Core->Settings.OutputDir, folder.string() + "/");
  QCOMPARE(f.form->Core->Files.Count(), 2);

  f.form->Core->Settings.asInput = true;
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Done);
  QCOMPARE(f.Image(1), TRowImage::Done);
  QCOMPARE(ProbeStream(picked.string() + ".wav"), std::string("pcm_u8|22050|1|8"));
  QVERIFY(std::filesystem::exists(folder / "inside.wav.wav"));
}

void TWindowTest::pathsThatCannotBeListedAreShownOnceTheAddIsOver() {
  TWindowFixture f;
  WriteSineWav(f.dir / "a.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "b.wav", 8000, 1, 8, 800);
  TFifoGuard fifo(f.dir / "pipe.wav");
  f.Open();
  f.form->ChooseFiles = [&] { return Urls({f.dir / "a.wav", f.dir / "missing.wav", f.dir / "pipe.wav", f.dir / "b.wav"}); };
  f.form->MAddFilesClick();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 2);
  QCOMPARE(f.Cell(1, 0), QString("b.wav"));
  // One box, once, naming each path.
  QCOMPARE(f.errors, QStringList{QString::fromStdString((f.dir / "missing.wav").string() +
                                                        ": No such file or directory\n" +
                                                        (f.dir / "pipe.wav").string() + ": Not a regular file")});
  QCOMPARE(fifo.Readers(), 0);
}

QTEST_MAIN(TWindowTest)
#include "window_test.moc"
