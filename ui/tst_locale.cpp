#include <QPushButton>
#include <clocale>
#include <cstdlib>

#include "ui/main_dialog.h"
#include "ui/ui_test_support.h"

namespace qf {

// The program runs in the user's locale (QApplication adopts it), but the
// date and time symbols of compiled pages stay English.
class TestLocale : public QObject {
  Q_OBJECT

 private slots:
  void dateSymbolsAreEnglishInAGermanLocale() {
    const char* timeLocale = std::setlocale(LC_TIME, nullptr);
    if (!timeLocale || std::string_view(timeLocale).find("de_DE") == std::string_view::npos) {
      QSKIP("the de_DE.UTF-8 locale could not be built here (localedef missing?)");
    }
    TempDir site;
    const std::string page = site.write("page.src", "_WEEKDAY_ _DAY_ _MONTH_ _YEAR_\n");
    ScriptedFileDialog fileDialog;
    ScriptedMessageBox messageBox;
    ApplicationState state(fileDialog);
    MainDialog dialog(state, messageBox);
    dialog.batchRun().compiler().setClock([] { return std::time_t{1736942400}; });
    fileDialog.setNextAnswer(page);
    QTest::mouseClick(dialog.findChild<QPushButton*>("id1001"), Qt::LeftButton);
    QCOMPARE(messageBox.shown.size(), std::size_t{0});
    QCOMPARE(readFile(site / "page.html"), std::string("Wednesday 15 January 2025\n"));
  }
};

}  // namespace qf

// Builds a German locale in a temporary directory (no system files touched)
// and starts the application in it.
int main(int argc, char** argv) {
  qf::TempDir configHome;
  qf::TempDir locales;
  const std::string build =
      "localedef -i de_DE -f UTF-8 '" + locales.path() + "de_DE.UTF-8' >/dev/null 2>&1";
  if (std::system(build.c_str()) == 0) {
    qputenv("LOCPATH", locales.path().c_str());
    qputenv("LC_ALL", "de_DE.UTF-8");
    qputenv("LANG", "de_DE.UTF-8");
  }
  qputenv("TZ", "UTC");
  qputenv("XDG_CONFIG_HOME", configHome.path().c_str());
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  qf::TestLocale test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_locale.moc"
