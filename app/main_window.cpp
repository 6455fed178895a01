#include "app/main_window.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/about_dialog.h"
#include "app/icons.h"
#include "app/settings_dialog.h"
#include "pipeline/main_thread_invoker.h"
#include "platform/app_paths.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A file name for display. Where the name is not valid UTF-8 some characters
// show as replacement marks; the row keeps the real bytes.
QString ShownPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// The bytes of a local file's URL. QUrl::toLocalFile would decode them into a
// QString, which turns bytes that are not UTF-8 into U+FFFD; the fully
// encoded path keeps them as %XX.
std::string PathOfUrl(const QUrl& url) {
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

QUrl UrlOfPath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (path.empty() || ec) return QUrl();
  return QUrl::fromEncoded("file://" + QByteArray::fromStdString(absolute.string()).toPercentEncoding("/"));
}

enum Column { colFilename, colLength, colSamplerate, colBitrate, colPath };

// "Filename" takes the list's width less the three number columns and this
// much for the list's frame and a vertical scroll bar (231 with the number
// columns at their design width of 70).
constexpr int kListChrome = 21;
// "Filename" on the first run, and the rows the first-run list shows.
constexpr int kFilenameWidth = 250;
constexpr int kFirstRunRows = 14;

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

// ---------------------------------------------------------------- list view

TFileListView::TFileListView(QWidget* parent) : QTreeWidget(parent) {
  setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  viewport()->setAcceptDrops(true);
}

void TFileListView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TFileListView::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TFileListView::dropEvent(QDropEvent* event) {
  QList<QUrl> files;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) files << url;
  }
  event->acceptProposedAction();
  emit FilesDropped(files);
}

void TFileListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    emit DeletePressed();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------- window

TForm1::TForm1(std::filesystem::path settingsFile, std::filesystem::path languageDir, QWidget* parent)
    : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowIcon(icons::Program());

  // Events of the sinks' worker threads reach this thread through the
  // invoker: a queued call runs whatever is pending.
  auto& invoker = MainThreadInvoker::Instance();
  invoker.SetMainThread(std::this_thread::get_id());
  invoker.SetWakeHook([] {
    QMetaObject::invokeMethod(
        qApp, [] { MainThreadInvoker::Instance().RunPending(); }, Qt::QueuedConnection);
  });
  invoker.SetExceptionHook([this](const std::exception& e) { ShowError(e.what()); });

  ErrorBox = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); };
  MessageBox = [this](const QString& text) { QMessageBox::information(this, windowTitle(), text); };
  ShowModal = [](QDialog& dialog) { dialog.exec(); };
  ChooseFiles = [this] {
    return QFileDialog::getOpenFileUrls(this, QString(), UrlOfPath(DialogFolder()), OpenDialogFilter(), nullptr,
                                        QFileDialog::Options(), {QStringLiteral("file")});
  };
  ChooseFolder = [this] {
    return QFileDialog::getExistingDirectoryUrl(this, QString(), UrlOfPath(DialogFolder()),
                                                QFileDialog::ShowDirsOnly, {QStringLiteral("file")});
  };

  Core = std::make_unique<TAppCore>(*this);
  if (!languageDir.empty()) Core->LanguageDir = languageDir;
  SettingsFile = settingsFile.empty() ? platform::SettingsFilePath() : settingsFile;

  BuildMenus();
  BuildToolBar();
  BuildList();

  // Start-up, in its fixed order.
  setWindowTitle(kAppCaption);
  AppTitle = kAppCaption;
  ProgramDir = platform::ProgramDir();
  FormSettings = new TFormSettings(Core->Settings, this);
  FormSettings->OnDriveChosen = [this] { Guarded([this] { MGetTracksClick(); }); };
  FormAbout = new TFormAbout(this);
  Core->LoadSettings(SettingsFile);
  LoadLanguage(Core->Settings.Language);
  RestoreGeometry();
}

