// quellmark: the window of Quellmark Audio Converter.
#include <QApplication>

#include "app/main_window.h"
#include "platform/fp_control.h"

int main(int argc, char* argv[]) {
  // Codec libraries must never raise floating-point exceptions in here.
  platform::MaskFloatingPointExceptions();
  QApplication app(argc, argv);
  TForm1 form;
  form.show();
  return app.exec();
}
