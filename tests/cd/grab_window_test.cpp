// The main window's CD commands over disc images (offscreen): Get Tracks and
// the list's popup menu, the settings dialog's drive list, a grab stopped
// while its source is held, the tray of an image, a machine without drives,
// and the CD player on the popup and a double-click (played into a file).
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

#include "app/settings_dialog.h"
#include "converters/audio_converter.h"
#include "converters/fast_resampler.h"
#include "tests/app/window_fixture.h"
#include "tests/cd/cd_test_support.h"

namespace {

const cdtest::TConfigHome& g_home = cdtest::ConfigHome();

}  // namespace

class TGrabWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void getTracksFillsTheListAndGivesThePopupBack();
  void theDriveListHoldsTheDrivesAndChoosingOneListsItsTracks();
  void grabStopReturnsAtOnceAndNoFurtherRowStarts();
  void anImageOnTheCommandLineIsListedAndEjectDoesNothing();
  void withoutAnyDriveEveryCommandAnswers();
  void thePopupPlaysPausesAndStopsTheSelectedTrack();
  void grabStartStopsATrackUnderWay();
  void aDoubleClickWithoutTheDiscShowsTheError();
  void theSettingsDialogKeepsTheAudioDevice();
};

namespace {

void UseWavOutput(TWindowFixture& f) {
  TSettings& s = f.form->Core->Settings;
  s.OutputDir = (f.dir / "out").string();
  std::filesystem::create_directories(s.OutputDir);
  s.outputType = 0;
  s.SetByName("wavSr", "44100");
  s.SetByName("wavCh", "2");
  s.SetByName("wavBps", "16");
}

// Lists the image's tracks and points the player at an ALSA device that
// plays into a file; the file.
std::filesystem::path ListForPlaying(TWindowFixture& f, const cdtest::TDiscImage& disc) {
  const std::filesystem::path played = cdtest::UseFileAudioDevice(f.dir.Path());
  f.form->Core->Settings.audioDevice = cdtest::kFileAudioDevice;
  if (!f.form->Core->Grab.UseDrive(disc.Cue.string())) return {};
  f.form->MGetTracks->trigger();
  return played;
}

void DoubleClickRow(TWindowFixture& f, int row) {
  QTreeWidgetItem* item = f.form->ListView1->topLevelItem(row);
  f.form->ListView1->setCurrentItem(item);
  const QPoint at = f.form->ListView1->visualItemRect(item).center();
  // As the mouse does it: a click, then the second press as a double-click.
  QTest::mouseClick(f.form->ListView1->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(f.form->ListView1->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

constexpr int64_t kBlockFrames = TCDPlayer::kBlockSectors * CR_SECTOR_BYTES / 4;

}  // namespace

void TGrabWindowTest::getTracksFillsTheListAndGivesThePopupBack() {
  TWindowFixture f;
  f.Open();
  qmtest::WriteSineWav(f.dir / "a.wav", 44100, 2, 16, 4410);
  f.form->OpenPaths({(f.dir / "a.wav").string()});
  QVERIFY(!f.form->ListPopupEnabled());
  const cdtest::TDiscImage disc = cdtest::MakeDisc(f.dir.Path());
  QVERIFY(f.form->Core->Grab.UseDrive(disc.Cue.string()));
  f.form->MGetTracks->trigger();
  QCOMPARE(f.errors, QStringList());
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 4);
  QCOMPARE(f.Cell(0, 0), QString("01 - Track Title 1"));
  QCOMPARE(f.Cell(1, 0), QString::fromUtf8("02 - Zweite Stra\xC3\x9F" "e"));
  QCOMPARE(f.Cell(3, 0), QString("Track 04"));
  QCOMPARE(f.Cell(1, 1), QString("0:05"));
  QCOMPARE(f.Cell(2, 2), QString("44100 Hz"));
  QCOMPARE(f.Cell(2, 3), QString("16 bps"));
  QVERIFY(f.Checked(0));
  QVERIFY(!f.Checked(3));
  QVERIFY(f.form->ListPopupEnabled());

  // The toolbar's Convert now grabs: track 3 alone.
  UseWavOutput(f);
  f.form->MUncheckAll->trigger();
  f.form->ListView1->topLevelItem(2)->setCheckState(0, Qt::Checked);
  f.form->tbConvert->trigger();
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(2), TRowImage::Done);
  const auto out = f.dir / "out" / "03 - Track Title 3.wav";
  QVERIFY(qmtest::FfmpegDecode(out, "s16le") == disc.Tracks[2]);
  QCOMPARE(f.form->SelectedTrack, 3);
  QCOMPARE(f.form->StatusBar1->text(), QString());
}

void TGrabWindowTest::theDriveListHoldsTheDrivesAndChoosingOneListsItsTracks() {
  TWindowFixture f;
  f.Open();
  const cdtest::TDiscImage first = cdtest::MakeDisc(f.dir.Path());
  cdtest::TDiscLayout layout;
  layout.Name = "second";
  layout.TrackSectors = {100, 100, 100, 100, 100};
  layout.CdText = false;
  const cdtest::TDiscImage second = cdtest::MakeDisc(f.dir.Path(), layout);
  TGrabDriver& grab = f.form->Core->Grab;
  QVERIFY(grab.UseDrive(second.Cue.string()));
  const int secondIndex = f.form->Core->Settings.driveType;
  QVERIFY(grab.UseDrive(first.Cue.string()));
  f.form->MGetTracks->trigger();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 4);