TForm1::~TForm1() {
  auto& invoker = MainThreadInvoker::Instance();
  invoker.SetWakeHook(nullptr);
  invoker.SetExceptionHook(nullptr);
  // The sinks stop before the widgets they report to go away.
  Core.reset();
}

void TForm1::BuildMenus() {
  auto action = [this](QMenu* menu, const char* name, void (TForm1::*handler)()) {
    auto* a = menu->addAction(QString());
    a->setObjectName(name);
    if (handler != nullptr) connect(a, &QAction::triggered, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    return a;
  };
  auto hook = [this](QMenu* menu, const char* name, std::function<void()> TConversionDriver::*member) {
    auto* a = menu->addAction(QString());
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, [this, member] {
      Guarded([&] {
        if (Core->Driver.*member) (Core->Driver.*member)();
      });
    });
    return a;
  };

  MFile = menuBar()->addMenu(QString());
  MAddFiles = action(MFile, "MAddFiles", &TForm1::MAddFilesClick);
  MAddFolder = action(MFile, "MAddFolder", &TForm1::MAddFolderClick);
  MFile->addSeparator();
  MDelete = action(MFile, "MDelete", &TForm1::MDeleteClick);
  MClear = action(MFile, "MClear", &TForm1::MClearClick);
  MFile->addSeparator();
  MEject = action(MFile, "MEject", &TForm1::MEjectClick);
  MCloseTray = action(MFile, "MCloseTray", &TForm1::MCloseTrayClick);
  MFile->addSeparator();
  MExit = action(MFile, "MExit", &TForm1::MExitClick);

  MList = menuBar()->addMenu(QString());
  MSelectAll = action(MList, "MSelectAll", &TForm1::MSelectAllClick);
  MCheckAll = action(MList, "MCheckAll", &TForm1::MCheckAllClick);
  MUncheckAll = action(MList, "MUncheckAll", &TForm1::MUncheckAllClick);

  MConvert = menuBar()->addMenu(QString());
  MStart = action(MConvert, "MStart", &TForm1::MStartClick);
  MPause = action(MConvert, "MPause", &TForm1::MPauseClick);
  MStop = action(MConvert, "MStop", &TForm1::MStopClick);

  MGrab = menuBar()->addMenu(QString());
  MGetTracks = action(MGrab, "MGetTracks", &TForm1::MGetTracksClick);
  MGrab->addSeparator();
  MGrabStart = hook(MGrab, "MGrabStart", &TConversionDriver::GrabStart);
  MGrabPause = hook(MGrab, "MGrabPause", &TConversionDriver::GrabPause);
  MGrabStop = hook(MGrab, "MGrabStop", &TConversionDriver::GrabStop);

  MOptions = menuBar()->addMenu(QString());
  MSettings = action(MOptions, "MSettings", &TForm1::MSettingsClick);
  MLanguage = MOptions->addMenu(QString());
  MLangEnglish = action(MLanguage, "MLangEnglish", &TForm1::MLangEnglishClick);
  MLangRussian = action(MLanguage, "MLangRussian", &TForm1::MLangRussianClick);
  MLangEnglish->setCheckable(true);
  MLangRussian->setCheckable(true);

  MHelp = menuBar()->addMenu(QString());
  MAbout = action(MHelp, "MAbout", &TForm1::MAboutClick);

  // The desktop's usual keys, shown beside the entries.
  MAddFiles->setShortcut(QKeySequence::Open);
  MAddFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  MDelete->setShortcut(QKeySequence::Delete);
  MExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  MSelectAll->setShortcut(QKeySequence::SelectAll);
  MStart->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
  MPause->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  MStop->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
  MSettings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
  MAbout->setShortcut(QKeySequence(Qt::Key_F1));

  MAddFiles->setIcon(icons::AddFiles());
  MAddFolder->setIcon(icons::AddFolder());
  MDelete->setIcon(icons::Delete());
  MClear->setIcon(icons::Clear());
  MEject->setIcon(icons::Eject());
  MCloseTray->setIcon(icons::CloseTray());
  MStart->setIcon(icons::Convert());
  MPause->setIcon(icons::Pause());
  MStop->setIcon(icons::Stop());
  MGrabStart->setIcon(icons::Convert());
  MGrabPause->setIcon(icons::Pause());
  MGrabStop->setIcon(icons::Stop());
  MSettings->setIcon(icons::Settings());
  MAbout->setIcon(icons::Program());
}

