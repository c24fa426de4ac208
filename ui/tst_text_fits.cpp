#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <cmath>

#include "ui/about_dialog.h"
#include "ui/main_dialog.h"
#include "ui/ui_test_support.h"

namespace qf {

// Every text of the main window and the About box shows whole: each label's,
// button's, check box's and group box title's text fits the room its control
// gives it. CTest runs this at the scale factors 1, 1.5 and 2.
class TestTextFits : public QObject {
  Q_OBJECT

 private:
  static int textWidth(const QWidget* widget, const QString& text) {
    QString shown = text;
    shown.remove(QLatin1Char('&'));
    return static_cast<int>(
        std::ceil(QFontMetricsF(widget->font(), widget).horizontalAdvance(shown)));
  }

  // The room a control gives its text, in its own coordinates.
  static QRect textRoom(const QWidget* widget) {
    if (const auto* check = qobject_cast<const QCheckBox*>(widget)) {
      QStyleOptionButton option;
      option.initFrom(check);
      option.text = check->text();
      return check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
    }
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
      QStyleOptionButton option;
      option.initFrom(button);
      option.text = button->text();
      return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
      // The title is drawn at its label rectangle, which must lie inside the frame.
      QStyleOptionGroupBox option;
      option.initFrom(group);
      option.text = group->title();
      option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      const QRect label = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, group);
      return label.intersected(group->rect());
    }
    return widget->contentsRect();
  }

  // The texts of window's controls that do not fit, each with its control's name.
  static QStringList clippedTexts(QWidget& window) {
    QStringList clipped;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
      QString text;
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
      if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
      if (auto* group = qobject_cast<QGroupBox*>(widget)) text = group->title();
      if (text.isEmpty()) continue;
      const QRect room = textRoom(widget);
      const int width = textWidth(widget, text);
      const int height = widget->fontMetrics().height();
      if (width > room.width() || height > room.height()) {
        clipped << QStringLiteral("%1 \"%2\": %3x%4 in %5x%6")
                       .arg(widget->objectName(), text)
                       .arg(width)
                       .arg(height)
                       .arg(room.width())
                       .arg(room.height());
      }
    }
    return clipped;
  }

 private slots:
  // The scale factor CTest sets must reach the window, or the runs at 1.5 and
  // 2 would only repeat the one at 1.
  void runsAtTheScaleFactorAsked() {
    const QByteArray asked = qgetenv("QT_SCALE_FACTOR");
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.devicePixelRatioF(), asked.isEmpty() ? 1.0 : asked.toDouble());
  }

  void mainWindowTextsFit() {
    ScriptedFileDialog fileDialog;
    ScriptedMessageBox messageBox;
    ApplicationState state(fileDialog);
    MainDialog dialog(state, messageBox);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QStringList clipped = clippedTexts(dialog);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
  }

  void aboutBoxTextsFit() {
    AboutDialog about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QStringList clipped = clippedTexts(about);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
  }
};

}  // namespace qf

QF_UI_TEST_MAIN(qf::TestTextFits)
#include "tst_text_fits.moc"