  bool shown = false;
  f.form->ShowModal = [&](QDialog& dialog) {
    dialog.show();
    shown = true;
  };
  f.form->MSettingsClick();
  QVERIFY(shown);
  QComboBox* drives = f.form->FormSettings->ComboBoxDrives;
  const std::vector<std::string> names = grab.DriveNames();
  QCOMPARE(drives->count(), static_cast<int>(names.size()));
  QCOMPARE(drives->itemText(secondIndex), QString::fromStdString(second.Cue.string()));
  QCOMPARE(drives->currentIndex(), f.form->Core->Settings.driveType);

  f.form->FormSettings->ComboBoxDrivesSelect(secondIndex);
  QCOMPARE(f.form->Core->Settings.driveType, secondIndex);
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 6);
  QCOMPARE(f.Cell(4, 0), QString("Track 05"));
  f.form->FormSettings->reject();

  // Opening the dialog again lists the drives afresh, not twice.
  f.form->MSettingsClick();
  QCOMPARE(drives->count(), static_cast<int>(names.size()));
  QCOMPARE(drives->currentIndex(), secondIndex);
  f.form->FormSettings->reject();
  f.form->close();
  QCOMPARE(f.Key("driveType"), std::to_string(secondIndex));
}

void TGrabWindowTest::grabStopReturnsAtOnceAndNoFurtherRowStarts() {
  TWindowFixture f;
  f.Open();
  const cdtest::TDiscImage disc = cdtest::MakeDisc(f.dir.Path());
  QVERIFY(f.form->Core->Grab.UseDrive(disc.Cue.string()));
  f.form->MGetTracks->trigger();
  UseWavOutput(f);
  f.form->show();

  // The WAV path is sink <- converter <- resampler <- CD; the gate sits
  // between the converter and the resampler (which the grab rewires).
  TPipelineSet& set = f.form->Core->Components;
  cdtest::TGate gate;
  gate.SetInput(set.FastResampler1);
  set.AudioConverter1->SetInput(&gate);
  TAuFileOut* sink = f.form->Core->Routing.SinkFor(0)->Sink;
  bool doneSeen = false;
  const TOutputDoneEvent done = sink->OnDone;
  sink->OnDone = [&](TComponent* sender) {
    done(sender);
    doneSeen = true;
  };

  f.form->MGrabStart->trigger();
  QVERIFY(gate.Hold.WaitUntilHeld(std::chrono::milliseconds(kRunTimeoutMs)));
  QVERIFY(f.form->PanelProgress->isVisible());
  QCOMPARE(f.form->StatusBar1->text(), QString("Grabbing: 01 - Track Title 1"));
  QCOMPARE(f.form->SelectedTrack, 1);
  QCOMPARE(f.Image(0), TRowImage::InProgress);

  f.form->MGrabStop->trigger();
  // It returned with the row's worker still held inside the source.
  QVERIFY(sink->Busy);
  QVERIFY(!f.form->Core->Driver.Running);
  QVERIFY(!f.form->PanelProgress->isVisible());
  QCOMPARE(f.form->StatusBar1->text(), QString());
  QCOMPARE(f.Image(0), TRowImage::None);

  gate.Hold.Release();
  QVERIFY(QTest::qWaitFor([&] { return doneSeen; }, kRunTimeoutMs));
  QVERIFY(!sink->Busy);
  QVERIFY(!f.form->Core->Driver.Running);
  for (int row : {0, 1, 2}) QCOMPARE(f.Image(row), TRowImage::None);
  QVERIFY2(f.Checked(0), "the stopped row is grabbed again by the next Start");
  QVERIFY(!std::filesystem::exists(f.dir / "out" / "02 - Zweite Stra\xC3\x9F" "e.wav"));
  QCOMPARE(f.form->windowTitle(), QString(kAppCaption));
  QCOMPARE(f.errors, QStringList());

  // Start again grabs the three audio tracks from the first.
  set.AudioConverter1->SetInput(set.FastResampler1);
  f.form->MGrabStart->trigger();
  QVERIFY(f.WaitForRunEnd());
  for (int row : {0, 1, 2}) QCOMPARE(f.Image(row), TRowImage::Done);
  QVERIFY(qmtest::FfmpegDecode(f.dir / "out" / "01 - Track Title 1.wav", "s16le") == disc.Tracks[0]);
}

