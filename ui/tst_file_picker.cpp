#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

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

  void startsWithAllFilesAndSelectsTheFilterAddedLast() {
    ScriptedFileDialog dialog;
    std::string path;
    FilePicker picker(dialog, path);
    QCOMPARE(picker.filters(), (std::vector<FileFilter>{{"All Files (*.*)", "*.*"}}));
    QCOMPARE(picker.filterIndex(), 1);
    picker.addFilter("HTML Files (*.html;*.htm)", "*.html;*.htm");
    picker.addFilter("TEXT Files (*.txt)", "*.txt");
    QCOMPARE(picker.filterIndex(), 3);
    QCOMPARE(picker.filters().size(), std::size_t{3});
  }

  void keepsTheFilterLastConfirmed() {
    ScriptedFileDialog dialog;
    std::string path;
    FilePicker picker(dialog, path);
    picker.addFilter("TEXT Files (*.txt)", "*.txt");
    dialog.setNextAnswer(std::nullopt);
    dialog.setNextAnswer("/web/a.txt", 1);
    dialog.setNextAnswer(std::nullopt);
    picker.chooseFile();
    picker.chooseFile();
    picker.chooseFile();
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
    QTest::newRow("accept the hint")
        << "/web/" << QVariant("/web/" + hint) << "/web/" + hint << "/web/" << 1;
    QTest::newRow("pick a file") << "/web/" << QVariant("/web/index.src") << "/web/" + hint
                                 << "/web/" << 1;
    QTest::newRow("move elsewhere")
        << "/web/" << QVariant("/site/sub/" + hint) << "/web/" + hint << "/site/sub/" << 1;
    QTest::newRow("cancel keeps") << "/web/" << QVariant() << "/web/" + hint << "/web/" << 0;
    QTest::newRow("no trailing separator")
        << "/site/web" << QVariant() << "/site/" + hint << "/site/" << 0;
    QTest::newRow("backslash is part of a name") << "C:\\web" << QVariant() << hint << "" << 0;
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
    QCOMPARE(int(picker.chooseDirectory()), result);
    QCOMPARE(QString::fromStdString(path), after);
    QCOMPARE(dialog.requests.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(dialog.requests[0].proposedPath), proposed);
    QCOMPARE(dialog.requests[0].title, std::string("Open Directory"));
    QVERIFY(!dialog.requests[0].fileMustExist);
  }

  // Qt's own dialog: Open on a directory typed into the name box picks it,
  // while the hint, which names nothing, still picks the directory shown.
  void qtDialogPicksATypedDirectory() {
    struct Case {
      const char* typed;  // ROOT/ stands for the tree; empty: the hint stays
      const char* picked;
    };
    const Case kCases[] = {
        {"", "shown/"},           {"ROOT/other", "other/"}, {"ROOT/other/sub/", "other/sub/"},
        {"ROOT/shown", "shown/"}, {"../other", "other/"},   {"nothing-here", "shown/"},
    };
    for (const Case& c : kCases) {
      TempDir tree;
      const QString root = QString::fromStdString(tree.path());
      QVERIFY(QDir().mkpath(root + "shown") && QDir().mkpath(root + "other/sub"));
      const QString typed = QString(c.typed).replace("ROOT/", root);
      bool openEnabled = false;
      QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        if (!typed.isEmpty()) {
          auto* nameBox = dialog->findChild<QLineEdit*>("fileNameEdit");
          nameBox->selectAll();
          QTest::keyClicks(nameBox, typed);
          // The completion list that typing opens would take the click.
          if (QCompleter* completer = nameBox->completer()) completer->popup()->hide();
        }
        auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
        QPushButton* open = buttons->button(QDialogButtonBox::Open);
        openEnabled = open->isEnabled();
        QTest::mouseClick(open, Qt::LeftButton);
        if (dialog->isVisible()) dialog->reject();
      });
      QtFileDialog dialog;
      std::string path = (root + "shown/").toStdString();
      FilePicker picker(dialog, path);
      picker.setName("(all .src files in directory)");
      QVERIFY2(picker.chooseDirectory(), c.typed);
      QVERIFY2(openEnabled, c.typed);
      QCOMPARE(QString::fromStdString(path), root + c.picked);
    }
  }

  void choosesAnExistingFile() {
    ScriptedFileDialog dialog;
    std::string path = "/web/old.src";
    std::string name = "old.src";
    FilePicker picker(dialog, path, name);
    dialog.setNextAnswer(std::nullopt);
    QCOMPARE(picker.chooseFile(), false);
    QCOMPARE(path, std::string("/web/old.src"));
    QCOMPARE(name, std::string("old.src"));
    dialog.setNextAnswer("/web/sub/page.src");
    QCOMPARE(picker.chooseFile(nullptr, "Pick one"), true);
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
    QCOMPARE(savingPicker.savePath(store, "InReq"), true);
    QCOMPARE(savingPicker.savePath(store, ""), false);

    std::string path = "/old/";
    std::string name = "hint";
    FilePicker picker(dialog, path, name);
    QCOMPARE(picker.restorePath(store, "Missing"), false);
    QCOMPARE(path, std::string("/old/"));
    QCOMPARE(name, std::string("hint"));
    QCOMPARE(picker.restorePath(store, "InReq"), true);
    QCOMPARE(path, saved);
    QCOMPARE(name, std::string());

    // Paths up to the stored limit come back; longer ones are refused.
    const std::string longest = "/" + std::string(kMaxStoredPathLength - 2, 'p') + "/";
    store.writeString("InReq", longest);
    QCOMPARE(picker.restorePath(store, "InReq"), true);
    QCOMPARE(path, longest);
    store.writeString("InReq", longest + "x");
    QCOMPARE(picker.restorePath(store, "InReq"), false);
    QCOMPARE(path, longest);
  }
};

}  // namespace qf

QF_UI_TEST_MAIN(qf::TestFilePicker)
#include "tst_file_picker.moc"
