// The extract options, their texts and help, and the run they steer.

#include "MainWindow.h"

#include "Dialogs.h"
#include "ErrorTrap.h"
#include "ExtractionRun.h"
#include "OptionHelp.h"
#include "SettingsStore.h"
#include "ShortTitle.h"

#include <QLineEdit>

void MainWindow::PushButton2_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton2_Click"));
    trap.step(126, [this] { m_services.dialogs.message(ShortTitle::Get(), OptionHelpText(), Dialogs::Icon::None); });
}

void MainWindow::PushButton7_Click()
{
    m_run->PushButton7_Click();
}

void MainWindow::Option1_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("1"));
}

void MainWindow::Option2_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("2"));
}

void MainWindow::Option3_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("3"));
}

void MainWindow::Option4_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("4"));
}

void MainWindow::Text1_Change()
{
    saveSetting(QStringLiteral("Text1"), m_text1->text());
}

void MainWindow::Text2_Change()
{
    saveSetting(QStringLiteral("Text2"), m_text2->text());
}

void MainWindow::saveSetting(const QString& key, const QString& value)
{
    // These handlers have no error trap: a write the store refuses is simply not kept, and the
    // next change writes the whole value again.
    (void)m_services.settings.SaveSetting(key, value);
}
