// Pictures of the window, narrow and widened, for a person to look at, and the checks that
// keep the fixed layout readable: no caption cut off, nothing overlapping, nothing outside
// its group.
#include "support/gui_support.h"

// Qt
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>

namespace {

using WindowPictures = WindowTest;

QString ScreenshotDir() {
#ifdef ZPI_SCREENSHOT_DIR
  return QStringLiteral(ZPI_SCREENSHOT_DIR);
#else
  return QDir::tempPath() + QStringLiteral("/zpitool-screenshots");
#endif
}

void ChordF12(TForm1& form) {
  QTest::keyClick(&form, Qt::Key_F12, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
}

TEST_F(WindowPictures, SavesNarrowAndWideWindow) {
  ASSERT_TRUE(WaitUntil([&] { return !form->Timer5->isActive(); }));
  form->Log->Add(QStringLiteral("Conexão aberta..."));
  form->LogIdList->Add(QStringLiteral("0123ABCD 00000000 FFFFFFFF"));
  ASSERT_TRUE(QDir().mkpath(ScreenshotDir()));
  const QString narrow = ScreenshotDir() + QStringLiteral("/window_narrow.png");
  const QString wide = ScreenshotDir() + QStringLiteral("/window_wide.png");
  ASSERT_TRUE(form->grab().save(narrow));
  ChordF12(*form);
  ASSERT_EQ(form->WindowWidth(), 859);
  ASSERT_TRUE(form->grab().save(wide));
  // The panel with the layout's numbers, before the start-up tick empties them.
  auto fresh = std::make_unique<TForm1>();
  fresh->Timer4->stop();
  fresh->Timer5->stop();
  fresh->B_SetDefaults->click();
  ASSERT_TRUE(fresh->grab().save(ScreenshotDir() + QStringLiteral("/window_defaults.png")));
  // The engine-brake group lies beyond the edge; its own picture.
  ASSERT_TRUE(fresh->GB_EBK->grab().save(ScreenshotDir() + QStringLiteral("/group_ebk.png")));
  std::printf("screenshots in %s\n", qPrintable(ScreenshotDir()));
}

// Width the text of a label, check box or button needs.
int TextWidth(const QWidget* widget, const QString& text) {
  int widest = 0;
  for (const QString& line : text.split(u'\n'))
    widest = std::max(widest, widget->fontMetrics().horizontalAdvance(line));
  return widest;
}

TEST_F(WindowPictures, NoCaptionIsCutOff) {
  for (QLabel* label : form->findChildren<QLabel*>()) {
    if (label->text().isEmpty() || label == form->Label0)
      continue;
    EXPECT_LE(TextWidth(label, label->text()), label->width())
        << label->objectName().toStdString() << " \"" << label->text().toStdString() << "\"";
    EXPECT_LE(label->fontMetrics().height() * label->text().count(u'\n') + label->fontMetrics().height(),
              label->height() + 2)
        << label->objectName().toStdString();
  }
  for (QCheckBox* box : form->findChildren<QCheckBox*>()) {
    const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                          box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    EXPECT_LE(indicator + TextWidth(box, box->text()), box->width()) << box->objectName().toStdString();
  }
  for (QPushButton* button : form->findChildren<QPushButton*>()) {
    if (qobject_cast<TSpeedButton*>(button))
      continue;
    EXPECT_LE(TextWidth(button, button->text()) + 8, button->width()) << button->objectName().toStdString();
  }
  for (QGroupBox* group : form->findChildren<QGroupBox*>()) {
    if (group->title().isEmpty())
      continue;
    EXPECT_LE(TextWidth(group, group->title()) + 8, group->width()) << group->objectName().toStdString();
  }
}

TEST_F(WindowPictures, PanelControlsStayInsideTheirGroupAndDoNotOverlap) {
  QList<QWidget*> parents{form->GB_Config, form->GB_EBK, form->GB_Header, form->GroupBox2, form->GB_ReleaseMode};
  for (QGroupBox* group : form->GB_Config->findChildren<QGroupBox*>())
    parents.push_back(group);
  for (QGroupBox* group : form->GB_EBK->findChildren<QGroupBox*>())
    parents.push_back(group);
  for (QWidget* parent : parents) {
    const QList<QWidget*> children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::vector<QWidget*> placed;
    for (QWidget* child : children)
      if (!child->isWindow() && !child->objectName().isEmpty())
        placed.push_back(child);
    for (QWidget* child : placed) {
      // The header's own strip starts at -1, -6 in the window; its children stay inside it.
      EXPECT_TRUE(parent->rect().contains(child->geometry()))
          << child->objectName().toStdString() << " outside " << parent->objectName().toStdString();
    }
    for (std::size_t i = 0; i < placed.size(); ++i)
      for (std::size_t j = i + 1; j < placed.size(); ++j)
        EXPECT_FALSE(placed[i]->geometry().intersects(placed[j]->geometry()))
            << placed[i]->objectName().toStdString() << " overlaps " << placed[j]->objectName().toStdString();
  }
}

}  // namespace
