// The main window as it starts: caption, size, the control inventory, fonts, lists,
// spinners, timers and the start-up tick.
#include "support/gui_support.h"

// lib
#include "app/controls.h"

// Qt
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

using WindowStart = WindowTest;

TEST_F(WindowStart, CaptionSizeAndBorder) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("ZPiTool v2.46.B"));
  EXPECT_EQ(form->size(), QSize(557, 742));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // not resizable
  EXPECT_EQ(form->WindowWidth(), 563);
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("ZPi Tool"));
  EXPECT_EQ(Form1, form.get());
  EXPECT_EQ(boxes->Count(), 0u);
}

}  // namespace
