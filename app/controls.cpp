#include "app/controls.h"
// Placeholder: the controls are being written.
void TClickLabel::mouseReleaseEvent(QMouseEvent*) {}
void TClickLabel::enterEvent(QEnterEvent*) {}
void TClickLabel::leaveEvent(QEvent*) {}
void TDropDownCombo::showPopup() { QComboBox::showPopup(); }
TSpeedButton::TSpeedButton(QWidget* parent) : QPushButton(parent) {}
void TSpeedButton::nextCheckState() {}
TRichLog::TRichLog(QWidget* parent) : QTextEdit(parent) {}
