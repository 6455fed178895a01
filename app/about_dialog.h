// TFormAbout: the program's name, what it does, who wrote it and where to
// find it.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TLanguageTable;

class TFormAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TFormAbout(QWidget* parent = nullptr);

  void ApplyTexts(const TLanguageTable& texts);
  // Opens the site label's text in the user's browser.
  void LabelSiteMouseDown();

  QLabel* ImageIcon;
  QLabel* LabelTitle;
  QLabel* LabelAbout;
  QLabel* LabelAuthor;
  QLabel* LabelMail;
  QLabel* LabelSite;
  QPushButton* ButtonOK;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};