void TForm1::BuildToolBar() {
  ToolBar1 = addToolBar(QString());
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setIconSize(QSize(24, 24));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  // The captions come with the language (ApplyTexts).
  auto button = [this](const char* name, const QIcon& icon, std::function<void()> handler) {
    auto* a = ToolBar1->addAction(icon, QString());
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, [this, handler] { Guarded(handler); });
    return a;
  };
  tbAddFolder = button("tbAddFolder", icons::AddFolder(), [this] { MAddFolderClick(); });
  tbAddFiles = button("tbAddFiles", icons::AddFiles(), [this] { MAddFilesClick(); });
  tbDelete = button("tbDelete", icons::Delete(), [this] { MDeleteClick(); });
  tbClear = button("tbClear", icons::Clear(), [this] { MClearClick(); });
  ToolBar1->addSeparator();
  tbConvert = button("tbConvert", icons::Convert(), [this] { tbConvertClick(); });
  tbPause = button("tbPause", icons::Pause(), [this] { tbPauseClick(); });
  tbStop = button("tbStop", icons::Stop(), [this] { tbStopClick(); });
  ToolBar1->addSeparator();
  tbSettings = button("tbSettings", icons::Settings(), [this] { MSettingsClick(); });
  ToolBar1->addSeparator();
  tbEject = button("tbEject", icons::Eject(), [this] { MEject->trigger(); });
  tbCloseTray = button("tbCloseTray", icons::CloseTray(), [this] { MCloseTray->trigger(); });
}

void TForm1::BuildList() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  ListView1 = new TFileListView(central);
  ListView1->setObjectName("ListView1");
  ListView1->setColumnCount(5);
  ListView1->setRootIsDecorated(false);
  ListView1->setUniformRowHeights(true);
  ListView1->setAllColumnsShowFocus(true);
  ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setIconSize(QSize(16, 16));
  ListView1->setAlternatingRowColors(true);
  // Grid lines between the cells.
  ListView1->setStyleSheet(
      "QTreeView::item { border-right: 1px solid palette(midlight); border-bottom: 1px solid palette(midlight); "
      "padding: 1px 3px; }"
      "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
  ListView1->installEventFilter(this);
  ListView1->header()->setStretchLastSection(false);
  ListView1->headerItem()->setText(colPath, "Path");
  for (int c : {colLength, colSamplerate, colBitrate}) {
    ListView1->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  }
  ListView1->setColumnWidth(colFilename, kFilenameWidth);
  for (int c : {colLength, colSamplerate, colBitrate}) ListView1->setColumnWidth(c, 70);
  ListView1->setColumnWidth(colPath, 0);
  ListView1->setColumnHidden(colPath, true);
  layout->addWidget(ListView1, 1);

  PopupMenu1 = new QMenu(this);
  PMPlay = PopupMenu1->addAction("Play");
  PMPause = PopupMenu1->addAction("Pause");
  PMStop = PopupMenu1->addAction("Stop");
  PMPlay->setIcon(icons::Convert());
  PMPause->setIcon(icons::Pause());
  PMStop->setIcon(icons::Stop());
  connect(PMPlay, &QAction::triggered, this, [this] { Guarded([this] { PMPlayClick(); }); });
  connect(PMPause, &QAction::triggered, this, [this] { Guarded([this] { PMPauseClick(); }); });
  connect(PMStop, &QAction::triggered, this, [this] { Guarded([this] { PMStopClick(); }); });
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem*, int) { Guarded([this] { ListView1DblClick(); }); });
  ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (popupEnabled_) PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at));
  });

  PanelProgress = new QWidget(central);
  PanelProgress->setObjectName("PanelProgress");
  PanelProgress->setFixedHeight(16);
  auto* panelLayout = new QVBoxLayout(PanelProgress);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  Gauge1 = new QProgressBar(PanelProgress);
  Gauge1->setObjectName("Gauge1");
  Gauge1->setRange(0, 100);
  Gauge1->setValue(0);
  Gauge1->setTextVisible(false);
  panelLayout->addWidget(Gauge1);
  PanelProgress->hide();
  layout->addWidget(PanelProgress);
  setCentralWidget(central);

  StatusBar1 = new QLabel(this);
  StatusBar1->setObjectName("StatusBar1");
  statusBar()->addWidget(StatusBar1, 1);
  statusBar()->setSizeGripEnabled(true);

  ConnectList();
}

