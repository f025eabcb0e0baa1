#include "app/platform.h"
// Placeholder: the platform layer is being written.
TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}
bool TApplication::notify(QObject* receiver, QEvent* event) { return QApplication::notify(receiver, event); }
