// The main window as a desktop program (offscreen): its first-run size and
// column rule, the size and place it remembers, its keys, its texts and
// accessible names in each language, where its file dialogs start, the paths
// of its command line, and its icon files.
#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImageReader>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include "app/icons.h"
#include "app/language_table.h"
#include "app/main_window.h"
#include "tests/support/support.h"
#include "window_fixture.h"

using namespace qmtest;

namespace {

QList<QAction*> ToolbarButtons(const TForm1& form) {
  QList<QAction*> buttons;
  for (QAction* a : form.ToolBar1->actions()) {
    if (!a->isSeparator()) buttons << a;
  }
  return buttons;
}

// Every button lies wholly inside the toolbar and none went behind the
// overflow arrow.
void VerifyWholeToolbarShown(const TForm1& form) {
  QCOMPARE(ToolbarButtons(form).size(), 10);
  for (QAction* a : ToolbarButtons(form)) {
    QWidget* button = form.ToolBar1->widgetForAction(a);
    QVERIFY2(button != nullptr && button->isVisible(), qPrintable(a->objectName()));
    QVERIFY2(form.ToolBar1->rect().contains(button->geometry()), qPrintable(a->objectName()));
  }
  for (auto* extension : form.ToolBar1->findChildren<QToolButton*>("qt_toolbar_ext_button")) {
    QVERIFY(!extension->isVisible());
  }
}

// "Filename" is the list's width less the number columns and 21; each
// number column is 70 unless its header (or a typical value) needs more, and
// every header fits.
void VerifyColumnRule(const TForm1& form) {
  QTreeWidget* list = form.ListView1;
  int numbers = 0;
  for (int c = 1; c <= 3; ++c) {
    QVERIFY2(list->header()->sectionSizeHint(c) <= list->columnWidth(c), qPrintable(list->headerItem()->text(c)));
    QVERIFY(list->columnWidth(c) >= 70);
    numbers += list->columnWidth(c);
  }
  QCOMPARE(list->columnWidth(0), list->width() - numbers - 21);
  QVERIFY(list->isColumnHidden(4));
  // The columns fit beside a vertical scroll bar.
  QVERIFY(numbers + list->columnWidth(0) <= list->viewport()->width() + 2 * list->frameWidth());
}

void Show(TForm1& form) {
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
}

// Sets an environment variable for a test's life.
class TEnv {
 public:
  TEnv(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)),
                                                     old_(qgetenv(name)) {
    qputenv(name, value);
  }
  ~TEnv() {
    if (had_) {
      qputenv(name_, old_);
    } else {
      qunsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

}  // namespace

class TDesktopWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void firstRunShowsTheWholeToolbarAndFilenameAtItsDesignWidth();
  void filenameTakesTheListWidthLess231OnEveryResize();
  void russianLeavesNoEnglishCaptionOnTheToolbarAndFitsItsHeaders();
  void sizeAndPlaceAreRememberedAcrossRuns();
  void aPlaceNoScreenShowsIsNotTaken();
  void menusShowTheirKeysAndTheKeysWork();
  void toolbarAndListHaveAccessibleNames();
  void fileDialogsStartInTheFolderUsedLast();
  void commandLinePathsAreAddedAsADrop();
  void iconFilesShowTheWindowsIcon();
};

void TDesktopWindowTest::firstRunShowsTheWholeToolbarAndFilenameAtItsDesignWidth() {
  for (const char* language : {"English", "Russian"}) {
    TWindowFixture f;
    WriteText(f.settings, std::string("[Options]\nLanguage=") + language + "\n");
    f.Open();
    Show(*f.form);
    VerifyWholeToolbarShown(*f.form);
    VerifyColumnRule(*f.form);
    // "Length" needs less than 70 and keeps it; "Длительность" needs more.
    QCOMPARE(f.form->ListView1->columnWidth(1) == 70, language == std::string("English"));
    // At its first-run width "Filename" is what the form was designed with.
    QVERIFY2(f.form->ListView1->columnWidth(0) >= 250, qPrintable(QString::number(f.form->ListView1->columnWidth(0))));
    QVERIFY(f.form->width() <= f.form->screen()->availableGeometry().width());
    // Room for some rows below the header.
    QVERIFY(f.form->ListView1->viewport()->height() >= 10 * f.form->ListView1->fontMetrics().height());
  }
}

void TDesktopWindowTest::filenameTakesTheListWidthLess231OnEveryResize() {
  TWindowFixture f;
  WriteSineWav(f.dir / "a.wav", 8000, 1, 8, 800);
  f.Open();
  Show(*f.form);
  for (const QSize size : {QSize(780, 500), QSize(560, 400), QSize(700, 300)}) {
    f.form->resize(size);
    QTRY_COMPARE(f.form->size(), size);
    VerifyColumnRule(*f.form);
  }
  // Rows and a conversion change nothing about it, and the values fit.
  WriteSineWav(f.dir / "b.wav", 48000, 2, 24, 4800);
  f.form->StDropFiles1DropFiles(Urls({f.dir / "a.wav", f.dir / "b.wav"}));
  QTreeWidget* list = f.form->ListView1;
  for (int row = 0; row < 2; ++row) {
    for (int c = 1; c <= 3; ++c) {
      QStyleOptionViewItem cell;
      cell.initFrom(list);
      cell.widget = list;
      const QModelIndex index = list->model()->index(row, c);
      QVERIFY2(list->itemDelegate()->sizeHint(cell, index).width() <= list->columnWidth(c),
               qPrintable(index.data().toString()));
    }
  }
  f.form->MStartClick();
  QVERIFY(f.WaitForRunEnd());
  VerifyColumnRule(*f.form);
}

void TDesktopWindowTest::russianLeavesNoEnglishCaptionOnTheToolbarAndFitsItsHeaders() {
  TWindowFixture f;
  f.Open();
  Show(*f.form);
  f.form->MLangRussianClick();
  for (QAction* a : ToolbarButtons(*f.form)) {
    const QString english = QString::fromStdString(TLanguageTable::BuiltIn(a->objectName().toStdString() + ".Caption"));
    QVERIFY(!english.isEmpty());
    QVERIFY2(a->text() != english, qPrintable(a->text()));
    QVERIFY2(!a->text().contains(QRegularExpression("[A-Za-z]")), qPrintable(a->text()));
    // The hints too ("CD" is Russian usage as well).
    QVERIFY2(!QString(a->toolTip()).remove("CD").contains(QRegularExpression("[A-Za-z]")), qPrintable(a->toolTip()));
  }
  QCOMPARE(f.form->tbConvert->text(), QString::fromUtf8("Конвертировать"));
  // The longer captions widened the window rather than hiding buttons, and
  // "Длительность" is not cut.
  QTRY_VERIFY(f.form->ToolBar1->widgetForAction(f.form->tbCloseTray)->isVisible());
  VerifyWholeToolbarShown(*f.form);
  QCOMPARE(f.form->ListView1->headerItem()->text(1), QString::fromUtf8("Длительность"));
  VerifyColumnRule(*f.form);
  f.form->MLangEnglishClick();
  QCOMPARE(f.form->tbAddFolder->text(), QString("Add Folder"));
  VerifyColumnRule(*f.form);
}

void TDesktopWindowTest::sizeAndPlaceAreRememberedAcrossRuns() {
  TWindowFixture f;
  f.Open();
  Show(*f.form);
  const QRect placed(30, 40, 700, 450);
  f.form->setGeometry(placed);
  QTRY_COMPARE(f.form->geometry(), placed);
  f.form->close();
  QCOMPARE(f.Key("WindowLeft"), std::string("30"));
  QCOMPARE(f.Key("WindowTop"), std::string("40"));
  QCOMPARE(f.Key("WindowWidth"), std::string("700"));
  QCOMPARE(f.Key("WindowHeight"), std::string("450"));
  QCOMPARE(f.Key("WindowMaximized"), std::string("0"));

  f.Open();
  QCOMPARE(f.form->geometry(), placed);
  Show(*f.form);
  QCOMPARE(f.form->geometry(), placed);
  VerifyColumnRule(*f.form);
  // Maximized: the state is kept, and the size to come back to.
  f.form->showMaximized();
  QTRY_VERIFY(f.form->isMaximized());
  f.form->close();
  QCOMPARE(f.Key("WindowMaximized"), std::string("1"));
  QCOMPARE(f.Key("WindowWidth"), std::string("700"));
  f.Open();
  QVERIFY(f.form->windowState() & Qt::WindowMaximized);

  // A window that was never shown has no place to keep: the stored one stays.
  f.form->close();
  QCOMPARE(f.Key("WindowWidth"), std::string("700"));
  QCOMPARE(f.Key("WindowMaximized"), std::string("1"));
}

void TDesktopWindowTest::aPlaceNoScreenShowsIsNotTaken() {
  TWindowFixture f;
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // A monitor that was on the right has gone, and the size was for it.
  WriteText(f.settings, "[Options]\nWindowLeft=" + std::to_string(screen.right() + 500) +
                                      "\nWindowTop=10\nWindowWidth=" + std::to_string(screen.width() + 900) +
                                      "\nWindowHeight=300\n");
  f.Open();
  Show(*f.form);
  QVERIFY(screen.intersects(f.form->geometry()));
  QVERIFY(f.form->width() <= screen.width());
  QCOMPARE(f.form->height(), 300);
  // A size of 0 is none: the first-run size.
  TWindowFixture g;
  WriteText(g.settings, "[Options]\nWindowWidth=0\nWindowHeight=900\n");
  g.Open();
  QCOMPARE(g.form->size(), g.form->FirstRunSize());
}

void TDesktopWindowTest::menusShowTheirKeysAndTheKeysWork() {
  TWindowFixture f;
  WriteSineWav(f.dir / "a.wav", 8000, 1, 8, 800);
  f.Open();
  TForm1& w = *f.form;
  const std::vector<std::pair<QAction*, QKeySequence>> keys = {
      {w.MAddFiles, QKeySequence("Ctrl+O")},     {w.MAddFolder, QKeySequence("Ctrl+Shift+O")},
      {w.MDelete, QKeySequence("Del")},          {w.MSelectAll, QKeySequence("Ctrl+A")},
      {w.MStart, QKeySequence("Ctrl+Return")},   {w.MPause, QKeySequence("Ctrl+P")},
      {w.MStop, QKeySequence("Ctrl+.")},         {w.MSettings, QKeySequence("Ctrl+,")},
      {w.MExit, QKeySequence("Ctrl+Q")},         {w.MAbout, QKeySequence("F1")}};
  QSet<QString> seen;
  for (const auto& [action, key] : keys) {
    QCOMPARE(action->shortcut(), key);
    QVERIFY2(!seen.contains(key.toString()), qPrintable(key.toString()));
    seen.insert(key.toString());
    // Shown in the menu: the entry is in a menu of the menu bar.
    QVERIFY(!action->associatedObjects().isEmpty());
  }
  QCOMPARE(w.MSelectAll->text(), QString("Select All"));

  Show(w);
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  w.StDropFiles1DropFiles(Urls({f.dir / "a.wav", f.dir / "a.wav", f.dir / "a.wav"}));
  w.ListView1->setFocus();
  QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier);
  QCOMPARE(w.ListView1->selectedItems().size(), 3);
  QTest::keyClick(w.ListView1, Qt::Key_Delete);
  QCOMPARE(w.ListView1->topLevelItemCount(), 0);
  QVERIFY(f.messages.isEmpty());  // deleted once, not a second time with nothing selected
  int picked = 0;
  w.ChooseFiles = [&] {
    ++picked;
    return Urls({f.dir / "a.wav"});
  };
  QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
  QCOMPARE(picked, 1);
  QCOMPARE(w.ListView1->topLevelItemCount(), 1);
  QTest::keyClick(&w, Qt::Key_Return, Qt::ControlModifier);
  QVERIFY(w.Core->Driver.Running || w.Core->Files.Row(0).Image == TRowImage::Done);
  QVERIFY(f.WaitForRunEnd());
  QCOMPARE(f.Image(0), TRowImage::Done);
  QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
  QVERIFY(!w.isVisible());
}