void TForm1::ConnectList() {
  TFileList& files = Core->Files;
  files.OnReset = [this] { ListView1->clear(); };
  files.OnRowAdded = [this](int i) { RowAdded(i); };
  files.OnRowChanged = [this](int i) { RowChanged(i); };
  files.OnRowRemoved = [this](int i) { delete ListView1->takeTopLevelItem(i); };
  connect(ListView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (updatingRows_ || column != colFilename) return;
    Core->Files.SetChecked(ListView1->indexOfTopLevelItem(item), item->checkState(colFilename) == Qt::Checked);
  });
  connect(ListView1, &TFileListView::FilesDropped, this, [this](const QList<QUrl>& files) {
    StDropFiles1DropFiles(files);
  });
  connect(ListView1, &TFileListView::DeletePressed, this, [this] { Guarded([this] { MDeleteClick(); }); });
  connect(ListView1, &QTreeWidget::itemSelectionChanged, this, [this] {
    const auto selected = ListView1->selectedItems();
    SelectedTrack = selected.isEmpty() ? -1 : ListView1->indexOfTopLevelItem(selected.last()) + 1;
  });
}

void TForm1::RowAdded(int index) {
  const TFileRow& row = Core->Files.Row(index);
  auto* item = new QTreeWidgetItem;
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
  item->setText(colFilename, ShownPath(row.Caption));
  item->setText(colLength, Q(row.Length));
  item->setText(colSamplerate, Q(row.Samplerate));
  item->setText(colBitrate, Q(row.Bitrate));
  item->setText(colPath, ShownPath(row.Path));
  for (int c : {colLength, colSamplerate, colBitrate}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  updatingRows_ = true;
  ListView1->insertTopLevelItem(index, item);
  updatingRows_ = false;
  RowChanged(index);
}

void TForm1::RowChanged(int index) {
  QTreeWidgetItem* item = ListView1->topLevelItem(index);
  if (item == nullptr) return;
  const TFileRow& row = Core->Files.Row(index);
  updatingRows_ = true;
  item->setCheckState(colFilename, row.Checked ? Qt::Checked : Qt::Unchecked);
  switch (row.Image) {
    case TRowImage::None: item->setIcon(colFilename, QIcon()); break;
    case TRowImage::InProgress: item->setIcon(colFilename, icons::RowInProgress()); break;
    case TRowImage::Done: item->setIcon(colFilename, icons::RowDone()); break;
    case TRowImage::Failed: item->setIcon(colFilename, icons::RowFailed()); break;
    case TRowImage::Skipped: item->setIcon(colFilename, icons::RowSkipped()); break;
  }
  for (int c = colFilename; c <= colBitrate; ++c) item->setToolTip(c, Q(row.Message));
  // A row's percentage is shown while it converts only.
  if (row.Image != TRowImage::InProgress) item->setText(colLength, Q(row.Length));
  updatingRows_ = false;
}

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TForm1::ShowAddErrors(const std::vector<std::string>& errors) {
  if (errors.empty()) return;
  std::string text;
  for (const std::string& error : errors) {
    if (!text.empty()) text += '\n';
    text += error;
  }
  ShowError(text);
}

// ---------------------------------------------------------------- texts

void TForm1::LoadLanguage(const std::string& name) {
  MLangEnglish->setChecked(name == "English");
  MLangRussian->setChecked(name == "Russian");
  Core->LoadLanguage(name);
  ApplyTexts();
  // New header texts may need wider number columns.
  FormResize();
  if (isVisible()) FitToolBar();
}

void TForm1::ApplyTexts() {
  const TLanguageTable& t = Core->Language;
  auto text = [&t](const char* key) { return Q(t.Text(key)); };
  MFile->setTitle(text("MFile.Caption"));
  MAddFiles->setText(text("MAddFiles.Caption"));
  MAddFolder->setText(text("MAddFolder.Caption"));
  MDelete->setText(text("MDelete.Caption"));
  MClear->setText(text("MClear.Caption"));
  MEject->setText(text("MEject.Caption"));
  MCloseTray->setText(text("MCloseTray.Caption"));
  MExit->setText(text("MExit.Caption"));
  MList->setTitle(text("MList.Caption"));
  MCheckAll->setText(text("MCheckAll.Caption"));
  MUncheckAll->setText(text("MUncheckAll.Caption"));
  MSelectAll->setText(text("MSelectAll.Caption"));
  MConvert->setTitle(text("MConvert.Caption"));
  MStart->setText(text("MStart.Caption"));
  MPause->setText(text("MPause.Caption"));
  MStop->setText(text("MStop.Caption"));
  MGrab->setTitle(text("MGrab.Caption"));
  MGetTracks->setText(text("MGetTracks.Caption"));
  MGrabStart->setText(text("MGrabStart.Caption"));
  MGrabPause->setText(text("MGrabPause.Caption"));
  MGrabStop->setText(text("MGrabStop.Caption"));
  MOptions->setTitle(text("MOptions.Caption"));
  MSettings->setText(text("MSettings.Caption"));
  MLanguage->setTitle(text("MLanguage.Caption"));
  MLangEnglish->setText(text("MLangEnglish.Caption"));
  MLangRussian->setText(text("MLangRussian.Caption"));
  MHelp->setTitle(text("MHelp.Caption"));
  MAbout->setText(text("MAbout.Caption"));
  for (int c = colFilename; c <= colBitrate; ++c) {
    ListView1->headerItem()->setText(c, Q(t.Text("ListView1.Column[" + std::to_string(c) + "].Caption")));
  }
  ListView1->setAccessibleName(text("ListView1.AccessibleName"));
  Gauge1->setAccessibleName(text("Gauge1.AccessibleName"));
  for (QAction* a : {tbAddFolder, tbAddFiles, tbDelete, tbClear, tbConvert, tbPause, tbStop, tbSettings, tbEject,
                     tbCloseTray}) {
    a->setText(Q(t.Text(a->objectName().toStdString() + ".Caption")));
  }
  tbEject->setToolTip(text("tbEject.Hint"));
  tbCloseTray->setToolTip(text("tbCloseTray.Hint"));
  tbAddFiles->setToolTip(text("tbAddFiles.Hint"));
  tbAddFolder->setToolTip(text("tbAddFolder.Hint"));
  tbDelete->setToolTip(text("tbDelete.Hint"));
  tbClear->setToolTip(text("tbClear.Hint"));
  tbConvert->setToolTip(text("tbConvert.Hint"));
  tbPause->setToolTip(text("tbPause.Hint"));
  tbStop->setToolTip(text("tbStop.Hint"));
  tbSettings->setToolTip(text("tbSettings.Hint"));
  // A screen reader reads a button's caption as its name and its hint as
  // the description.
  for (QAction* a : ToolBar1->actions()) {
    if (QWidget* b = ToolBar1->widgetForAction(a); b != nullptr && !a->isSeparator()) {
      b->setAccessibleName(a->text());
      b->setAccessibleDescription(a->toolTip());
    }
  }
  FormSettings->ApplyTexts(t);
  FormAbout->ApplyTexts(t);
}

QString TForm1::OpenDialogFilter() const {
  // Qt's form is "Description (*.a *.b)" lines; its patterns are matched
  // case-sensitively here, so each one is also offered in upper case (A.WAV
  // is an audio file too).
  QStringList filters;
  for (const TFileFilter& f : TFileList::OpenFilters(Core->Language.Text("OpenDialog1.Filter"))) {
    QString name = Q(f.Description).trimmed();
    const int paren = name.lastIndexOf('(');
    if (paren > 0 && name.endsWith(')')) name = name.left(paren).trimmed();
    QStringList patterns;
    for (const QString& p : Q(f.Patterns).split(';', Qt::SkipEmptyParts)) {
      patterns << p.trimmed();
      if (p.trimmed().toUpper() != p.trimmed()) patterns << p.trimmed().toUpper();
    }
    filters << name + " (" + patterns.join(' ') + ")";
  }
  return filters.join(";;");
}

// ---------------------------------------------------------------- handlers

void TForm1::MAddFilesClick() {
  std::vector<std::string> paths;
  for (const QUrl& url : ChooseFiles()) {
    if (url.isLocalFile()) paths.push_back(PathOfUrl(url));
  }
  if (paths.empty()) return;
  Core->Settings.LastFolder = std::filesystem::path(paths.front()).parent_path().string();
  ShowAddErrors(Core->AddPaths(paths));
}

void TForm1::MAddFolderClick() {
  const QUrl folder = ChooseFolder();
  if (folder.isEmpty() || !folder.isLocalFile()) return;
  Core->Settings.LastFolder = PathOfUrl(folder);
  ShowAddErrors(Core->AddFolder(PathOfUrl(folder)));
}

void TForm1::OpenPaths(const std::vector<std::string>& paths) {
  std::vector<std::string> absolute;
  for (const std::string& path : paths) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    absolute.push_back(ec ? path : full.lexically_normal().string());
  }
  // A disc image (or a CD device) alone becomes the chosen drive, and its
  // tracks are listed.
  if (absolute.size() == 1 && TGrabDriver::IsDriveName(absolute.front())) {
    Guarded([&] {
      if (!Core->Grab.UseDrive(absolute.front())) {
        ShowError(absolute.front() + ": " + kMsgCDNotADrive);
        return;
      }
      MGetTracksClick();
    });
    return;
  }
  Guarded([&] { ShowAddErrors(Core->DropPaths(absolute)); });
}

