// The window on a folder of every format it reads: it lists the files as
// quellmark-cli --probe does, and converts and tags them as quellmark-cli
// does (offscreen).
#include <QCoreApplication>
#include <QtTest>

#include "tests/app/routing_test_support.h"
#include "window_fixture.h"

using namespace qmtest;
using routingtest::ReadTags;
using routingtest::TTags;

namespace {

struct TSourceFile {
  const char* Name;
  // The command that makes it from the WAV file IN as OUT.
  std::string Command;
};

const std::string kFfmpeg = "ffmpeg -nostdin -v error -y -i IN -metadata title=Song -metadata artist=Band "
                            "-metadata album=Disc -metadata genre=Rock ";

std::vector<TSourceFile> Sources() {
  return {
      {"a.mp3", "lame --quiet -b 128 --tt Song --ta Band --tl Disc --tg Rock IN OUT"},
      {"b.ogg", "oggenc --quiet -t Song -a Band -l Disc -G Rock -o OUT IN"},
      {"c.wma", kFfmpeg + "-c:a wmav2 OUT"},
      {"d.ape", Quote(APECODEC_TOOL) + " encode IN OUT && /usr/bin/python3 -c \"import sys; "
                "from mutagen.apev2 import APEv2; t = APEv2(); t['Title'] = 'Song'; t['Artist'] = 'Band'; "
                "t['Album'] = 'Disc'; t.save(sys.argv[1])\" OUT"},
      {"e.flac", kFfmpeg + "-c:a flac OUT"},
      {"f.m4a", kFfmpeg + "-c:a aac OUT"},
      {"g.opus", kFfmpeg + "-c:a libopus OUT"},
      {"h.aiff", kFfmpeg + "-write_id3v2 1 -c:a pcm_s24be OUT"},
      {"i.wv", kFfmpeg + "-c:a wavpack OUT"},
      {"j.wav", "cp IN OUT"},
  };
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

class TWindowFormatsTest : public QObject {
  Q_OBJECT

 private slots:
  void mixedFolderIsListedConvertedAndTaggedAsOnTheCommandLine();
};

void TWindowFormatsTest::mixedFolderIsListedConvertedAndTaggedAsOnTheCommandLine() {
  QM_QT_REQUIRE_TOOLS("ffmpeg", "ffprobe", "lame", "oggenc");
  if (!HavePythonModule("mutagen")) QSKIP("mutagen for /usr/bin/python3 is not installed");
  TWindowFixture f;
  const fs::path in = f.dir / "in";
  const fs::path wav = f.dir / "signal.wav";
  FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=1.2", "-ac 2 -c:a pcm_s16le", wav);
  fs::create_directories(in);
  for (const TSourceFile& s : Sources()) {
    const std::string command =
        Replace(Replace(s.Command, "IN", Quote(wav.string())), "OUT", Quote((in / s.Name).string()));
    QVERIFY2(RunStatus(command) == 0, command.c_str());
  }
  WriteText(in / "notes.txt", "not audio");
  const std::size_t count = Sources().size();

  // The list, as the command line probes the folder.
  const fs::path byWindow = f.dir / "window";
  const fs::path byCli = f.dir / "cli";
  fs::create_directories(byWindow);
  fs::create_directories(byCli);
  WriteText(f.settings, "[Options]\noutputType=1\nasInput=0\nOutputDir=" + byWindow.string() + "\n");
  f.Open();
  f.form->show();
  f.form->StDropFiles1DropFiles(Urls({in}));
  QVERIFY2(f.errors.isEmpty(), qPrintable(f.errors.join("\n")));
  QCOMPARE(f.form->ListView1->topLevelItemCount(), static_cast<int>(count));
  QStringList rows;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    QStringList cells;
    for (int c = 0; c < 5; ++c) cells << f.Cell(i, c);
    rows << cells.join('\t');
  }
  const std::string cli = QCoreApplication::applicationDirPath().toStdString() + "/quellmark-cli";
  const TRunResult probe = RunShell(Quote(cli) + " --probe " + Quote(in.string()));
  QCOMPARE(probe.Status, 0);
  QCOMPARE(QString::fromStdString(probe.Out).split('\n', Qt::SkipEmptyParts), rows);

  // Converted to MP3 by the window and by the command line: the same
  // streams with the same tags.
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  QVERIFY2(f.errors.isEmpty(), qPrintable(f.errors.join("\n")));
  for (int i = 0; i < static_cast<int>(count); ++i) QCOMPARE(f.Image(i), TRowImage::Done);
  const TRunResult run =
      RunShell(Quote(cli) + " --set outputType=1 --set asInput=0 --set OutputDir=" + Quote(byCli.string()) + " " +
               Quote(in.string()));
  QVERIFY2(run.Status == 0, run.Out.c_str());
  // Both name their outputs by the same rule, whatever it makes of an MP3
  // source.
  std::size_t outputs = 0;
  for (const auto& entry : fs::directory_iterator(byWindow)) {
    const std::string name = entry.path().filename().string();
    ++outputs;
    QVERIFY2(fs::exists(byCli / name), name.c_str());
    const std::string stream = ProbeStream(entry.path(), "codec_name,sample_rate,channels");
    QCOMPARE(stream, ProbeStream(byCli / name, "codec_name,sample_rate,channels"));
    QVERIFY2(stream == "mp3|44100|2" || (name == "g.mp3" && stream == "mp3|48000|2"), stream.c_str());
    const TTags tags = ReadTags(entry.path());
    QCOMPARE(tags, ReadTags(byCli / name));
    // Every tagged source carries at least its title, artist and album.
    if (name.rfind("j.", 0) != 0) {
      QVERIFY2(tags.count("title") + tags.count("artist") + tags.count("album") == 3, name.c_str());
    } else {
      QVERIFY(tags.empty());
    }
  }
  QCOMPARE(outputs, count);
}

QTEST_MAIN(TWindowFormatsTest)
#include "window_formats_test.moc"
