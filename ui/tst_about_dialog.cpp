#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>

#include "ui/about_dialog.h"
#include "ui/ui_test_support.h"

namespace qf {

// Records the links that the dialog asks the desktop to open.
class LinkRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

class TestAboutDialog : public QObject {
  Q_OBJECT

 private:
  LinkRecorder links_;

  static QPushButton* button(AboutDialog& about, const char* id) {
    return about.findChild<QPushButton*>(id);
  }

 private slots:
  void initTestCase() {
    QDesktopServices::setUrlHandler("mailto", &links_, "open");
    QDesktopServices::setUrlHandler("https", &links_, "open");
  }
  void cleanupTestCase() {
    QDesktopServices::unsetUrlHandler("mailto");
    QDesktopServices::unsetUrlHandler("https");
  }
  void init() { links_.opened.clear(); }

  void showsTheProgramAndItsMaker() {
    AboutDialog about;
    QCOMPARE(about.windowTitle(), QString("About Quillforge"));
    QStringList lines;
    for (const QLabel* label : about.findChildren<QLabel*>()) lines << label->text();
    QCOMPARE(lines, (QStringList{"Quillforge is an offline web site creation tool.",
                                 "Idea and programming by", "Made by Ambervale",
                                 "Released under the MIT licence."}));
    QCOMPARE(button(about, "id1")->text(), QString("Okay!"));
    QVERIFY(button(about, "id1")->isDefault());
    QCOMPARE(button(about, "id1002")->text(), QString("The Quillforge developers"));
    QCOMPARE(button(about, "id1003")->text(), QString("quillforge.example.org"));
  }

  void linkButtonsOpenTheirLinksAndStayOpen() {
    AboutDialog about;
    about.show();
    QTest::mouseClick(button(about, "id1002"), Qt::LeftButton);
    QTest::mouseClick(button(about, "id1002"), Qt::LeftButton);
    QTest::mouseClick(button(about, "id1003"), Qt::LeftButton);
    QCOMPARE(links_.opened, (QList<QUrl>{QUrl("mailto:quillforge@example.org"),
                                         QUrl("mailto:quillforge@example.org"),
                                         QUrl("https://quillforge.example.org/index.html")}));
    QCoreApplication::processEvents();
    QVERIFY(about.isVisible());
  }

  void escapeKeepsItOpen() {
    AboutDialog about;
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QTest::keyClick(&about, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(about.isVisible());
  }

  void okayEnterAndCloseBoxEndIt_data() {
    QTest::addColumn<int>("way");
    QTest::newRow("Okay!") << 0;
    QTest::newRow("Enter") << 1;
    QTest::newRow("close box") << 2;
  }
  void okayEnterAndCloseBoxEndIt() {
    QFETCH(int, way);
    AboutDialog about;
    QSignalSpy finished(&about, &QDialog::finished);
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    if (way == 0) QTest::mouseClick(button(about, "id1"), Qt::LeftButton);
    if (way == 1) QTest::keyClick(&about, Qt::Key_Return);
    if (way == 2) about.close();
    QTRY_VERIFY(!about.isVisible());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 0);
  }
};

}  // namespace qf

QF_UI_TEST_MAIN(qf::TestAboutDialog)
#include "tst_about_dialog.moc"
