// quellmark_screenshot OUTPUT.png: renders the main window at its first-run
// size with rows of long file names in their different states (done, failed,
// unchecked, in progress) for the documentation. Run it under xvfb-run on a
// screen larger than the window; it is not part of the test suite.
#include <QApplication>
#include <QPixmap>
#include <QProgressBar>
#include <QTest>

#include "app/main_window.h"
#include "platform/app_paths.h"
#include "tests/support/support.h"

using namespace qmtest;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quellmark_screenshot OUTPUT.png\n");
    return 2;
  }
  TTempDir dir;
  const auto music = dir / "Music";
  const char* names[] = {
      "Ludwig van Beethoven - Symphony No. 5 in C minor, Op. 67 - I. Allegro con brio.wav",
      "Interview with the composer about the premiere (radio archive, 1962).wav",
      "Voice memo - ideas for the second movement.wav",
      "Field recording - river Quell at dawn, birds and running water.wav",
      "Live set at the open-air festival (full length, soundboard mix).wav",
      "Rehearsal take 2 - strings only, tempo 92.wav",
  };
  WriteSineWav(music / names[0], 44100, 2, 16, 44100 * 3);
  WriteSineWav(music / names[1], 22050, 1, 8, 22050 * 4);
  WriteSineWav(music / names[2], 8000, 1, 8, 8000 * 3);
  WriteSineWav(music / names[3], 48000, 2, 24, 48000 * 2);
  WriteSineWav(music / names[4], 44100, 2, 16, 44100 * 120);
  WriteSineWav(music / names[5], 32000, 1, 16, 32000 * 95);

  // No settings file: the first run.
  TForm1 form(dir / "quellmark.ini", platform::LanguageDir());
  form.ErrorBox = [](const QString&) {};
  form.Core->Settings.asInput = false;
  form.Core->Settings.OutputDir = (dir / "converted").string();
  std::filesystem::create_directories(dir / "converted");
  form.show();
  QList<QUrl> rows;
  for (const char* name : names) rows << QUrl::fromLocalFile(QString::fromStdString((music / name).string()));
  form.StDropFiles1DropFiles(rows);
  std::filesystem::remove(music / names[2]);  // this row will fail
  form.ListView1->topLevelItem(3)->setCheckState(0, Qt::Unchecked);

  form.MStartClick();
  TConversionDriver& driver = form.Core->Driver;
  (void)QTest::qWaitFor([&] { return !driver.Running || (driver.CurrentIndex == 4 && form.Gauge1->value() >= 35); },
                  120000);
  // The last progress and layout changes are painted before the grab.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  const bool saved = form.grab().save(QString::fromLocal8Bit(argv[1]));
  form.MStopClick();
  return saved ? 0 : 1;
}
