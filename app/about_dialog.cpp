#include "app/about_dialog.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/conversion_driver.h"
#include "app/icons.h"
#include "app/language_table.h"

TFormAbout::TFormAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("FormAbout");
  setWindowTitle("About Program");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setModal(true);

  ImageIcon = new QLabel(this);
  ImageIcon->setPixmap(icons::Program().pixmap(48, 48));
  LabelTitle = new QLabel(kAppCaption, this);
  QFont titleFont = LabelTitle->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
  LabelTitle->setFont(titleFont);
  LabelAbout = new QLabel("convert audio files, grab audio from cd", this);
  LabelAuthor = new QLabel(QString::fromStdString(TLanguageTable::BuiltIn("FormAbout.LabelAuthor.Caption")), this);
  LabelMail = new QLabel("quellmark@example.org", this);
  LabelMail->setTextInteractionFlags(Qt::TextSelectableByMouse);
  LabelSite = new QLabel(QString::fromStdString(TLanguageTable::BuiltIn("FormAbout.LabelSite.Caption")), this);
  LabelSite->setObjectName("LabelSite");
  LabelSite->setStyleSheet("color: blue; text-decoration: underline;");
  LabelSite->setCursor(Qt::PointingHandCursor);
  LabelSite->installEventFilter(this);
  ButtonOK = new QPushButton("OK", this);
  ButtonOK->setDefault(true);
  connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(LabelTitle);
  text->addWidget(LabelAbout);
  text->addSpacing(8);
  text->addWidget(LabelAuthor);
  text->addWidget(LabelMail);
  text->addWidget(LabelSite);
  auto* top = new QHBoxLayout;
  top->addWidget(ImageIcon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonOK);
  auto* main = new QVBoxLayout(this);
  main->addLayout(top);
  main->addLayout(buttons);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TFormAbout::ApplyTexts(const TLanguageTable& t) {
  setWindowTitle(QString::fromStdString(t.Text("FormAbout.Caption")));
  LabelAbout->setText(QString::fromStdString(t.Text("FormAbout.LabelAbout.Caption")));
  LabelAuthor->setText(QString::fromStdString(t.Text("FormAbout.LabelAuthor.Caption")));
  LabelSite->setText(QString::fromStdString(t.Text("FormAbout.LabelSite.Caption")));
}

void TFormAbout::LabelSiteMouseDown() { QDesktopServices::openUrl(QUrl(LabelSite->text())); }

bool TFormAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LabelSite && event->type() == QEvent::MouseButtonPress) {
    LabelSiteMouseDown();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
