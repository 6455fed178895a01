// quellmark_screenshot OUTPUT.png: renders the main window with a few rows in
// their different states (done, failed, unchecked, in progress) for the
// documentation. Run it under xvfb-run; it is not part of the test suite.
#include <QApplication>
#include <QPixmap>
#include <QProgressBar>
#include <QTest>

#include "app/main_window.h"
#include "platform/app_paths.h"
#include "temp_dir.h"
#include "wav_fixture.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quellmark_screenshot OUTPUT.png\n");
    return 2;
  }
  TTempDir dir;
  const auto music = dir / "Music";
  WriteSineWav(music / "Symphony No. 5 - Allegro con brio.wav", 44100, 2, 16, 44100 * 3);
  WriteSineWav(music / "Interview with the composer.wav", 22050, 1, 8, 22050 * 4);
  WriteSineWav(music / "Field recording, river.wav", 48000, 2, 24, 48000 * 2);
  WriteSineWav(music / "Voice memo.wav", 8000, 1, 8, 8000 * 3);
  WriteSineWav(music / "Live set (full length).wav", 44100, 2, 16, 44100 * 120);
  WriteSineWav(music / "Rehearsal take 2.wav", 32000, 1, 16, 32000 * 95);

  TForm1 form(dir / "quellmark.ini", platform::LanguageDir());
  form.ErrorBox = [](const QString&) {};
  form.Core->Settings.asInput = false;
  form.Core->Settings.OutputDir = (dir / "converted").string();
  std::filesystem::create_directories(dir / "converted");
  form.resize(720, 400);
  form.show();
  QList<QUrl> rows;
  for (const char* name : {"Symphony No. 5 - Allegro con brio.wav", "Interview with the composer.wav",
                           "Voice memo.wav", "Field recording, river.wav", "Live set (full length).wav",
                           "Rehearsal take 2.wav"}) {
    rows << QUrl::fromLocalFile(QString::fromStdString((music / name).string()));
  }
  form.StDropFiles1DropFiles(rows);
  std::filesystem::remove(music / "Voice memo.wav");  // this row will fail
  form.ListView1->topLevelItem(3)->setCheckState(0, Qt::Unchecked);

  form.MStartClick();
  TConversionDriver& driver = form.Core->Driver;
  (void)QTest::qWaitFor([&] { return !driver.Running || (driver.CurrentIndex == 4 && form.Gauge1->value() >= 35); },
                  120000);
  QTest::qWait(100);
  const bool saved = form.grab().save(QString::fromLocal8Bit(argv[1]));
  form.MStopClick();
  return saved ? 0 : 1;
}
