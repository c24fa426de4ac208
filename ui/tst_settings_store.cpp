#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QWidget>
#include <memory>

#include "ui/setting_values.h"
#include "ui/settings_store.h"
#include "ui/ui_test_support.h"

namespace qf {

class TestSettingsStore : public QObject {
  Q_OBJECT

 private:
  // The settings file as Qt sees it, bypassing the store.
  static std::unique_ptr<QSettings> raw() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Ambervale",
                                       "Quillforge");
  }

 private slots:
  void init() { raw()->clear(); }

  void keepsValuesInThePerUserFile() {
    SettingsStore store("Ambervale", "Quillforge");
    QCOMPARE(store.writeInt("UseOutDir", 7), true);
    const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ambervale/Quillforge.conf";
    QVERIFY(QFile::exists(file));
    QCOMPARE(raw()->value("UseOutDir").toInt(), 7);
  }

  void readsBackWhatItWrote_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("extension") << QByteArray(".htm");
    QTest::newRow("path with comma and quote") << QByteArray("/web/a,b \"c\"/");
    QTest::newRow("backslashes") << QByteArray("C:\\web\\");
    QTest::newRow("utf-8") << QByteArray("/h\xc3\xa9llo/");
    QTest::newRow("not utf-8") << QByteArray("/h\xe9llo/\xff/");
  }
  void readsBackWhatItWrote() {
    QFETCH(QByteArray, text);
    SettingsStore store("Ambervale", "Quillforge");
    QCOMPARE(store.writeString("InReq", text.toStdString()), true);
    std::string read = "old";
    QCOMPARE(store.readString("InReq", read, kMaxStoredPathLength), true);
    QCOMPARE(QByteArray::fromStdString(read), text);

    SettingsStore fresh("Ambervale", "Quillforge");
    QCOMPARE(fresh.readString("InReq", read, kMaxStoredPathLength), true);
    QCOMPARE(QByteArray::fromStdString(read), text);
  }

  void readIntKeepsTheDestinationUnlessDecimal_data() {
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("result");
    QTest::newRow("int") << QVariant(-500) << -500 << 1;
    QTest::newRow("text") << QVariant("7") << 7 << 1;
    QTest::newRow("word") << QVariant("on") << 42 << 0;
    QTest::newRow("hex") << QVariant("0x10") << 42 << 0;
    QTest::newRow("too big") << QVariant("4294967296") << 42 << 0;
    QTest::newRow("list") << QVariant(QStringList{"1", "2"}) << 42 << 0;
    QTest::newRow("missing") << QVariant() << 42 << 0;
  }
  void readIntKeepsTheDestinationUnlessDecimal() {
    QFETCH(QVariant, stored);
    QFETCH(int, expected);
    QFETCH(int, result);
    if (stored.isValid()) raw()->setValue("RecurseFolders", stored);
    SettingsStore store("Ambervale", "Quillforge");
    std::int32_t value = 42;
    QCOMPARE(int(store.readInt("RecurseFolders", value)), result);
    QCOMPARE(value, expected);
  }

  void readStringRefusesTooLongTexts() {
    SettingsStore store("Ambervale", "Quillforge");
    std::string text = ".html";
    store.writeString("OutExt", std::string(kMaxStoredExtensionLength + 1, 'x'));
    QCOMPARE(store.readString("OutExt", text, kMaxStoredExtensionLength), false);
    QCOMPARE(text, std::string(".html"));
    store.writeString("OutExt", std::string(kMaxStoredExtensionLength, 'x'));
    QCOMPARE(store.readString("OutExt", text, kMaxStoredExtensionLength), true);
    QCOMPARE(text, std::string(kMaxStoredExtensionLength, 'x'));
    QCOMPARE(store.readString("Missing", text, kMaxStoredExtensionLength), false);
  }

  void emptyNamesFail() {
    SettingsStore store("Ambervale", "Quillforge");
    std::int32_t value = 3;
    std::string text = "kept";
    QCOMPARE(store.writeInt("", 1), false);
    QCOMPARE(store.writeString("", "x"), false);
    QCOMPARE(store.readInt("", value), false);
    QCOMPARE(store.readString("", text, 99), false);
    QCOMPARE(value, 3);
    QCOMPARE(text, std::string("kept"));
  }

  void closeWithoutOpenFails() {
    SettingsStore store("Ambervale", "Quillforge");
    QCOMPARE(store.close(), false);
    QCOMPARE(store.open(), true);
    QCOMPARE(store.close(), true);
  }

  void aSettingsPathThatIsNoFileIsLeftAlone_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("directory") << "directory";
  }
  void aSettingsPathThatIsNoFileIsLeftAlone() {
    QFETCH(QString, kind);
    const QString dir = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ambervale";
    const QString file = dir + "/Quillforge.conf";
    QFile::remove(file);
    QVERIFY(QDir().mkpath(dir));
    if (kind == "fifo") {
      QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else {
      QVERIFY(QDir().mkdir(file));
    }
    SettingsStore store("Ambervale", "Quillforge");
    std::int32_t value = 5;
    QCOMPARE(store.readInt("UseOutDir", value), false);  // returns at once: no blocking open
    QCOMPARE(value, 5);
    QCOMPARE(store.writeInt("UseOutDir", 1), false);
    QCOMPARE(store.beginBatch(), false);
    struct stat status;
    QCOMPARE(lstat(QFile::encodeName(file).constData(), &status), 0);
    QVERIFY(kind == "fifo" ? S_ISFIFO(status.st_mode) : S_ISDIR(status.st_mode));
    QVERIFY(kind == "fifo" ? QFile::remove(file) : QDir().rmdir(file));
  }

  void aBatchWritesOnceAtItsEnd() {
    SettingsStore store("Ambervale", "Quillforge");
    QCOMPARE(store.beginBatch(), true);
    QCOMPARE(store.writeInt("UseOutDir", 3), true);
    QCOMPARE(store.writeString("OutExt", ".htm"), true);
    QWidget window;
    QCOMPARE(store.saveWindowPlacement(&window, "Main", true, true), true);
    // Nothing reached the file yet (other settings objects of this process
    // would see the pending values, so the file itself is read).
    QFile file(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ambervale/Quillforge.conf");
    QVERIFY(!file.open(QIODevice::ReadOnly) || !file.readAll().contains("UseOutDir"));
    QCOMPARE(store.endBatch(), true);
    QCOMPARE(raw()->value("UseOutDir").toInt(), 3);
    QCOMPARE(raw()->value("OutExt").toString(), QString(".htm"));
    QVERIFY(raw()->contains("MainW"));
  }

  void savesTheFramePosition() {
    SettingsStore store("Ambervale", "Quillforge");
    QWidget window;
    window.setGeometry(120, 80, 200, 100);
    QCOMPARE(store.saveWindowPlacement(&window, "MainWin", false, false), true);
    QCOMPARE(raw()->value("MainWinX").toInt(), window.frameGeometry().left());
    QCOMPARE(raw()->value("MainWinY").toInt(), window.frameGeometry().top());
    QVERIFY(!raw()->contains("MainWinW"));
    QVERIFY(!raw()->contains("MainWinS"));
    QCOMPARE(store.saveWindowPlacement(nullptr, "MainWin", false, false), false);
  }

  void restoresThePositionClampedToTheScreen_data() {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QTest::addColumn<QVariant>("x");
    QTest::addColumn<QVariant>("y");
    QTest::addColumn<QPoint>("expected");
    QTest::addColumn<int>("result");
    QTest::newRow("far up left") << QVariant(-500) << QVariant(-20) << QPoint(-8, -8) << 1;
    QTest::newRow("inside") << QVariant(30) << QVariant(40) << QPoint(30, 40) << 1;
    QTest::newRow("far right") << QVariant(5000) << QVariant(5000)
                               << QPoint(screen.width() - 200, screen.height() - 50) << 1;
    QTest::newRow("x only") << QVariant(30) << QVariant() << QPoint(300, 300) << 0;
    QTest::newRow("bad y") << QVariant(30) << QVariant("top") << QPoint(300, 300) << 0;
  }
  void restoresThePositionClampedToTheScreen() {
    QFETCH(QVariant, x);
    QFETCH(QVariant, y);
    QFETCH(QPoint, expected);
    QFETCH(int, result);
    raw()->setValue("MainWinX", x);
    if (y.isValid()) raw()->setValue("MainWinY", y);
    QWidget window;
    window.setGeometry(300, 300, 400, 100);
    SettingsStore store("Ambervale", "Quillforge");
    QCOMPARE(int(store.restoreWindowPlacement(&window, "MainWin", false, false)), result);
    QCOMPARE(window.frameGeometry().topLeft(), expected);
    QCOMPARE(window.size(), QSize(400, 100));
  }

  void restoresSizeAndStateOnRequest() {
    QWidget window;
    window.setGeometry(10, 10, 300, 200);
    SettingsStore store("Ambervale", "Quillforge");
    store.writeInt("WinX", 20);
    store.writeInt("WinY", 30);
    store.writeInt("WinW", 250);
    store.writeInt("WinH", 150);
    QCOMPARE(store.restoreWindowPlacement(&window, "Win", true, false), true);
    QCOMPARE(window.frameGeometry(), QRect(20, 30, 250, 150));

    store.writeInt("WinS", 1);
    QCOMPARE(store.restoreWindowPlacement(&window, "Win", false, true), true);
    QVERIFY(window.windowState() & Qt::WindowMaximized);

    store.writeInt("WinS", 2);
    QCOMPARE(store.restoreWindowPlacement(&window, "Win", false, true), true);
    QVERIFY(window.windowState() & Qt::WindowMaximized);

    raw()->remove("WinS");
    store.restoreWindowPlacement(&window, "Win", false, true);
    QVERIFY(!(window.windowState() & Qt::WindowMaximized));
  }

  void placementRoundTrips() {
    SettingsStore store("Ambervale", "Quillforge");
    QWidget saved;
    saved.setGeometry(50, 60, 320, 240);
    store.saveWindowPlacement(&saved, "Win", true, true);
    QWidget restored;
    restored.setGeometry(0, 0, 10, 10);
    QCOMPARE(store.restoreWindowPlacement(&restored, "Win", true, true), true);
    QCOMPARE(restored.frameGeometry(), saved.frameGeometry());
  }
};

}  // namespace qf

QF_UI_TEST_MAIN(qf::TestSettingsStore)
#include "tst_settings_store.moc"
