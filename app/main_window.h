// TForm1: the main window. It owns the application core (settings, texts,
// pipeline components, file list, driver) and shows it: the menus, the
// toolbar, the file list with its check boxes and hidden "Path" column, the
// status bar and the progress panel.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <QList>
#include <QMainWindow>
#include <QTreeWidget>
#include <QUrl>

#include "app/app_core.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QToolBar;
class TFormAbout;
class TFormSettings;

// The file list widget: a tree without branches that takes files dropped on
// it and reports the Delete key.
class TFileListView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TFileListView(QWidget* parent = nullptr);

 signals:
  // The dropped local files, as the URLs they came as.
  void FilesDropped(const QList<QUrl>& files);
  void DeletePressed();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

class TForm1 : public QMainWindow, public TDriverView {
  Q_OBJECT

 public:
  // settingsFile and languageDir default to where the installed program keeps
  // them; tests pass their own.
  explicit TForm1(std::filesystem::path settingsFile = {}, std::filesystem::path languageDir = {},
                  QWidget* parent = nullptr);
  ~TForm1() override;

  // Language (interface texts of all three windows).
  void LoadLanguage(const std::string& name);

  // File and List menus.
  void MAddFilesClick();
  void MAddFolderClick();
  void MDeleteClick();
  void MClearClick();
  void MCheckAllClick();
  void MUncheckAllClick();
  void MSelectAllClick();
  void StDropFiles1DropFiles(const QList<QUrl>& dropped);
  void MExitClick();
  // Convert menu and the toolbar's run buttons (routed by RunMode).
  void MStartClick();
  void MPauseClick();
  void MStopClick();
  void tbConvertClick();
  void tbPauseClick();
  void tbStopClick();
  // Grab menu's Get Tracks, File menu's Eject CD and Close CD (and their
  // toolbar buttons); Grab Start, Pause and Stop go to the grab driver.
  void MGetTracksClick();
  void MEjectClick();
  void MCloseTrayClick();
  // The settings dialog's drive list: emptied, then the drives found.
  void FillDriveList();
  // The list's popup menu and double-click: the CD player on the track of
  // the row selected last (row i is track i + 1).
  void PMPlayClick();
  void ListView1DblClick();
  void PMPauseClick();
  void PMStopClick();
  // Options and Help.
  void MSettingsClick();
  void MAboutClick();
  void MLangEnglishClick();
  void MLangRussianClick();
  void FormShow();
  void FormResize();

  // Paths named on the program's command line (or by the desktop entry's
  // %F), added as a drop would add them; relative ones are taken from the
  // current folder.
  void OpenPaths(const std::vector<std::string>& paths);

  // Where the Add Files and Add Folder dialogs start: the folder used last,
  // else the user's Music folder, else the home folder.
  std::string DialogFolder() const;

  // Wide enough for every toolbar button and for "Filename" at its design
  // width of 250 beside the number columns; no larger than the screen.
  QSize FirstRunSize() const;
  // The width of a number column ("Length", "Samplerate", "Bitrate"): 70,
  // or what its header in the current language or its widest value needs.
  int NumberColumnWidth(int column) const;

  // The Add Files dialog's filter in Qt's form, from the format catalog and
  // the language's descriptions.
  QString OpenDialogFilter() const;

  // TDriverView.
  void ShowProgressPanel(bool visible) override;
  void SetGauge(int percent) override;
  void SetTitle(const std::string& title) override;
  void SetStatus(const std::string& text) override;
  void ShowError(const std::string& message) override;
  void RemoveListPopup() override;
  void RestoreListPopup() override;
  void TrackStarted(int track) override;
  // Whether the list offers its popup menu (after Get Tracks, not after
  // adding files).
  bool ListPopupEnabled() const { return popupEnabled_; }

  // Dialog stand-ins, replaceable so tests can drive the handlers. Files come
  // as URLs: a QString cannot hold a file name that is not valid UTF-8, a
  // URL keeps its bytes percent-encoded.
  std::function<QList<QUrl>()> ChooseFiles;
  std::function<QUrl()> ChooseFolder;
  std::function<void(const QString&)> ErrorBox;
  std::function<void(const QString&)> MessageBox;
  // Shows a dialog modally.
  std::function<void(QDialog&)> ShowModal;

  std::unique_ptr<TAppCore> Core;
  std::filesystem::path SettingsFile;
  std::string ProgramDir;
  // The application title (what the task bar shows).
  QString AppTitle;

  TFormSettings* FormSettings;
  TFormAbout* FormAbout;

  TFileListView* ListView1;
  QMenu* PopupMenu1;
  QLabel* StatusBar1;
  QWidget* PanelProgress;
  QProgressBar* Gauge1;
  QToolBar* ToolBar1;
  QMenu* MFile;
  QMenu* MList;
  QMenu* MConvert;
  QMenu* MGrab;
  QMenu* MOptions;
  QMenu* MLanguage;
  QMenu* MHelp;
  QAction *MAddFiles, *MAddFolder, *MDelete, *MClear, *MEject, *MCloseTray, *MExit;
  QAction *MCheckAll, *MUncheckAll, *MSelectAll;
  QAction *MStart, *MPause, *MStop;
  QAction *MGetTracks, *MGrabStart, *MGrabPause, *MGrabStop;
  QAction *MSettings, *MLangEnglish, *MLangRussian, *MAbout;
  QAction *tbAddFolder, *tbAddFiles, *tbDelete, *tbClear, *tbConvert, *tbPause, *tbStop,
      *tbSettings, *tbEject, *tbCloseTray;
  QAction *PMPlay, *PMPause, *PMStop;
  // The list row selected last, +1 (-1 after a deselection, 0 before any).
  int SelectedTrack = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  void BuildList();
  void ApplyTexts();
  void ConnectList();
  void RowAdded(int index);
  void RowChanged(int index);
  void FormClose();
  // The stored size and position (or the first-run size), before the first
  // show; the window's state back into the settings when it closes.
  void RestoreGeometry();
  void StoreGeometry();
  // Widens a shown window whose toolbar no longer fits (a language with
  // longer captions), within the screen.
  void FitToolBar();
  // Runs a handler, showing what it raises in the standard error box.
  void Guarded(const std::function<void()>& handler);
  // The paths that could not be listed, in one error box once an add is over.
  void ShowAddErrors(const std::vector<std::string>& errors);

  bool updatingRows_ = false;
  bool popupEnabled_ = true;
  bool closed_ = false;
  bool shown_ = false;
};