void TGrabWindowTest::anImageOnTheCommandLineIsListedAndEjectDoesNothing() {
  TWindowFixture f;
  f.Open();
  const cdtest::TDiscImage disc = cdtest::MakeDisc(f.dir.Path());
  // An image named on the command line is the drive, its tracks listed.
  f.form->OpenPaths({disc.Cue.string()});
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 4);
  f.form->tbEject->trigger();
  f.form->MCloseTray->trigger();
  QCOMPARE(f.errors, QStringList({kMsgCDImageHasNoTray, kMsgCDImageHasNoTray}));
  f.form->MGetTracks->trigger();
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 4);
  f.form->OpenPaths({(f.dir / "missing.cue").string()});
  QCOMPARE(f.errors.size(), 3);
  QVERIFY(f.errors[2].endsWith(kMsgCDNotADrive));
}

void TGrabWindowTest::withoutAnyDriveEveryCommandAnswers() {
  TWindowFixture f;
  f.Open();
  cdtest::TStderrCapture capture(f.dir / "stderr.txt");
  if (!f.form->Core->Grab.DriveNames().empty()) QSKIP("this machine has a CD drive");
  f.form->MGetTracks->trigger();
  QCOMPARE(f.errors, QStringList({"No CD drive was found."}));
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 0);
  f.form->MGrabStart->trigger();
  QVERIFY(!f.form->Core->Driver.Running);
  QVERIFY(!f.form->PanelProgress->isVisible());
  f.form->MSettingsClick();
  QCOMPARE(f.form->FormSettings->ComboBoxDrives->count(), 0);
  f.form->MEject->trigger();
  QCOMPARE(f.errors.size(), 2);
  QCOMPARE(f.errors[1], QString(kMsgCDDriveNotReady));
  QCOMPARE(QString::fromStdString(capture.Text()), QString());
}

void TGrabWindowTest::thePopupPlaysPausesAndStopsTheSelectedTrack() {
  TWindowFixture f;
  f.Open();
  const cdtest::TDiscImage disc = cdtest::MakeDisc(f.dir.Path());
  const std::filesystem::path played = ListForPlaying(f, disc);
  QCOMPARE(f.form->ListView1->topLevelItemCount(), 4);
  f.form->show();
  TCDPlayer& player = *f.form->Core->Components.CDPlayer1;
  qmtest::THoldGate gate;
  player.OnBlockPlayed = [&](int64_t frames) {
    if (frames == kBlockFrames) gate.Pass([&] { return player.StopRequested.load(); });
  };
  std::atomic<bool> paused{false};
  player.OnPaused = [&](int64_t) { paused = true; };

  // Nothing is selected yet: Play does nothing.
  f.form->PMPlay->trigger();
  QVERIFY(player.WaitForEnd(std::chrono::milliseconds(0)));
  f.form->ListView1->setCurrentItem(f.form->ListView1->topLevelItem(1));
  QCOMPARE(f.form->SelectedTrack, 2);
  gate = true;
  f.form->PMPlay->trigger();
  QVERIFY(gate.WaitUntilHeld(std::chrono::milliseconds(kRunTimeoutMs)));
  QCOMPARE(player.Status(), TCDStatus::cdsPlaying);
  QCOMPARE(player.PlayingTrack(), 2);
  // Pause toggles by the state: a paused track resumes.
  f.form->PMPause->trigger();
  QCOMPARE(player.Status(), TCDStatus::cdsPaused);
  f.form->PMPause->trigger();
  QCOMPARE(player.Status(), TCDStatus::cdsPlaying);
  f.form->PMPause->trigger();
  QCOMPARE(player.Status(), TCDStatus::cdsPaused);
  gate.Release();
  QVERIFY(QTest::qWaitFor([&] { return paused.load(); }, kRunTimeoutMs));
  f.form->PMStop->trigger();
  QCOMPARE(player.Status(), TCDStatus::cdsStopped);
  const std::vector<uint8_t> part = qmtest::ReadFile(played);
  QCOMPARE(part.size(), static_cast<std::size_t>(kBlockFrames * 4));
  QVERIFY(std::equal(part.begin(), part.end(), disc.Tracks[1].begin()));

  // A double-click plays the row it selects, to the end.
  player.OnBlockPlayed = nullptr;
  DoubleClickRow(f, 2);
  QCOMPARE(f.form->SelectedTrack, 3);
  QVERIFY(player.WaitForEnd(std::chrono::milliseconds(kRunTimeoutMs)));
  QCOMPARE(player.PlayingTrack(), 3);
  QVERIFY(qmtest::ReadFile(played) == disc.Tracks[2]);
  QCOMPARE(f.errors, QStringList());

  // The data track, and an audio device that is not there, are told.
  f.form->ListView1->setCurrentItem(f.form->ListView1->topLevelItem(3));
  f.form->PMPlay->trigger();
  f.form->Core->Settings.audioDevice = "quellmark_no_such_device";
  f.form->ListView1->setCurrentItem(f.form->ListView1->topLevelItem(0));
  f.form->PMPlay->trigger();
  QCOMPARE(f.errors.size(), 2);
  QCOMPARE(f.errors[0], QString(kMsgCDPlayDataTrack));
  QVERIFY2(f.errors[1].startsWith("Cannot open the audio device quellmark_no_such_device: "),
           qPrintable(f.errors[1]));
  QCOMPARE(player.Status(), TCDStatus::cdsStopped);
}