std::string TForm1::DialogFolder() const {
  if (IsDirectory(Core->Settings.LastFolder)) return Core->Settings.LastFolder;
  for (const QString& music : QStandardPaths::standardLocations(QStandardPaths::MusicLocation)) {
    const std::string folder = QFile::encodeName(music).toStdString();
    if (IsDirectory(folder)) return folder;
  }
  return QFile::encodeName(QDir::homePath()).toStdString();
}

void TForm1::StDropFiles1DropFiles(const QList<QUrl>& dropped) {
  std::vector<std::string> paths;
  for (const QUrl& url : dropped) {
    if (url.isLocalFile()) paths.push_back(PathOfUrl(url));
  }
  Guarded([&] { ShowAddErrors(Core->DropPaths(paths)); });
}

void TForm1::MDeleteClick() {
  std::vector<int> selected;
  for (QTreeWidgetItem* item : ListView1->selectedItems()) selected.push_back(ListView1->indexOfTopLevelItem(item));
  if (Core->Files.Delete(selected) == 0) MessageBox(Q(Core->Language.Text("StringSelectItem")));
}

void TForm1::MClearClick() { Core->Files.Clear(); }
void TForm1::MCheckAllClick() { Core->Files.SetAllChecked(true); }
void TForm1::MUncheckAllClick() { Core->Files.SetAllChecked(false); }
void TForm1::MSelectAllClick() { ListView1->selectAll(); }
void TForm1::MExitClick() { close(); }
void TForm1::MStartClick() { Core->Driver.MStartClick(); }
void TForm1::MPauseClick() { Core->Driver.MPauseClick(); }
void TForm1::MStopClick() { Core->Driver.MStopClick(); }
void TForm1::tbConvertClick() { Core->Driver.tbConvertClick(); }
void TForm1::tbPauseClick() { Core->Driver.tbPauseClick(); }
void TForm1::tbStopClick() { Core->Driver.tbStopClick(); }

