// The settings store on Windows, where the values live in the registry.

#include "SettingsStore.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace {

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quorvane\\QuilloryTest");

class RegistrySettings : public ::testing::Test
{
protected:
    void SetUp() override { QSettings(kKey, QSettings::NativeFormat).clear(); }
    void TearDown() override { QSettings(kKey, QSettings::NativeFormat).clear(); }
};

} // namespace

TEST_F(RegistrySettings, ValuesAreStringsUnderTheProgramsKeyAndComeBackAsWritten)
{
    const std::unique_ptr<SettingsStore> store = SettingsStore::InRegistry(kKey);
    EXPECT_EQ(store->GetSetting("Text1", "tr"), "tr");
    const QString awkward = QStringLiteral("a, b; \"c\" = d\\e \u00e9\u4e2d");
    for (const auto& [key, value] :
         {std::pair{"Option", QStringLiteral("3")}, std::pair{"Text1", awkward}, std::pair{"Text2", QString()}}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(store->SaveSetting(key, value).has_value());
        EXPECT_EQ(store->GetSetting(key, "default"), value);
        // As any Windows program reading the key sees it: a string value in the section's subkey.
        const QVariant stored = QSettings(kKey, QSettings::NativeFormat).value(QStringLiteral("Quillory/") + key);
        EXPECT_EQ(stored.typeId(), QMetaType::QString);
        EXPECT_EQ(stored.toString(), value);
    }
    // A second store over the same key sees them too.
    EXPECT_EQ(SettingsStore::InRegistry(kKey)->GetSetting("Option", "1"), "3");
}

TEST_F(RegistrySettings, AValueThatIsNotAStringReadsAsTheDefault)
{
    QSettings registry(kKey, QSettings::NativeFormat);
    registry.setValue(QStringLiteral("Quillory/Option"), 7);
    registry.setValue(QStringLiteral("Quillory/Text1"), QByteArray("\x01\x02", 2));
    registry.sync();
    const std::unique_ptr<SettingsStore> store = SettingsStore::InRegistry(kKey);
    EXPECT_EQ(store->GetSetting("Option", "1"), "1");
    EXPECT_EQ(store->GetSetting("Text1", "tr"), "tr");
    // Writing over the damage mends it.
    EXPECT_FALSE(store->SaveSetting("Option", "2").has_value());
    EXPECT_EQ(store->GetSetting("Option", "1"), "2");
}
