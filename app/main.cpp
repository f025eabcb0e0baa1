// Process entry: the application, titled "ZPi Tool", and its one window.
#include "app/form1.h"
#include "app/platform.h"

// Qt
#include <QIcon>

// Std
#include <exception>
#include <memory>

int main(int argc, char** argv) {
  std::unique_ptr<TApplication> application;
  try {
    application = std::make_unique<TApplication>(argc, argv);
    application->setWindowIcon(QIcon(QStringLiteral(":/images/usb_open.png")));
    TForm1 form;  // runs FormCreate; stored in Form1
    form.show();
    return application->exec();
  } catch (...) {
    if (application)
      ReportEscapedError(std::current_exception());
    return 1;
  }
}
