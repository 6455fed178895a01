// The real main window over a temporary settings file, with its message
// boxes and modal dialogs caught, for the window tests.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QtTest>

#include "app/main_window.h"
#include "platform/app_paths.h"
#include "platform/ini_file.h"
#include "tests/support/support.h"


inline constexpr int kRunTimeoutMs = 60000;

// Skips a window test when one of the named programs is not installed (and
// fails it instead with QUELLMARK_REQUIRE_TOOLS=1).
#define QM_QT_REQUIRE_TOOLS(...)                                                     \
  do {                                                                               \
    const std::string qm_missing_ = ::qmtest::MissingTools({__VA_ARGS__});          \
    if (!qm_missing_.empty()) {                                                      \
      if (::qmtest::ToolsRequired()) QFAIL(("missing: " + qm_missing_).c_str());     \
      QSKIP(("skipped: " + qm_missing_ + " not installed").c_str());                 \
    }                                                                                \
  } while (false)

struct TWindowFixture {
  qmtest::TTempDir dir;
  std::filesystem::path settings = dir / "quellmark.ini";
  QStringList errors;
  QStringList messages;
  std::unique_ptr<TForm1> form;

  void Open(std::filesystem::path languageDir = platform::LanguageDir()) {
    form = std::make_unique<TForm1>(settings, languageDir);
    form->ErrorBox = [this](const QString& s) { errors << s; };
    form->MessageBox = [this](const QString& s) { messages << s; };
    form->ShowModal = [](QDialog&) {};
    // Runs convert one row after another unless the test's settings say
    // otherwise.
    if (Key("jobs") == "<missing>") form->Core->Settings.jobs = 1;
  }
  std::string Key(const char* key) const {
    return platform::TIniFile(settings).ReadString("Options", key, "<missing>");
  }
  QString Cell(int row, int column) const { return form->ListView1->topLevelItem(row)->text(column); }
  bool Checked(int row) const {
    return form->ListView1->topLevelItem(row)->checkState(0) == Qt::Checked;
  }
  TRowImage Image(int row) const { return form->Core->Files.Row(row).Image; }
  bool WaitForRunEnd() {
    return QTest::qWaitFor([this] { return !form->Core->Driver.Running; }, kRunTimeoutMs);
  }
};

// File URLs of paths, made from their bytes as a file manager or the
// platform's file dialog gives them: bytes that are not UTF-8 stay %XX.
inline QUrl Url(const std::filesystem::path& path) {
  return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path.string()).toPercentEncoding("/"));
}

inline QList<QUrl> Urls(std::initializer_list<std::filesystem::path> paths) {
  QList<QUrl> out;
  for (const auto& p : paths) out << Url(p);
  return out;
}