void TForm1::MGetTracksClick() { Core->Grab.MGetTracksClick(); }
void TForm1::MEjectClick() { Core->Grab.MEjectClick(); }
void TForm1::MCloseTrayClick() { Core->Grab.MCloseTrayClick(); }

void TForm1::FillDriveList() {
  // Listed afresh each time, so a drive plugged in since shows up; the
  // dialog then selects "driveType" among them.
  QComboBox* drives = FormSettings->ComboBoxDrives;
  drives->clear();
  for (const std::string& name : Core->Grab.DriveNames()) drives->addItem(ShownPath(name));
}

void TForm1::MSettingsClick() {
  LoadLanguage(Core->Settings.Language);
  FillDriveList();
  ShowModal(*FormSettings);
}

void TForm1::MAboutClick() {
  LoadLanguage(Core->Settings.Language);
  ShowModal(*FormAbout);
}

void TForm1::MLangEnglishClick() {
  Core->Settings.Language = "English";
  LoadLanguage(Core->Settings.Language);
}

void TForm1::MLangRussianClick() {
  Core->Settings.Language = "Russian";
  LoadLanguage(Core->Settings.Language);
}

void TForm1::FormShow() { FormSettings->ComboBoxDrives->clear(); }

int TForm1::NumberColumnWidth(int column) const {
  // The width grows with the font, so a typical value is never cut, and with
  // the header, so a longer word of another language is not either. The
  // value is measured as the list draws a cell (its padding included).
  QStyleOptionViewItem cell;
  cell.initFrom(ListView1);
  cell.font = ListView1->font();
  cell.fontMetrics = ListView1->fontMetrics();
  cell.features = QStyleOptionViewItem::HasDisplay;
  cell.displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
  cell.text = column == colLength ? QStringLiteral("88:88") : column == colSamplerate ? QStringLiteral("48000 Hz")
                                                                                      : QStringLiteral("320 kbps");
  const int value = ListView1->style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), ListView1).width();
  return std::max({70, value, ListView1->header()->sectionSizeHint(column)});
}

