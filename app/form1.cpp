#include "app/form1.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QWidget(parent) { setWindowTitle("ZPiTool"); }
TForm1::~TForm1() = default;