void TGrabWindowTest::grabStartStopsATrackUnderWay() {
  TWindowFixture f;
  f.Open();
  const cdtest::TDiscImage disc = cdtest::MakeDisc(f.dir.Path());
  ListForPlaying(f, disc);
  UseWavOutput(f);
  TCDPlayer& player = *f.form->Core->Components.CDPlayer1;
  qmtest::THoldGate gate;
  player.OnBlockPlayed = [&](int64_t) { gate.Pass([&] { return player.StopRequested.load(); }); };
  gate = true;
  f.form->ListView1->setCurrentItem(f.form->ListView1->topLevelItem(0));
  f.form->PMPlay->trigger();
  QVERIFY(gate.WaitUntilHeld(std::chrono::milliseconds(kRunTimeoutMs)));

  // The player held the drive's reader; the grab has it now.
  f.form->MGrabStart->trigger();
  QCOMPARE(player.Status(), TCDStatus::cdsStopped);
  QVERIFY(f.WaitForRunEnd());
  for (int row : {0, 1, 2}) QCOMPARE(f.Image(row), TRowImage::Done);
  QVERIFY(qmtest::FfmpegDecode(f.dir / "out" / "01 - Track Title 1.wav", "s16le") == disc.Tracks[0]);
  QCOMPARE(f.errors, QStringList());
}

void TGrabWindowTest::aDoubleClickWithoutTheDiscShowsTheError() {
  TWindowFixture f;
  f.Open();
  const cdtest::TDiscImage disc = cdtest::MakeDisc(f.dir.Path());
  const std::filesystem::path played = ListForPlaying(f, disc);
  f.form->show();
  std::filesystem::remove(disc.Cue);
  std::filesystem::remove(disc.Bin);
  DoubleClickRow(f, 1);
  QCOMPARE(f.errors, QStringList({kMsgCDPlayerNotReady}));
  // Pause and Stop have nothing to act on, and say nothing.
  f.form->PMPause->trigger();
  f.form->PMStop->trigger();
  QCOMPARE(f.errors.size(), 1);
  QCOMPARE(f.form->Core->Components.CDPlayer1->Status(), TCDStatus::cdsNotReady);
  QVERIFY(!std::filesystem::exists(played));
}

void TGrabWindowTest::theSettingsDialogKeepsTheAudioDevice() {
  TWindowFixture f;
  qmtest::WriteText(f.settings, "[Options]\naudioDevice=plughw:1,0\n");
  f.Open(platform::LanguageDir());
  TFormSettings& d = *f.form->FormSettings;
  QCOMPARE(f.form->Core->Settings.audioDevice, std::string("plughw:1,0"));
  d.FormShow();
  QCOMPARE(d.ComboBoxAudioDevice->currentText(), QString("plughw:1,0"));
  QVERIFY(d.ComboBoxAudioDevice->findText("default") >= 0);
  // Nothing typed is the default device.
  d.ComboBoxAudioDevice->setEditText("  ");
  d.ButtonCloseClick();
  QCOMPARE(f.form->Core->Settings.audioDevice, std::string("default"));
  d.FormShow();
  d.ComboBoxAudioDevice->setEditText("mixed_out");
  d.ButtonCloseClick();
  f.form->LoadLanguage("Russian");
  QCOMPARE(d.LabelAudioDevice->text(), QString::fromUtf8("Звуковое устройство:"));
  f.form->close();
  QCOMPARE(f.Key("audioDevice"), std::string("mixed_out"));
}

QTEST_MAIN(TGrabWindowTest)
#include "grab_window_test.moc"