void TDesktopWindowTest::toolbarAndListHaveAccessibleNames() {
  TWindowFixture f;
  f.Open();
  for (const char* language : {"Russian", "English"}) {
    language == std::string("Russian") ? f.form->MLangRussianClick() : f.form->MLangEnglishClick();
    for (QAction* a : ToolbarButtons(*f.form)) {
      QWidget* button = f.form->ToolBar1->widgetForAction(a);
      QCOMPARE(button->accessibleName(), a->text());
      QCOMPARE(button->accessibleDescription(), a->toolTip());
    }
  }
  QCOMPARE(f.form->ListView1->accessibleName(), QString("Audio files"));
  QCOMPARE(f.form->Gauge1->accessibleName(), QString("Conversion progress"));
  f.form->MLangRussianClick();
  QCOMPARE(f.form->ListView1->accessibleName(), QString::fromUtf8("Аудиофайлы"));
}

void TDesktopWindowTest::fileDialogsStartInTheFolderUsedLast() {
  TTempDir home;
  const TEnv homeEnv("HOME", QByteArray::fromStdString(home.Str()));
  const TEnv configEnv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / ".config").string()));
  TWindowFixture f;
  WriteSineWav(f.dir / "in" / "a.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "tree" / "b.wav", 8000, 1, 8, 800);
  // OutputDir is where output goes, not where the dialogs start.
  WriteText(f.settings, "[Options]\nOutputDir=" + (f.dir / "tree").string() + "/\n");
  f.Open();
  QCOMPARE(f.form->DialogFolder(), home.Str());  // no Music folder yet
  std::filesystem::create_directories(home / "Music");
  QCOMPARE(f.form->DialogFolder(), (home / "Music").string());

  f.form->ChooseFiles = [&] { return Urls({f.dir / "in" / "a.wav"}); };
  f.form->MAddFilesClick();
  QCOMPARE(f.form->DialogFolder(), (f.dir / "in").string());
  f.form->ChooseFolder = [&] { return Url(f.dir / "tree"); };
  f.form->MAddFolderClick();
  QCOMPARE(f.form->DialogFolder(), (f.dir / "tree").string());
  f.form->close();
  QCOMPARE(f.Key("LastFolder"), (f.dir / "tree").string());

  f.Open();
  QCOMPARE(f.form->DialogFolder(), (f.dir / "tree").string());
  // The folder has gone since: Music again.
  std::filesystem::remove_all(f.dir / "tree");
  QCOMPARE(f.form->DialogFolder(), (home / "Music").string());
}

