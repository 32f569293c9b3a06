#include "base/appsettings.h"
#include "commands/tformbuttonssetup.h"
#include "commands/tioform.h"
#include "link/tcomportsettingsform.h"
#include "shell/appinfo.h"
#include "shell/programcore.h"
#include "shell/programpaths.h"
#include "shell/singleinstance.h"
#include "shell/taboutbox.h"
#include "shell/tconsoleform.h"
#include "shell/terminationsignals.h"
#include "shell/tmainform.h"
#include "shell/tsettingsform.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

#include <memory>

// The program ignores its command line and ends with exit code 0 in every case.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KDM"));
    QApplication::setApplicationVersion(AppInfo::Version);
    QApplication::setQuitOnLastWindowClosed(false);

    // SIGTERM and SIGINT close whatever is on screen in order, from the first moment on.
    TerminationSignals termination;

    const ProgramPaths paths =
        resolveProgramPaths(QApplication::applicationFilePath(),
                            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));

    const bool allowMultiple = readAllowMultiple(paths.IniFileName);
    SingleInstanceGuard guard(QDir::tempPath());
    if (!guard.acquire() && !allowMultiple) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Ошибка запуска"),
                        QStringLiteral("Программа уже запущена"), QMessageBox::Ok);
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &box,
                         &QDialog::reject);
        qWarning("KDM: another instance is running");
        box.exec();
        return 0;
    }

    // The seven windows, in this order: the console reads a check mark of the main window, the
    // buttons setup dialog copies the main window's button records.
    auto mainForm = std::make_unique<TMainForm>(paths);
    if (const QString error = mainForm->initialise(); !error.isEmpty()) {
        // Nothing runs: no timer, no poll, the port unopened. The box says why; closing it (or a
        // termination signal) ends the program.
        qWarning("KDM: %s", qUtf8Printable(error));
        QMessageBox box(QMessageBox::Critical, AppInfo::Title, error, QMessageBox::Ok);
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &box,
                         &QDialog::reject);
        box.exec();
        mainForm->core().FormClose();
        return 0;
    }
    auto* consoleForm = new TConsoleForm(mainForm->showConsoleAction(), mainForm.get());
    mainForm->setConsoleForm(consoleForm);
    consoleForm->FormCreate(loadConsoleBounds(paths.IniFileName));
    mainForm->setPortSettingsForm(new TCOMportSettingsForm(mainForm.get()));
    new TFormButtonsSetup(mainForm.get());
    mainForm->setAboutBox(new TAboutBox(mainForm.get()));
    new TSettingsForm(mainForm.get());
    mainForm->setIOForm(new TIOForm(mainForm.get()));

    // A second signal while the close waits on a message box ends the program at once.
    QObject::connect(&termination, &TerminationSignals::terminationRequested, mainForm.get(),
                     [form = mainForm.get()] {
                         if (form->isClosed())
                             QApplication::exit(0);
                         else
                             form->close();
                     });

    mainForm->show();
    QApplication::exec();
    return 0;
}
