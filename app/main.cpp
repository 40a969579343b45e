// Quillory: pulls HTML tags, or the data between tags, out of a list of files.

#include "ClipboardHandOver.h"
#include "EventPump.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "MainWindow.h"
#include "QtClipboard.h"
#include "QtDialogs.h"
#include "QtShell.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

namespace {

// An installed program keeps its samples and optional files in share/quillory beside its bin folder.
QString InstalledDataFolder()
{
    const QString folder = QDir::cleanPath(FileNames::programFolder() + QStringLiteral("/../share/quillory"));
    return FileAttributes(folder) != -1 ? folder : QString();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    // The desktop matches the window to its menu entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quorvane.Quillory"));

    // The real services, created here and nowhere else.
    SettingsStore settings;
    QtEventPump events;
    QtDialogs dialogs(nullptr);
    QtClipboard clipboard;
    QtShell shell;
    QWidget* shownWindow = nullptr;
    bool ending = false;
    WindowServices services{dialogs,
                            clipboard,
                            shell,
                            settings,
                            events,
                            [&] {
                                // A close that arrives while the clipboard is being handed over
                                // lets that hand-over finish; the program ends right after it.
                                if (ending)
                                    return;
                                ending = true;
                                // The window goes at once. Only the text the program copied to the
                                // clipboard keeps it alive a moment longer, until the desktop's
                                // clipboard manager has a copy: the text would go with the program.
                                if (shownWindow)
                                    shownWindow->hide();
                                HandClipboardToManager(events);
                                // Every setting is written when it changes: nothing is left to
                                // save, and whatever is running stops where it stands.
                                std::fflush(nullptr);
                                std::_Exit(0);
                            },
                            // Spelled as the system spells it, so that a folder whose name is not
                            // UTF-8 still leads to the files beside the program.
                            FileNames::programFolder(),
                            {},
                            {},
                            InstalledDataFolder()};

    MainWindow window(services);
    shownWindow = &window;
    dialogs.setParent(&window);
    window.Form_Load();
    // Files handed to the program ("Open with", a launcher's %F) join the list as if dropped on it.
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given << FileNames::fromCommandLine(argv[i]);
    window.AddGivenPaths(given);
    if (const QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return application.exec();
}