void TDesktopWindowTest::commandLinePathsAreAddedAsADrop() {
  TWindowFixture f;
  WriteSineWav(f.dir / "one.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "album" / "two.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "album" / "cd2" / "three.wav", 8000, 1, 8, 800);
  // Latin-1 bytes in a name, as a file manager may pass them.
  WriteSineWav(f.dir / "caf\xe9.wav", 8000, 1, 8, 800);
  f.Open();
  f.form->StDropFiles1DropFiles(Urls({f.dir / "one.wav"}));
  const QString cwd = QDir::currentPath();
  QVERIFY(QDir::setCurrent(QString::fromStdString(f.dir.Str())));
  f.form->OpenPaths({"album", "./caf\xe9.wav", "missing.wav", (f.dir / "one.wav").string()});
  QDir::setCurrent(cwd);
  // The list was replaced, as by a drop; relative names became full paths.
  QCOMPARE(f.form->Core->Files.Count(), 4);
  std::vector<std::string> paths;
  for (int i = 0; i < f.form->Core->Files.Count(); ++i) paths.push_back(f.form->Core->Files.Row(i).Path);
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> wanted = {(f.dir / "album" / "cd2" / "three.wav").string(),
                                     (f.dir / "album" / "two.wav").string(), (f.dir / "caf\xe9.wav").string(),
                                     (f.dir / "one.wav").string()};
  std::sort(wanted.begin(), wanted.end());
  QCOMPARE(paths, wanted);
  QCOMPARE(f.errors, QStringList{QString::fromStdString((f.dir / "missing.wav").string() +
                                                        ": No such file or directory")});
  // Nothing named: the list stays.
  f.form->OpenPaths({});
  QCOMPARE(f.form->Core->Files.Count(), 4);
}