void TForm1::FormResize() {
  int numbers = 0;
  for (int c : {colLength, colSamplerate, colBitrate}) {
    const int width = NumberColumnWidth(c);
    ListView1->setColumnWidth(c, width);
    numbers += width;
  }
  // The list's width is already the new one when its resize event comes;
  // its viewport's is not, so the rule works from the list's.
  const int rule = ListView1->width() - numbers - kListChrome;
  // A style whose frame and scroll bar take more than kListChrome would
  // otherwise get a horizontal scroll bar.
  const int scrollBar = ListView1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                        ListView1->verticalScrollBar());
  const int room = ListView1->width() - 2 * ListView1->frameWidth() - scrollBar - numbers;
  ListView1->setColumnWidth(colFilename, std::max(ListView1->header()->minimumSectionSize(), std::min(rule, room)));
  ListView1->setColumnWidth(colPath, 0);
}

QSize TForm1::FirstRunSize() const {
  int numbers = 0;
  for (int c : {colLength, colSamplerate, colBitrate}) numbers += NumberColumnWidth(c);
  const int list = kFilenameWidth + numbers + kListChrome;
  const int width = std::max(list, ToolBar1->sizeHint().width());
  const int row = QFontMetrics(ListView1->font()).height() + 6;
  const int height = menuBar()->sizeHint().height() + ToolBar1->sizeHint().height() +
                     ListView1->header()->sizeHint().height() + kFirstRunRows * row + 2 * ListView1->frameWidth() +
                     statusBar()->sizeHint().height();
  QSize size(width, height);
  if (const QScreen* s = screen()) size = size.boundedTo(s->availableGeometry().size());
  return size;
}

