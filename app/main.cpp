// Quillory: pulls HTML tags, or the data between tags, out of a list of files.

#include "EventPump.h"
#include "MainWindow.h"
#include "QtClipboard.h"
#include "QtDialogs.h"
#include "QtShell.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));

    // The real services, created here and nowhere else.
    SettingsStore settings;
    QtEventPump events;
    QtDialogs dialogs(nullptr);
    QtClipboard clipboard;
    QtShell shell;
    WindowServices services{dialogs,
                            clipboard,
                            shell,
                            settings,
                            events,
                            [] {
                                // Every setting is written when it changes: nothing is left to
                                // save, and whatever is running stops where it stands.
                                std::fflush(nullptr);
                                std::_Exit(0);
                            },
                            QApplication::applicationDirPath()};

    MainWindow window(services);
    dialogs.setParent(&window);
    window.Form_Load();
    if (const QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return application.exec();
}
