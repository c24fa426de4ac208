#include "ui/file_picker.h"
#include "ui/setting_values.h"
#include "ui/settings_store.h"
#include "ui/ui_test_support.h"

namespace qf {

class TestFilePicker : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Ambervale", "Quillforge").clear();
  }

  void startsWithAllFilesSelected() {
    ScriptedFileDialog dialog;
    std::string path;
    FilePicker picker(dialog, path);
    QCOMPARE(picker.filters(), (std::vector<FileFilter>{{"All Files (*.*)", "*.*"}}));
    QCOMPARE(picker.filterIndex(), 1);
  }

  void selectsTheFilterAddedLast() {
    ScriptedFileDialog dialog;
    std::string path;
    FilePicker picker(dialog, path);
    QCOMPARE(picker.addFilter("HTML Files (*.html;*.htm)", "*.html;*.htm"), 1);
    QCOMPARE(picker.addFilter("TEXT Files (*.txt)", "*.txt"), 1);
    QCOMPARE(picker.filterIndex(), 3);
    QCOMPARE(picker.addFilter(nullptr, "*.x"), 0);
    QCOMPARE(picker.addFilter("X", nullptr), 0);
    QCOMPARE(picker.filters().size(), std::size_t{3});
    QCOMPARE(picker.filterIndex(), 3);
  }

  void keepsTheFilterLastConfirmed() {
    ScriptedFileDialog dialog;
    std::string path;
    FilePicker picker(dialog, path);
    picker.addFilter("TEXT Files (*.txt)", "*.txt");
    dialog.setNextAnswer(std::nullopt);
    dialog.setNextAnswer("/web/a.txt", 1);
    dialog.setNextAnswer(std::nullopt);
    picker.chooseFile(nullptr, nullptr);
    picker.chooseFile(nullptr, nullptr);
    picker.chooseFile(nullptr, nullptr);
    QCOMPARE(dialog.requests[0].filterIndex, 2);
    QCOMPARE(dialog.requests[1].filterIndex, 2);
    QCOMPARE(dialog.requests[2].filterIndex, 1);
  }

  void givesQtBlankSeparatedPatterns() {
    QCOMPARE(qtNameFilter({"HTML Files (*.html;*.htm)", "*.html;*.htm"}),
             QString("HTML Files (*.html;*.htm) (*.html *.htm)"));
    QCOMPARE(qtNameFilter({"All Files (*.*)", "*.*"}), QString("All Files (*.*) (*.*)"));
  }

  void choosesADirectoryByItsHint_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QVariant>("answer");  // a path, or nothing for Cancel
    QTest::addColumn<QString>("proposed");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("result");
    const QString hint = "(all .src files in directory)";
    QTest::newRow("first run, cancel") << "" << QVariant() << hint << "" << 0;
    QTest::newRow("accept the hint") << "/web/" << QVariant("/web/" + hint) << "/web/" + hint
                                     << "/web/" << 1;
    QTest::newRow("pick a file") << "/web/" << QVariant("/web/index.src") << "/web/" + hint
                                 << "/web/" << 1;
    QTest::newRow("move elsewhere") << "/web/" << QVariant("/site/sub/" + hint)
                                    << "/web/" + hint << "/site/sub/" << 1;
    QTest::newRow("cancel keeps") << "/web/" << QVariant() << "/web/" + hint << "/web/" << 0;
    QTest::newRow("no trailing separator") << "/web" << QVariant() << "/" + hint << "/" << 0;
    QTest::newRow("backslash is part of a name")
        << "C:\\web" << QVariant() << hint << "" << 0;
    QTest::newRow("too long a choice")
        << "/web/" << QVariant("/" + QString(int(kMaxStoredPathLength), 'd') + "/x")
        << "/web/" + hint << "/web/" << 0;
  }
  void choosesADirectoryByItsHint() {
    QFETCH(QString, before);
    QFETCH(QVariant, answer);
    QFETCH(QString, proposed);
    QFETCH(QString, after);
    QFETCH(int, result);
    ScriptedFileDialog dialog;
    std::string path = before.toStdString();
    FilePicker picker(dialog, path);
    picker.setName("(all .src files in directory)");
    dialog.setNextAnswer(answer.isValid() ? std::optional(answer.toString().toStdString())
                                          : std::nullopt);
    QCOMPARE(picker.chooseDirectory(nullptr, nullptr), result);
    QCOMPARE(QString::fromStdString(path), after);
    QCOMPARE(dialog.requests.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(dialog.requests[0].proposedPath), proposed);
    QCOMPARE(dialog.requests[0].title, std::string("Open Directory"));
    QVERIFY(!dialog.requests[0].fileMustExist);
  }

  void choosesAnExistingFile() {
    ScriptedFileDialog dialog;
    std::string path = "/web/old.src";
    std::string name = "old.src";
    FilePicker picker(dialog, path, name);
    dialog.setNextAnswer(std::nullopt);
    QCOMPARE(picker.chooseFile(nullptr, nullptr), 0);
    QCOMPARE(path, std::string("/web/old.src"));
    QCOMPARE(name, std::string("old.src"));
    dialog.setNextAnswer("/web/sub/page.src");
    QCOMPARE(picker.chooseFile(nullptr, "Pick one"), 1);
    QCOMPARE(path, std::string("/web/sub/page.src"));
    QCOMPARE(name, std::string("page.src"));
    QCOMPARE(dialog.requests[0].proposedPath, std::string("/web/old.src"));
    QCOMPARE(dialog.requests[0].title, std::string("Open File"));
    QVERIFY(dialog.requests[0].fileMustExist);
    QCOMPARE(dialog.requests[1].title, std::string("Pick one"));
  }

  void savesAndRestoresItsPath() {
    ScriptedFileDialog dialog;
    SettingsStore store("Ambervale", "Quillforge");
    std::string saved = "/web/" + std::string(300, 'p') + "/";
    FilePicker savingPicker(dialog, saved);
    QCOMPARE(savingPicker.savePath(store, "InReq"), 1);
    QCOMPARE(savingPicker.savePath(store, ""), 0);

    std::string path = "/old/";
    std::string name = "hint";
    FilePicker picker(dialog, path, name);
    QCOMPARE(picker.restorePath(store, "Missing"), 0);
    QCOMPARE(path, std::string("/old/"));
    QCOMPARE(name, std::string("hint"));
    QCOMPARE(picker.restorePath(store, "InReq"), 1);
    QCOMPARE(path, saved);
    QCOMPARE(name, std::string());
  }

  void restoresPathsUpToTheLimit() {
    ScriptedFileDialog dialog;
    SettingsStore store("Ambervale", "Quillforge");
    std::string path = "/old/";
    FilePicker picker(dialog, path);
    const std::string longest = "/" + std::string(kMaxStoredPathLength - 2, 'p') + "/";
    store.writeString("InReq", longest);
    QCOMPARE(picker.restorePath(store, "InReq"), 1);
    QCOMPARE(path, longest);
    store.writeString("InReq", longest + "x");
    QCOMPARE(picker.restorePath(store, "InReq"), 0);
    QCOMPARE(path, longest);
  }
};

}  // namespace qf

QF_UI_TEST_MAIN(qf::TestFilePicker)
#include "tst_file_picker.moc"