void TDesktopWindowTest::iconFilesShowTheWindowsIcon() {
  // The SVG of the icon theme, drawn by Qt's SVG reader, against the
  // window's own drawing: the same picture within antialiasing.
  QImageReader reader(QStringLiteral(QUELLMARK_SOURCE_DIR "/desktop/quellmark.svg"));
  reader.setScaledSize(QSize(48, 48));
  const QImage svg = reader.read().convertToFormat(QImage::Format_ARGB32);
  QVERIFY2(!svg.isNull(), qPrintable(reader.errorString()));
  const QImage drawn = icons::ProgramImage(48).convertToFormat(QImage::Format_ARGB32);
  double difference = 0;
  int blue = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 48; ++x) {
      const QColor a = svg.pixelColor(x, y);
      const QColor b = drawn.pixelColor(x, y);
      difference += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) +
                    std::abs(a.alpha() - b.alpha());
      if (b == QColor(0x2f, 0x6f, 0xd0)) ++blue;
    }
  }
  QVERIFY(blue > 48 * 48 / 3);
  QVERIFY2(difference / (48 * 48 * 4) < 4.0, qPrintable(QString::number(difference / (48 * 48 * 4))));
}

QTEST_MAIN(TDesktopWindowTest)
#include "desktop_window_test.moc"