void TForm1::RestoreGeometry() {
  const TSettings& s = Core->Settings;
  if (s.WindowWidth <= 0 || s.WindowHeight <= 0) {
    resize(FirstRunSize());
    return;
  }
  QRect stored(s.WindowLeft, s.WindowTop, s.WindowWidth, s.WindowHeight);
  // The stored place counts only while a screen still shows enough of the
  // window to grab it (a monitor may have gone since); otherwise the window
  // manager places it.
  const QScreen* target = nullptr;
  for (const QScreen* candidate : QGuiApplication::screens()) {
    const QRect seen = candidate->availableGeometry().intersected(stored);
    if (seen.width() >= 64 && seen.height() >= 32) {
      target = candidate;
      break;
    }
  }
  const QScreen* bounds = target != nullptr ? target : QGuiApplication::primaryScreen();
  if (bounds != nullptr) stored.setSize(stored.size().boundedTo(bounds->availableGeometry().size()));
  if (target != nullptr) {
    setGeometry(stored);
  } else {
    resize(stored.size());
  }
  if (s.WindowMaximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void TForm1::StoreGeometry() {
  // A window never shown has no place of its own: what was stored stays.
  if (!shown_) return;
  TSettings& s = Core->Settings;
  s.WindowMaximized = isMaximized();
  const QRect g = (isMaximized() || isFullScreen()) ? normalGeometry() : geometry();
  if (g.width() <= 0 || g.height() <= 0) return;
  s.WindowLeft = g.x();
  s.WindowTop = g.y();
  s.WindowWidth = g.width();
  s.WindowHeight = g.height();
}

void TForm1::FitToolBar() {
  if (isMaximized() || isFullScreen()) return;
  int wanted = ToolBar1->sizeHint().width();
  if (const QScreen* s = screen()) wanted = std::min(wanted, s->availableGeometry().width());
  if (width() < wanted) resize(wanted, height());
}

void TForm1::FormClose() {
  if (closed_) return;
  closed_ = true;
  StoreGeometry();
  try {
    Core->SaveSettings(SettingsFile);
  } catch (const std::exception& e) {
    // The window closes all the same: the settings are all that is lost.
    ShowError(e.what());
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView1 && event->type() == QEvent::Resize) FormResize();
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TForm1::showEvent(QShowEvent* event) {
  FormShow();
  shown_ = true;
  QMainWindow::showEvent(event);
}

// ---------------------------------------------------------------- view

void TForm1::ShowProgressPanel(bool visible) { PanelProgress->setVisible(visible); }

void TForm1::SetGauge(int percent) {
  Gauge1->setValue(std::clamp(percent, 0, 100));
  Gauge1->repaint();
}

void TForm1::SetTitle(const std::string& title) {
  // The task bar shows the window's title here, so the progress goes there.
  AppTitle = Q(title);
  setWindowTitle(AppTitle);
}

void TForm1::SetStatus(const std::string& text) { StatusBar1->setText(Q(text)); }

void TForm1::RowPercent(int index, int percent) {
  QTreeWidgetItem* item = ListView1->topLevelItem(index);
  if (item == nullptr) return;
  updatingRows_ = true;
  item->setText(colLength, Q(Core->Files.Row(index).Length) + QString::fromUtf8(" · ") +
                               QString::number(percent) + '%');
  updatingRows_ = false;
}

void TForm1::ShowError(const std::string& message) { ErrorBox(Q(message)); }

void TForm1::PMPlayClick() {
  if (SelectedTrack > 0) Core->Grab.PlayTrack(SelectedTrack);
}

void TForm1::ListView1DblClick() { PMPlayClick(); }

void TForm1::PMPauseClick() { Core->Grab.PauseOrResumePlaying(); }

void TForm1::PMStopClick() { Core->Grab.StopPlaying(); }

void TForm1::RemoveListPopup() { popupEnabled_ = false; }

void TForm1::RestoreListPopup() { popupEnabled_ = true; }

void TForm1::TrackStarted(int track) { SelectedTrack = track; }
