#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <memory>

#include "ui/main_dialog.h"
#include "ui/ui_test_support.h"

namespace qf {

// Records the documents that the dialog asks the desktop to open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

// One run of the program: its state, its scripted dialogs and its main window.
struct ProgramRun {
  ScriptedFileDialog fileDialog;
  ScriptedMessageBox messageBox;
  ApplicationState state{fileDialog};
  MainDialog dialog{state, messageBox};

  template <typename T = QWidget>
  T* control(int id) {
    return dialog.findChild<T*>(QStringLiteral("id%1").arg(id));
  }
  QString text(int id) { return control<QLineEdit>(id)->text(); }
  void click(int id) { QTest::mouseClick(control<QAbstractButton>(id), Qt::LeftButton); }
};

class TestMainDialog : public QObject {
  Q_OBJECT

 private:
  static QWidget* nextTabStop(QWidget* widget) {
    do {
      widget = widget->nextInFocusChain();
    } while (!(widget->focusPolicy() & Qt::TabFocus));
    return widget;
  }

  static std::unique_ptr<QSettings> raw() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Ambervale",
                                       "Quillforge");
  }

 private slots:
  void init() { raw()->clear(); }

  // Without settings, and with stored values that cannot be used.
  void firstStartShowsTheDefaults_data() {
    QTest::addColumn<bool>("badValuesStored");
    QTest::newRow("nothing stored") << false;
    QTest::newRow("bad values stored") << true;
  }
  void firstStartShowsTheDefaults() {
    QFETCH(bool, badValuesStored);
    if (badValuesStored) {
      SettingsStore store("Ambervale", "Quillforge");
      store.writeString("UseOutDir", "yes");
      store.writeString("OutExt", std::string(100, 'x'));
      store.writeString("InReq", "/" + std::string(4095, 's'));
    }
    ProgramRun run;
    QCOMPARE(run.dialog.windowTitle(), QString("Quillforge 1.3a"));
    QVERIFY(!run.control<QCheckBox>(1010)->isChecked());
    QVERIFY(!run.control<QCheckBox>(1013)->isChecked());
    QVERIFY(!run.control(1008)->isEnabled());
    QVERIFY(run.control(1009)->isEnabled());
    QVERIFY(run.control(1019)->isEnabled());
    QCOMPARE(run.text(1006), QString());
    QCOMPARE(run.text(1008), QString());
    QCOMPARE(run.text(1011), QString());
    QCOMPARE(run.text(1019), QString(".html"));
    QCOMPARE(run.text(1015), QString("Idle"));
    QCOMPARE(run.control<QProgressBar>(1017)->value(), 0);
    QCOMPARE(run.control<QProgressBar>(1017)->maximum(), 100);
  }

  void controlsHaveTheirCaptionsInTabOrder() {
    ProgramRun run;
    struct Control {
      int id;
      const char* caption;
    };
    const Control kControls[] = {
        {1000, "Compile all files in Source directory"},
        {1001, "Select a single file to compile ..."},
        {1004, "Help"},
        {1005, "Quit"},
        {1006, nullptr},
        {1007, "Pick"},
        {1008, nullptr},
        {1009, "Pick"},
        {1010, "Use seperate output directory?"},
        {1011, nullptr},
        {1012, "Pick"},
        {1013, "Scan all sub-directories recursively?"},
        {1014, "About"},
        {1015, nullptr},
        {1019, nullptr},
    };
    QWidget* previous = nullptr;
    for (const Control& c : kControls) {
      QWidget* widget = run.control(c.id);
      QVERIFY2(widget, qPrintable(QString::number(c.id)));
      if (c.caption) {
        QCOMPARE(static_cast<QAbstractButton*>(widget)->text(), QString(c.caption));
      }
      if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QVERIFY(!button->isDefault() && !button->autoDefault());
      }
      QVERIFY(widget->focusPolicy() & Qt::TabFocus);
      if (previous) QCOMPARE(nextTabStop(previous), widget);
      previous = widget;
    }
    QStringList groups;
    for (const QGroupBox* group : run.dialog.findChildren<QGroupBox*>()) groups << group->title();
    groups.sort();
    QCOMPARE(groups,
             (QStringList{"Compile to HTML", "Global include file (.INC) directory  (optional)",
                          "Output file (.HTML) directory and Extension (optional)",
                          "Progress of compilation", "Source file (.SRC) directory"}));
  }

  void storedSettingsReappear() {
    SettingsStore store("Ambervale", "Quillforge");
    store.writeInt("MainWinX", -500);
    store.writeInt("MainWinY", -20);
    store.writeInt("UseOutDir", 7);
    store.writeInt("RecurseFolders", 1);
    store.writeString("OutExt", "htm");
    store.writeString("InReq", "/site/src/");
    store.writeString("OutReq", "/site/out/");
    store.writeString("IncReq", "/site/inc/");
    store.writeString("FileReq", "/site/src/page.src");
    {
      ProgramRun run;
      QCOMPARE(run.dialog.frameGeometry().topLeft(), QPoint(-8, -8));
      QVERIFY(run.control<QCheckBox>(1010)->isChecked());
      QVERIFY(run.control<QCheckBox>(1013)->isChecked());
      QVERIFY(run.control(1008)->isEnabled());
      QCOMPARE(run.text(1019), QString(".htm"));
      QCOMPARE(run.text(1006), QString("/site/src/"));
      QCOMPARE(run.text(1008), QString("/site/out/"));
      QCOMPARE(run.text(1011), QString("/site/inc/"));
      QCOMPARE(run.state.options.sourceFile, std::string("/site/src/page.src"));
      run.dialog.close();
    }
    QCOMPARE(raw()->value("UseOutDir").toInt(), 7);
    QCOMPARE(raw()->value("OutExt").toString(), QString(".htm"));
  }

  void closingWritesAllNineValues_data() {
    QTest::addColumn<bool>("byQuit");
    QTest::newRow("close box") << false;
    QTest::newRow("Quit") << true;
  }
  void closingWritesAllNineValues() {
    QFETCH(bool, byQuit);
    ProgramRun run;
    run.dialog.move(40, 50);
    run.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&run.dialog));
    run.fileDialog.setNextAnswer("/site/src/(all .src files in directory)");
    run.click(1007);
    run.fileDialog.setNextAnswer("/site/out/x.html");
    run.click(1009);
    run.fileDialog.setNextAnswer("/site/inc/a.inc");
    run.click(1012);
    run.click(1010);
    run.click(1013);
    QSignalSpy finished(&run.dialog, &QDialog::finished);
    const QPoint position = run.dialog.frameGeometry().topLeft();
    if (byQuit) {
      run.click(1005);
      QVERIFY(run.dialog.isVisible());  // the close request is handled after the click
    } else {
      run.dialog.close();
    }
    QTRY_VERIFY(!run.dialog.isVisible());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 0);

    const auto settings = raw();
    QCOMPARE(settings->allKeys().size(), 9);
    QCOMPARE(settings->value("MainWinX").toInt(), position.x());
    QCOMPARE(settings->value("MainWinY").toInt(), position.y());
    QCOMPARE(settings->value("UseOutDir").toInt(), 1);
    QCOMPARE(settings->value("RecurseFolders").toInt(), 1);
    QCOMPARE(settings->value("OutExt").toString(), QString(".html"));
    QCOMPARE(settings->value("InReq").toString(), QString("/site/src/"));
    QCOMPARE(settings->value("OutReq").toString(), QString("/site/out/"));
    QCOMPARE(settings->value("IncReq").toString(), QString("/site/inc/"));
    QCOMPARE(settings->value("FileReq").toString(), QString());
  }

  void escapeKeepsTheDialogOpen() {
    ProgramRun run;
    run.dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&run.dialog));
    QTest::keyClick(&run.dialog, Qt::Key_Escape);
    QTest::keyClick(run.control(1019), Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(run.dialog.isVisible());
    QVERIFY(raw()->allKeys().isEmpty());
  }

  void extensionFieldShowsTheNormalFormOnLeaving_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("without dot") << "htm"
                                 << ".htm";
    QTest::newRow("with dot") << ".txt"
                              << ".txt";
    QTest::newRow("one letter") << "x"
                                << ".x";
    QTest::newRow("lone dot") << "."
                              << ".html";
    QTest::newRow("empty") << ""
                           << ".html";
  }
  void extensionFieldShowsTheNormalFormOnLeaving() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    ProgramRun run;
    run.dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&run.dialog));
    auto* field = run.control<QLineEdit>(1019);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, typed);
    QCOMPARE(field->text(), typed);
    QCOMPARE(QString::fromStdString(run.state.options.outputExtension), shown);
    run.control(1000)->setFocus();
    QTRY_COMPARE(field->text(), shown);
  }

  void extensionFieldKeeps99Bytes() {
    ProgramRun run;
    run.dialog.editOutputExtension(QString(50, QChar(0xe9)));  // two bytes each in UTF-8
    QCOMPARE(run.state.options.outputExtension.length(), std::size_t{99});
  }

  void cancelledPickKeepsTheField() {
    ProgramRun run;
    run.fileDialog.setNextAnswer(std::nullopt);
    run.click(1007);
    QCOMPARE(run.text(1006), QString());
    run.fileDialog.setNextAnswer("/site/src/index.src");
    run.click(1007);
    QCOMPARE(run.text(1006), QString("/site/src/"));
    run.fileDialog.setNextAnswer(std::nullopt);
    run.click(1007);
    QCOMPARE(run.text(1006), QString("/site/src/"));
    QCOMPARE(run.fileDialog.requests[2].proposedPath,
             std::string("/site/src/(all .src files in directory)"));
  }

  void picksOfferTheirHints_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("hint");
    QTest::newRow("source") << 1007 << 1006 << "(all .src files in directory)";
    QTest::newRow("output") << 1009 << 1008 << "(directory for output .htm files)";
    QTest::newRow("include") << 1012 << 1011 << "(directory for header include files)";
  }
  void picksOfferTheirHints() {
    QFETCH(int, button);
    QFETCH(int, field);
    QFETCH(QString, hint);
    ProgramRun run;
    run.dialog.editOutputExtension("htm");
    run.fileDialog.setNextAnswer("/chosen/" + hint.toStdString());
    run.click(button);
    QCOMPARE(QString::fromStdString(run.fileDialog.requests.at(0).proposedPath), hint);
    QCOMPARE(run.fileDialog.requests.at(0).title, std::string("Open Directory"));
    QCOMPARE(run.text(field), QString("/chosen/"));
  }

  void pickersHaveTheirFilters() {
    ProgramRun run;
    struct PickerFilters {
      FilePicker* picker;
      std::vector<FileFilter> filters;
      int selected;
    };
    const FileFilter all{"All Files (*.*)", "*.*"};
    const FileFilter sources{"Text Source Files (*.src)", "*.src"};
    const PickerFilters kPickers[] = {
        {&run.state.sourceDirPicker, {all, sources}, 2},
        {&run.state.outputDirPicker,
         {all,
          {"HTML Files (*.html;*.htm)", "*.html;*.htm"},
          {"ASP Files (*.asp)", "*.asp"},
          {"TEXT Files (*.txt)", "*.txt"}},
         4},
        {&run.state.includeDirPicker, {all, {"Text Header Files (*.inc;*.src)", "*.src;*.inc"}}, 2},
        {&run.state.sourceFilePicker, {all, sources}, 2},
    };
    for (const PickerFilters& p : kPickers) {
      QCOMPARE(p.picker->filters(), p.filters);
      QCOMPARE(p.picker->filterIndex(), p.selected);
    }
  }

  void useOutputDirEnablesOnlyTheOutputField() {
    ProgramRun run;
    run.click(1010);
    QCOMPARE(run.state.options.useOutputDir, 1);
    QVERIFY(run.control(1008)->isEnabled());
    run.click(1010);
    QCOMPARE(run.state.options.useOutputDir, 0);
    QVERIFY(!run.control(1008)->isEnabled());
    QVERIFY(run.control(1009)->isEnabled());
    run.click(1013);
    QCOMPARE(run.state.options.recurseFolders, 1);
  }

  // Help opens the first manual it finds: one in the current directory wins
  // over the build's copy beside the program and the installed one.
  void helpOpensTheManualInTheCurrentDirectoryFirst() {
    TempDir work;
    const std::string manual = work.write("manual.html", "<html></html>\n");
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QString::fromStdString(work.path())));
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    ProgramRun run;
    run.click(1004);
    QDesktopServices::unsetUrlHandler("file");
    QDir::setCurrent(previous);
    QCOMPARE(recorder.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(manual))});
    QVERIFY(run.messageBox.shown.empty());
  }

  // Without a handler the offscreen platform opens nothing, and with an empty
  // PATH no other platform finds a browser either.
  void helpWithoutABrowserSaysWhereTheManualIs() {
    TempDir work;
    const std::string manual = work.write("manual.html", "<html></html>\n");
    const QString previous = QDir::currentPath();
    const QByteArray path = qgetenv("PATH");
    const QByteArray browser = qgetenv("BROWSER");
    QVERIFY(QDir::setCurrent(QString::fromStdString(work.path())));
    qputenv("PATH", work.path().c_str());
    qunsetenv("BROWSER");
    ProgramRun run;
    run.click(1004);
    qputenv("PATH", path);
    if (!browser.isNull()) qputenv("BROWSER", browser);
    QDir::setCurrent(previous);
    QCOMPARE(run.messageBox.shown.size(), std::size_t{1});
    QCOMPARE(run.messageBox.shown[0].text,
             "No web browser could be started to show the manual. It is here:\n\n" + manual);
    QCOMPARE(run.messageBox.shown[0].caption, std::string("Quillforge 1.3a"));
    QCOMPARE(run.messageBox.shown[0].buttons, MessageButtons::kOk);
  }

  // A long status or path shows from its start, during a run as after it.
  void fieldsShowLongTextsFromTheStart() {
    TempDir site;
    const std::string deep = "sec02/topic01/subtopic03/section04/part05/page.src";
    site.write(deep, "#include missing.inc\n");
    ProgramRun run;
    run.dialog.show();
    run.fileDialog.setNextAnswer(site.path() + "(all .src files in directory)");
    run.click(1007);
    run.click(1013);
    QString statusDuringRun;
    int cursorDuringRun = -1;
    run.messageBox.setNextAnswer(MessageAnswer::kAbort, [&] {
      statusDuringRun = run.text(1015);
      cursorDuringRun = run.control<QLineEdit>(1015)->cursorPosition();
    });
    run.click(1000);
    QCOMPARE(statusDuringRun, QString::fromStdString("Compiling " + deep));
    QCOMPARE(cursorDuringRun, 0);
    struct Field {
      int id;
      QString shown;
    };
    const Field kFields[] = {
        {1006, QString::fromStdString(site.path())},
        {1015, QString("Successfully Compiled 0 Files")},
    };
    for (const Field& field : kFields) {
      QCOMPARE(run.text(field.id), field.shown);
      QCOMPARE(run.control<QLineEdit>(field.id)->cursorPosition(), 0);
    }
  }

  void compileAllAnswersFailuresWithRetryIgnoreAndAbort() {
    TempDir site;
    site.write("a.src", "alpha\n");
    site.write("b.src", "#include missing.inc\n");
    site.write("c.src", "text\n#include \"c.inc\"\n");
    site.write("c.inc", "#include missing.inc\n");
    site.write("d.src", "#include missing.inc\n");
    site.write("e.src", "epsilon\n");
    ProgramRun run;
    run.fileDialog.setNextAnswer(site.path() + "(all .src files in directory)");
    run.click(1007);
    QCOMPARE(run.text(1006), QString::fromStdString(site.path()));

    run.messageBox.setNextAnswer(MessageAnswer::kRetry, [&] { site.write("b.src", "beta\n"); });
    run.messageBox.setNextAnswer(MessageAnswer::kIgnore);
    run.messageBox.setNextAnswer(MessageAnswer::kAbort);
    run.click(1000);

    QCOMPARE(run.messageBox.shown.size(), std::size_t{3});
    // The caption names the place; the text is the failure as qfc reports
    // it, include chain first.
    const std::string kChain[] = {"", "In file included from " + site / "c.src" + ":2:\n", ""};
    const char* kFailed[] = {"b.src", "c.inc", "d.src"};
    for (std::size_t i = 0; i < 3; ++i) {
      const ShownMessage& message = run.messageBox.shown[i];
      QCOMPARE(message.caption, site / kFailed[i] + " line 1");
      const std::string place = kChain[i] + site / kFailed[i] + ":1: Error: ";
      QVERIFY2(message.text.rfind(place, 0) == 0, message.text.c_str());
      QCOMPARE(message.buttons, MessageButtons::kAbortRetryIgnore);
    }
    QCOMPARE(run.text(1015), QString("Successfully Compiled 2 Files"));
    QCOMPARE(run.control<QProgressBar>(1017)->value(), 100);
    QCOMPARE(readFile(site / "a.html"), std::string("alpha\n"));
    QCOMPARE(readFile(site / "b.html"), std::string("beta\n"));
    QVERIFY(!pathExists(site / "e.html"));
  }

  void compileAllWithoutADirectorySaysSo() {
    ProgramRun run;
    run.click(1000);
    QCOMPARE(run.messageBox.shown.size(), std::size_t{1});
    QCOMPARE(run.messageBox.shown[0].text,
             std::string("You haven't specified a directory to search for files!"));
    QCOMPARE(run.messageBox.shown[0].caption, std::string("Quillforge 1.3a"));
    QCOMPARE(run.messageBox.shown[0].buttons, MessageButtons::kOk);
    QCOMPARE(run.text(1015), QString("Idle"));
  }

  void compileSingleWritesBesideTheSource() {
    TempDir site;
    const std::string page = site.write("sub/page.src", "page\n");
    ProgramRun run;
    run.dialog.editOutputExtension("htm");
    run.fileDialog.setNextAnswer(std::nullopt);
    run.click(1001);
    QCOMPARE(run.text(1015), QString("Idle"));
    run.fileDialog.setNextAnswer(page);
    run.click(1001);
    QCOMPARE(run.text(1015), QString("Successfully Compiled page.src"));
    QCOMPARE(run.control<QProgressBar>(1017)->value(), 100);
    QCOMPARE(readFile(site / "sub/page.htm"), std::string("page\n"));
    QCOMPARE(run.fileDialog.requests.at(1).title, std::string("Open File"));
    QCOMPARE(run.fileDialog.requests.at(1).filterIndex, 2);
    run.dialog.close();
    QCOMPARE(raw()->value("FileReq").toString(), QString::fromStdString(page));
  }

  void aboutOpensTheAboutBox() {
    ProgramRun run;
    run.dialog.show();
    QString seen;
    QTimer::singleShot(0, [&seen] {
      QWidget* about = QApplication::activeModalWidget();
      if (!about) return;
      seen = about->windowTitle();
      QTest::keyClick(about, Qt::Key_Escape);  // ignored
      about->close();
    });
    run.click(1014);
    QCOMPARE(seen, QString("About Quillforge"));
    QVERIFY(run.dialog.isVisible());
  }
};

}  // namespace qf

QF_UI_TEST_MAIN(qf::TestMainDialog)
#include "tst_main_dialog.moc"
